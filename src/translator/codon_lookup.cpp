#include "translator/codon_lookup.hpp"

namespace ntpepmap {

namespace {

constexpr char32_t GAP = U'-';

// Codons spelt with three plain upper-case bases; anything else takes the slow path.
std::uint64_t plain_codon_mask(const CodonList& codons) noexcept {
    std::uint64_t mask = 0;
    for (const std::string& codon : codons) {
        if (codon.size() != 3) continue;
        const unsigned number = codon_number(static_cast<unsigned char>(codon[0]), static_cast<unsigned char>(codon[1]),
                                             static_cast<unsigned char>(codon[2]));
        if (number < 64) mask |= std::uint64_t{1} << number;
    }
    return mask;
}

}  // namespace

CodonLookup::CodonLookup(const CodonTable& table) {
    // A streamlined peptide row is ASCII, so no other key is ever asked for. A gap is never
    // looked up, whatever the table holds for '-': its empty entry ends every run of plain
    // codons there, so a run cannot swallow a gap and the triplet after it.
    for (const auto& [letter, codons] : table) {
        if (letter >= 0x80 || letter == GAP) continue;
        entries_[letter] = CodonLookupEntry{&codons, plain_codon_mask(codons)};
    }
}

}  // namespace ntpepmap
