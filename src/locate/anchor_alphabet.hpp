#pragma once

#include <algorithm>
#include <array>
#include <cstdint>

#include "translator/codon_lookup.hpp"

namespace ntpepmap::locate {

// Small integer codes under which a codon and a residue are equal only when the codon is
// one of the residue's own plain codons, and always equal when it is (for residues that
// have a code). Anchors compare codes, so an exact anchor never needs the codon lists.
//
// Each plain codon belongs to the letter with the fewest codons that lists it (so N and D
// keep theirs under B, which lists both); a letter gets a code when it owns every codon it
// lists. Letters without a code (X, B, J, Z, letters without plain codons) never anchor.
class AnchorAlphabet {
public:
    static constexpr std::uint8_t NO_CODE = 0xFF;
    static constexpr unsigned MAX_SIZE = 32;

    explicit AnchorAlphabet(const CodonLookup& table);

    // The code of a codon number as codon_number() gives it (>= 64: not three plain bases).
    std::uint8_t codon_code(unsigned number) const noexcept { return codon_codes_[std::min(number, 64u)]; }
    std::uint8_t residue_code(unsigned char residue) const noexcept { return residue_codes_[residue]; }
    // The code of every byte as a residue, for loops that store codes.
    const std::array<std::uint8_t, 256>& residue_codes() const noexcept { return residue_codes_; }
    // Codes run from 0 to size() - 1.
    unsigned size() const noexcept { return size_; }

private:
    std::array<std::uint8_t, 65> codon_codes_{};
    std::array<std::uint8_t, 256> residue_codes_{};
    unsigned size_ = 0;
};

}  // namespace ntpepmap::locate
