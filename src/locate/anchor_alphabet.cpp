#include "locate/anchor_alphabet.hpp"

#include <bit>

namespace ntpepmap::locate {

namespace {

constexpr unsigned NO_OWNER = 256;

// The letter with the fewest codons that lists the codon; none when two such letters tie.
unsigned owner_of(const CodonLookup& table, unsigned codon) noexcept {
    unsigned owner = NO_OWNER;
    int fewest = 65;
    bool tied = false;
    for (unsigned letter = 0; letter < 256; ++letter) {
        const std::uint64_t codons = table[static_cast<unsigned char>(letter)].plain_codons;
        if ((codons >> codon & 1u) == 0) continue;
        const int count = std::popcount(codons);
        if (count < fewest) {
            fewest = count;
            owner = letter;
            tied = false;
        } else if (count == fewest) {
            tied = true;
        }
    }
    return tied ? NO_OWNER : owner;
}

}  // namespace

AnchorAlphabet::AnchorAlphabet(const CodonLookup& table) {
    std::array<unsigned, 64> owners{};
    for (unsigned codon = 0; codon < 64; ++codon) owners[codon] = owner_of(table, codon);

    residue_codes_.fill(NO_CODE);
    for (unsigned letter = 0; letter < 256 && size_ < MAX_SIZE; ++letter) {
        const std::uint64_t codons = table[static_cast<unsigned char>(letter)].plain_codons;
        if (codons == 0) continue;
        bool owns_all = true;
        for (unsigned codon = 0; codon < 64; ++codon) {
            if ((codons >> codon & 1u) != 0 && owners[codon] != letter) owns_all = false;
        }
        if (owns_all) residue_codes_[letter] = static_cast<std::uint8_t>(size_++);
    }

    codon_codes_.fill(NO_CODE);
    for (unsigned codon = 0; codon < 64; ++codon) {
        if (owners[codon] != NO_OWNER) codon_codes_[codon] = residue_codes_[owners[codon]];
    }
}

}  // namespace ntpepmap::locate
