#include "locate/anchor_index.hpp"

#include <algorithm>

namespace ntpepmap::locate {

AnchorIndex::AnchorIndex(const AnchorAlphabet& alphabet)
    : alphabet_(alphabet), heads_(std::size_t{alphabet.size()} * alphabet.size() * alphabet.size()) {}

std::size_t AnchorIndex::read(std::string_view protein) {
    if (++protein_ == 0) {
        // The stamps wrapped around: old entries could pass for this protein's.
        std::fill(heads_.begin(), heads_.end(), Head{});
        protein_ = 1;
    }
    residues_.resize(protein.size());
    codes_.resize(protein.size());
    // Locals: byte stores may alias any member.
    char* const residues = residues_.data();
    std::uint8_t* const codes = codes_.data();
    const std::uint8_t* const code_of = alphabet_.residue_codes().data();
    // Every byte is stored; a gap is overwritten by what follows it. Gaps have no code either.
    // Codes are below 128 and NO_CODE is not, so its top bit counts the residues without one.
    static_assert(AnchorAlphabet::MAX_SIZE <= 128 && AnchorAlphabet::NO_CODE >= 128);
    std::size_t kept = 0, without_code = 0;
    for (const char letter : protein) {
        const std::uint8_t code = code_of[static_cast<unsigned char>(letter)];
        residues[kept] = letter;
        codes[kept] = code;
        without_code += code >> 7;
        kept += static_cast<std::size_t>(letter != '-');
    }
    residues_.resize(kept);
    codes_.resize(kept);
    return without_code - (protein.size() - kept);
}

void AnchorIndex::build(std::size_t stride) {
    if (codes_.size() < ANCHOR_RESIDUES || !fits()) return;
    previous_.resize(codes_.size());
    // Locals: the stores below could otherwise be taken to change the members they come from.
    Head* const heads = heads_.data();
    std::uint32_t* const previous = previous_.data();
    const std::uint8_t* const codes = codes_.data();
    const std::uint32_t protein = protein_;
    const std::size_t alphabet_size = alphabet_.size();
    const std::size_t last_start = codes_.size() - ANCHOR_RESIDUES;
    for (std::size_t start = 0; start <= last_start; start += stride) {
        const std::size_t key = anchor_key(alphabet_size, codes[start], codes[start + 1], codes[start + 2]);
        if (key == NO_KEY) continue;
        Head& head = heads[key];
        previous[start] = head.protein == protein ? head.last : NONE;
        head = Head{protein, static_cast<std::uint32_t>(start)};
    }
}

}  // namespace ntpepmap::locate
