#include "locate/anchor_index.hpp"

#include <algorithm>

namespace ntpepmap::locate {

AnchorIndex::AnchorIndex(const AnchorAlphabet& alphabet)
    : alphabet_(alphabet), heads_(std::size_t{alphabet.size()} * alphabet.size() * alphabet.size()) {}

std::size_t AnchorIndex::build(std::string_view residues) {
    indexed_ = false;
    if (++protein_ == 0) {
        // The stamps wrapped around: old entries could pass for this protein's.
        std::fill(heads_.begin(), heads_.end(), Head{});
        protein_ = 1;
    }
    const bool fits = residues.size() < NONE;
    if (fits) previous_.resize(residues.size());
    // Locals: the stores below could otherwise be taken to change the members they come from.
    Head* const heads = heads_.data();
    std::uint32_t* const previous = previous_.data();
    const std::uint32_t protein = protein_;
    const std::size_t alphabet_size = alphabet_.size();
    const std::size_t square = alphabet_size * alphabet_size;
    std::size_t without_code = 0;
    // The key of the three codes ending here, rolled on from the two before; a missing code
    // counts as 0, and the run of codes since the last missing one says whether the key
    // stands for a real anchor.
    std::size_t pair = 0, run = 0;          // pair: the two codes before this one, as a key of two
    std::uint8_t oldest = 0, latest = 0;  // those two codes
    for (std::size_t position = 0; position < residues.size(); ++position) {
        const std::uint8_t code = alphabet_.residue_code(static_cast<unsigned char>(residues[position]));
        const bool missing = code == AnchorAlphabet::NO_CODE;
        const std::uint8_t newest = missing ? 0 : code;
        without_code += missing;
        run = missing ? 0 : run + 1;
        const std::size_t key = pair * alphabet_size + newest;
        pair = key - oldest * square;
        oldest = latest;
        latest = newest;
        if (!fits || run < ANCHOR_RESIDUES) continue;
        // The anchor ends here and starts two residues back.
        const auto start = static_cast<std::uint32_t>(position - 2);
        Head& head = heads[key];
        previous[start] = head.protein == protein ? head.last : NONE;
        head = Head{protein, start};
    }
    indexed_ = fits;
    return without_code;
}

}  // namespace ntpepmap::locate
