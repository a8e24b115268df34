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
    // Locals, so that the stores below cannot be taken to change them.
    const std::uint8_t* const codes = residue_codes.data();
    std::uint32_t* const heads = heads_.data();
    Sample* const samples = samples_.data();
    const std::size_t alphabet_size = alphabet_.size();
    std::size_t used = 0;
    for (std::size_t position = 0; position + ANCHOR_RESIDUES <= residue_codes.size(); position += stride) {
        const std::size_t key = anchor_key(alphabet_size, codes[position], codes[position + 1], codes[position + 2]);
        if (key == NO_KEY) continue;
        samples[used] = Sample{static_cast<std::uint32_t>(position), heads[key], key};
        heads[key] = static_cast<std::uint32_t>(used++);
    }
    used_ = used;  // nothing above throws, so clear() will find every head set
    return true;
}

}  // namespace ntpepmap::locate
