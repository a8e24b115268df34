#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "locate/anchor_alphabet.hpp"

namespace ntpepmap::locate {

// Residues per anchor: three keep the key table small enough to stay in cache
// (at most 32^3 entries); a random probe then hits about one time in ten for a protein
// of a thousand residues, and each such hit is dropped after about tolerance + 1
// residues of verification.
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

// The positions of a protein, every stride-th one, by the key of the anchor that starts
// there. Direct addressing, no hashing; the key table is kept from protein to protein, its
// entries stamped with the protein they belong to, so nothing needs clearing.
class AnchorIndex {
public:
    explicit AnchorIndex(const AnchorAlphabet& alphabet);

    // Takes a new protein, gaps '-' left out, and its residues' codes; returns how many
    // residues have none (and so are in no anchor). Nothing is indexed yet.
    std::size_t read(std::string_view protein);
    // The residues of the protein read last, and their codes.
    std::string_view residues() const noexcept { return residues_; }
    const std::vector<std::uint8_t>& codes() const noexcept { return codes_; }
    // Whether the protein read last is short enough for 32-bit positions; build() needs it.
    bool fits() const noexcept { return codes_.size() < NONE; }
    // Indexes the anchors of the protein read last that start at a multiple of `stride`.
    void build(std::size_t stride);

    // Calls visit(position) for every indexed position whose anchor has this key.
    template <typename Visit>
    void for_each_position(std::size_t key, Visit&& visit) const {
        const Head& head = heads_[key];
        if (head.protein != protein_) return;
        for (std::uint32_t position = head.last; position != NONE; position = previous_[position]) visit(position);
    }

private:
    static constexpr std::uint32_t NONE = std::numeric_limits<std::uint32_t>::max();
    struct Head {
        std::uint32_t protein = 0;  // the protein the entry was set for; stale entries are empty
        std::uint32_t last = NONE;  // the last position with this key
    };

    const AnchorAlphabet& alphabet_;
    std::vector<Head> heads_;              // by key
    std::string residues_;                 // the protein without gaps
    std::vector<std::uint8_t> codes_;      // by position: the residue's code
    std::vector<std::uint32_t> previous_;  // by indexed position: the previous one with the same key, or NONE
    std::uint32_t protein_ = 0;
};

}  // namespace ntpepmap::locate
