#include "locate/anchor_index.hpp"

namespace ntpepmap::locate {

AnchorIndex::AnchorIndex(const AnchorAlphabet& alphabet)
    : alphabet_(alphabet), heads_(std::size_t{alphabet.size()} * alphabet.size() * alphabet.size(), NONE) {}

void AnchorIndex::clear() noexcept {
    for (const Sample& sample : samples_) heads_[sample.key] = NONE;
    samples_.clear();
}

bool AnchorIndex::build(std::string_view residues, std::size_t stride) {
    clear();
    if (residues.size() >= NONE) return false;
    const auto code = [&](std::size_t position) {
        return alphabet_.residue_code(static_cast<unsigned char>(residues[position]));
    };
    for (std::size_t position = 0; position + ANCHOR_RESIDUES <= residues.size(); position += stride) {
        const std::size_t key = anchor_key(alphabet_, code(position), code(position + 1), code(position + 2));
        if (key == NO_KEY) continue;
        // Recorded before the head points at it, so that clear() finds every head set.
        samples_.push_back(Sample{static_cast<std::uint32_t>(position), heads_[key], key});
        heads_[key] = static_cast<std::uint32_t>(samples_.size() - 1);
    }
    return true;
}

}  // namespace ntpepmap::locate
