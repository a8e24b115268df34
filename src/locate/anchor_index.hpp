#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "locate/anchor_alphabet.hpp"
#include "locate/uncoded_residues.hpp"

namespace ntpepmap::locate {

// Residues per anchor: three keep the key table small enough to stay in cache
// (at most 32^3 entries); a random probe then hits about one time in ten for a protein
// of a thousand residues, and each such hit is dropped after about tolerance + 1
// residues of verification.
inline constexpr std::size_t ANCHOR_RESIDUES = 3;

// The key of three codes of an alphabet of `alphabet_size` codes: below alphabet_size^3, or
// no_key(alphabet_size) when one of them is AnchorAlphabet::NO_CODE.
inline constexpr std::size_t no_key(std::size_t alphabet_size) noexcept {
    return alphabet_size * alphabet_size * alphabet_size;
}
inline std::size_t anchor_key(std::size_t alphabet_size, std::uint8_t first, std::uint8_t second,
                              std::uint8_t third) noexcept {
    // Codes are below 128 and NO_CODE is not: one test for the three.
    static_assert(AnchorAlphabet::MAX_SIZE <= 128 && AnchorAlphabet::NO_CODE >= 128);
    const bool coded = ((first | second | third) & 0x80u) == 0;
    return coded ? (first * alphabet_size + second) * alphabet_size + third : no_key(alphabet_size);
}

// The positions of a protein, every stride-th one, by the key of the anchor that starts
// there. Direct addressing, no hashing; the key table is kept from protein to protein, its
// entries stamped with the protein they belong to, so nothing needs clearing.
class AnchorIndex {
public:
    explicit AnchorIndex(const AnchorAlphabet& alphabet);

    // Takes a new protein, gaps '-' left out. Nothing is indexed yet.
    void read(std::string_view protein);
    // How many residues of the protein read last have no code (and so are in no anchor).
    std::size_t uncoded() const noexcept { return uncoded_.count(residues()); }
    // The residues of the protein read last.
    std::string_view residues() const noexcept { return {residues_.data(), residue_count_}; }
    // The code of the residue at `position` of the protein read last.
    std::uint8_t code(std::size_t position) const noexcept {
        return alphabet_.residue_code(static_cast<unsigned char>(residues_[position]));
    }
    // Whether the protein read last is short enough for 32-bit positions; build() needs it.
    bool fits() const noexcept { return residue_count_ < NONE; }
    // Indexes the anchors of the protein read last that start at a multiple of `stride`,
    // replacing what was indexed before.
    void build(std::size_t stride);

    // Calls visit(position) for every indexed position whose anchor has this key (none for
    // no_key()).
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
    UncodedResidues uncoded_;
    std::vector<Head> heads_;              // by key, and one for no_key() that stays empty
    std::string residues_;                 // the protein without gaps, then room for whole-block copies
    std::size_t residue_count_ = 0;
    std::vector<std::uint32_t> previous_;  // by indexed position: the previous one with the same key, or NONE
    std::uint32_t protein_ = 0;
};

}  // namespace ntpepmap::locate
