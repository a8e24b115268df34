#include "locate/anchor_index.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace ntpepmap::locate {

namespace {

constexpr std::size_t BLOCK = 16;

// Bit k set when byte k of the sixteen from `bytes` is not a gap.
unsigned residue_mask(const char* bytes) noexcept {
#if defined(__SSE2__)
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
    return ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(block, _mm_set1_epi8('-')))) & 0xFFFFu;
#else
    unsigned mask = 0;
    for (unsigned k = 0; k < BLOCK; ++k) mask |= static_cast<unsigned>(bytes[k] != '-') << k;
    return mask;
#endif
}

// Copies the letters of `row` but its gaps to `out`, which has room for the row and one
// block more; returns how many it copied. Gaps come in runs, so the row is copied a run of
// residues at a time, each with one block-wide move; the last blocks one letter at a time,
// so that no read passes the row's end.
std::size_t copy_residues(std::string_view row, char* out) noexcept {
    const char* const letters = row.data();
    std::size_t kept = 0;
    std::size_t column = 0;
    for (; column + 2 * BLOCK <= row.size(); column += BLOCK) {
        unsigned residues = residue_mask(letters + column);
        while (residues != 0) {
            const auto start = static_cast<unsigned>(std::countr_zero(residues));
            std::memcpy(out + kept, letters + column + start, BLOCK);
            kept += static_cast<unsigned>(std::countr_one(residues >> start));
            // Adding the run's first bit carries through the run: what is left is the rest.
            residues &= residues + (1u << start);
        }
    }
    for (; column < row.size(); ++column) {
        out[kept] = letters[column];
        kept += static_cast<std::size_t>(letters[column] != '-');
    }
    return kept;
}

}  // namespace

AnchorIndex::AnchorIndex(const AnchorAlphabet& alphabet)
    : alphabet_(alphabet), uncoded_(alphabet), heads_(no_key(alphabet.size()) + 1) {}

void AnchorIndex::read(std::string_view protein) {
    if (residues_.size() < protein.size() + BLOCK) residues_.resize(protein.size() + BLOCK);
    residue_count_ = copy_residues(protein, residues_.data());
}

void AnchorIndex::build(std::size_t stride) {
    if (++protein_ == 0) {
        // The stamps wrapped around: old entries could pass for this index's.
        std::fill(heads_.begin(), heads_.end(), Head{});
        protein_ = 1;
    }
    if (residue_count_ < ANCHOR_RESIDUES || !fits()) return;
    if (previous_.size() < residue_count_) previous_.resize(residue_count_);
    // Locals: the stores below could otherwise be taken to change the members they come from.
    Head* const heads = heads_.data();
    std::uint32_t* const previous = previous_.data();
    const auto* const residues = reinterpret_cast<const unsigned char*>(residues_.data());
    const std::uint8_t* const code_of = alphabet_.residue_codes().data();
    const std::uint32_t protein = protein_;
    const std::size_t alphabet_size = alphabet_.size();
    const std::size_t without_key = no_key(alphabet_size);
    const std::size_t last_start = residue_count_ - ANCHOR_RESIDUES;
    for (std::size_t start = 0; start <= last_start; start += stride) {
        const std::size_t key = anchor_key(alphabet_size, code_of[residues[start]], code_of[residues[start + 1]],
                                           code_of[residues[start + 2]]);
        if (key == without_key) continue;
        Head& head = heads[key];
        previous[start] = head.protein == protein ? head.last : NONE;
        head.protein = protein;
        head.last = static_cast<std::uint32_t>(start);
    }
}

}  // namespace ntpepmap::locate
