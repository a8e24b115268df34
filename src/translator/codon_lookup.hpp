#pragma once

#include <array>
#include <cstdint>

#include "tables/genetic_codes.hpp"

namespace ntpepmap {

// What the back-translation needs to know about one peptide letter.
struct CodonLookupEntry {
    const CodonList* codons = nullptr;  // nullptr: the table has no such letter
    std::uint64_t plain_codons = 0;     // bit k set: TCAG codon number k is in `codons`
};

// A codon table indexed by byte, built once per call so that the per-residue
// lookup is one array access. Borrows the lists of the table it was built from.
// The gap '-' has no entry, so it never counts as a plain codon's residue.
class CodonLookup {
public:
    explicit CodonLookup(const CodonTable& table);

    const CodonLookupEntry& operator[](unsigned char letter) const noexcept { return entries_[letter]; }

private:
    std::array<CodonLookupEntry, 256> entries_{};
};

// TCAG number of a plain upper-case base, or NOT_A_BASE.
inline constexpr std::uint8_t NOT_A_BASE = 0x40;
inline constexpr std::array<std::uint8_t, 256> BASE_NUMBER = [] {
    std::array<std::uint8_t, 256> numbers{};
    numbers.fill(NOT_A_BASE);
    numbers['T'] = 0;
    numbers['C'] = 1;
    numbers['A'] = 2;
    numbers['G'] = 3;
    return numbers;
}();

// TCAG codon number (0..63) of three bytes, or a value >= 64 when any byte is not a plain base.
inline constexpr unsigned codon_number(unsigned char first, unsigned char second, unsigned char third) noexcept {
    const unsigned a = BASE_NUMBER[first], b = BASE_NUMBER[second], c = BASE_NUMBER[third];
    return a << 4 | b << 2 | c;  // NOT_A_BASE keeps a bit above 63 wherever it is shifted to
}

}  // namespace ntpepmap
