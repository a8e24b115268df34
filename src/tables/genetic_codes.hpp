#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace ntpepmap {

// An ordered codon list: the order is part of the content (earliest match wins).
using CodonList = std::vector<std::string>;
// Peptide letter (a Unicode scalar value) to its codons.
using CodonTable = std::unordered_map<char32_t, CodonList>;
using TableNumber = std::int32_t;

// Codons are numbered 16*r(first) + 4*r(second) + r(third) with r(T)=0, r(C)=1, r(A)=2, r(G)=3.
inline constexpr std::string_view TCAG_BASES = "TCAG";
inline constexpr std::string_view AMINO_ACIDS_AND_STOP = "ACDEFGHIKLMNPQRSTVWY*";

struct GeneticCodeDefinition {
    TableNumber number;
    // One letter (an amino acid or '*') per codon, codons in TCAG order.
    std::string_view amino_acids;
};

// The built-in genetic codes, numbered as NCBI numbers its translation tables (names as NCBI gives them).
inline constexpr std::array<GeneticCodeDefinition, 27> GENETIC_CODES{{
    {1, "FFLLSSSSYY**CC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Standard
    {2, "FFLLSSSSYY**CCWWLLLLPPPPHHQQRRRRIIMMTTTTNNKKSS**VVVVAAAADDEEGGGG"},  // Vertebrate Mitochondrial
    {3, "FFLLSSSSYY**CCWWTTTTPPPPHHQQRRRRIIMMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Yeast Mitochondrial
    {4, "FFLLSSSSYY**CCWWLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Mold, Protozoan, and Coelenterate Mitochondrial; Mycoplasma; Spiroplasma
    {5, "FFLLSSSSYY**CCWWLLLLPPPPHHQQRRRRIIMMTTTTNNKKSSSSVVVVAAAADDEEGGGG"},  // Invertebrate Mitochondrial
    {6, "FFLLSSSSYYQQCC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Ciliate, Dasycladacean and Hexamita Nuclear
    {9, "FFLLSSSSYY**CCWWLLLLPPPPHHQQRRRRIIIMTTTTNNNKSSSSVVVVAAAADDEEGGGG"},  // Echinoderm and Flatworm Mitochondrial
    {10, "FFLLSSSSYY**CCCWLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Euplotid Nuclear
    {11, "FFLLSSSSYY**CC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Bacterial, Archaeal and Plant Plastid
    {12, "FFLLSSSSYY**CC*WLLLSPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Alternative Yeast Nuclear
    {13, "FFLLSSSSYY**CCWWLLLLPPPPHHQQRRRRIIMMTTTTNNKKSSGGVVVVAAAADDEEGGGG"},  // Ascidian Mitochondrial
    {14, "FFLLSSSSYYY*CCWWLLLLPPPPHHQQRRRRIIIMTTTTNNNKSSSSVVVVAAAADDEEGGGG"},  // Alternative Flatworm Mitochondrial
    {15, "FFLLSSSSYY*QCC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Blepharisma Macronuclear
    {16, "FFLLSSSSYY*LCC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Chlorophycean Mitochondrial
    {21, "FFLLSSSSYY**CCWWLLLLPPPPHHQQRRRRIIMMTTTTNNNKSSSSVVVVAAAADDEEGGGG"},  // Trematode Mitochondrial
    {22, "FFLLSS*SYY*LCC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Scenedesmus obliquus Mitochondrial
    {23, "FF*LSSSSYY**CC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Thraustochytrium Mitochondrial
    {24, "FFLLSSSSYY**CCWWLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSSKVVVVAAAADDEEGGGG"},  // Rhabdopleuridae Mitochondrial
    {25, "FFLLSSSSYY**CCGWLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Candidate Division SR1 and Gracilibacteria
    {26, "FFLLSSSSYY**CC*WLLLAPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Pachysolen tannophilus Nuclear
    {27, "FFLLSSSSYYQQCCWWLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Karyorelict Nuclear
    {28, "FFLLSSSSYYQQCCWWLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Condylostoma Nuclear
    {29, "FFLLSSSSYYYYCC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Mesodinium Nuclear
    {30, "FFLLSSSSYYEECC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Peritrich Nuclear
    {31, "FFLLSSSSYYEECCWWLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Blastocrithidia Nuclear
    {32, "FFLLSSSSYY*WCC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"},  // Balanophoraceae Plastid
    {33, "FFLLSSSSYYY*CCWWLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSSKVVVVAAAADDEEGGGG"},  // Cephalodiscidae Mitochondrial
}};

namespace detail {
constexpr bool is_well_formed(const GeneticCodeDefinition& code) {
    if (code.amino_acids.size() != 64) return false;
    for (char letter : code.amino_acids) {
        if (AMINO_ACIDS_AND_STOP.find(letter) == std::string_view::npos) return false;
    }
    // Every amino acid keeps at least one codon in every code.
    for (char amino_acid : AMINO_ACIDS_AND_STOP.substr(0, 20)) {
        if (code.amino_acids.find(amino_acid) == std::string_view::npos) return false;
    }
    return true;
}
constexpr bool codes_are_well_formed() {
    for (std::size_t i = 0; i < GENETIC_CODES.size(); ++i) {
        if (!is_well_formed(GENETIC_CODES[i])) return false;
        if (i > 0 && GENETIC_CODES[i - 1].number >= GENETIC_CODES[i].number) return false;
    }
    return true;
}
}  // namespace detail
static_assert(detail::codes_are_well_formed(), "every code assigns 64 codons and lists ascending numbers");

// The built-in codon table with that number, or nullptr. All 27 are built together on first
// use and never released, so the pointer stays valid and is the same on every call.
const CodonTable* find_codon_table(TableNumber number);

}  // namespace ntpepmap
