#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <span>
#include <vector>

#include "locate/anchor_alphabet.hpp"

namespace ntpepmap::locate {

// Residues per anchor: three keep the key table small enough to stay in cache
// (at most 32^3 entries); random anchors are then a few percent of the probes, and
// each is dropped after about tolerance + 1 residues of verification.
inline constexpr std::size_t ANCHOR_RESIDUES = 3;

// The key of three codes of an alphabet of `alphabet_size` codes, or NO_KEY when one of
// them is AnchorAlphabet::NO_CODE.
inline constexpr std::size_t NO_KEY = std::numeric_limits<std::size_t>::max();
inline std::size_t anchor_key(std::size_t alphabet_size, std::uint8_t first, std::uint8_t second,
                              std::uint8_t third) noexcept {
    constexpr std::uint8_t NONE = AnchorAlphabet::NO_CODE;
    if (first == NONE || second == NONE || third == NONE) return NO_KEY;
    return (first * alphabet_size + second) * alphabet_size + third;
}

// Protein positions 0, stride, 2 * stride, ... by the key of the anchor that starts there.
// Direct addressing, no hashing; the key table is reused from protein to protein and only
// the entries one protein set are cleared for the next.
class AnchorIndex {
public:
    explicit AnchorIndex(const AnchorAlphabet& alphabet);

    // Indexes the protein given as its residues' codes (AnchorAlphabet::residue_code).
    // False, and nothing indexed, for a protein too long for 32-bit positions.
    bool build(std::span<const std::uint8_t> residue_codes, std::size_t stride);

    // Calls visit(position) for every indexed position whose anchor has this key.
    template <typename Visit>
    void for_each_position(std::size_t key, Visit&& visit) const {
        for (std::uint32_t sample = heads_[key]; sample != NONE; sample = samples_[sample].next) {
            visit(std::size_t{samples_[sample].position});
        }
    }

private:
    static constexpr std::uint32_t NONE = std::numeric_limits<std::uint32_t>::max();
    struct Sample {
        std::uint32_t position;
        std::uint32_t next;  // the previous sample with the same key, or NONE
        std::size_t key;
    };

    void clear() noexcept;

    const AnchorAlphabet& alphabet_;
    std::vector<std::uint32_t> heads_;  // by key: the last sample indexed with it, or NONE
    std::vector<Sample> samples_;       // the first `used_` are this protein's
    std::size_t used_ = 0;
};

}  // namespace ntpepmap::locate
