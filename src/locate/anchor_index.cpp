#include "locate/anchor_index.hpp"

namespace ntpepmap::locate {

AnchorIndex::AnchorIndex(const AnchorAlphabet& alphabet)
    : alphabet_(alphabet), heads_(std::size_t{alphabet.size()} * alphabet.size() * alphabet.size(), NONE) {}

void AnchorIndex::clear() noexcept {
    for (std::size_t sample = 0; sample < used_; ++sample) heads_[samples_[sample].key] = NONE;
    used_ = 0;
}

bool AnchorIndex::build(std::span<const std::uint8_t> residue_codes, std::size_t stride) {
    clear();
    if (residue_codes.size() >= NONE) return false;
    samples_.resize(residue_codes.size() / stride + 1);
    const std::uint8_t* codes = residue_codes.data();
    for (std::size_t position = 0; position + ANCHOR_RESIDUES <= residue_codes.size(); position += stride) {
        const std::size_t key = anchor_key(alphabet_, codes[position], codes[position + 1], codes[position + 2]);
        if (key == NO_KEY) continue;
        // Counted before the head points at it, so that clear() finds every head set.
        samples_[used_++] = Sample{static_cast<std::uint32_t>(position), heads_[key], key};
        heads_[key] = static_cast<std::uint32_t>(used_ - 1);
    }
    return true;
}

}  // namespace ntpepmap::locate
