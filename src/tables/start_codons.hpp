#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "tables/genetic_codes.hpp"

namespace ntpepmap {

struct StartCodonDefinition {
    TableNumber number;
    // The "Starts" line of NCBI's gc.prt: one mark per codon in TCAG order, 'M' for a start codon.
    std::string_view starts;
};

// The codons that may begin a gene under each built-in code (NCBI's initiation codons).
inline constexpr std::array<StartCodonDefinition, 27> START_CODONS{{
    {1, "---M------**--*----M---------------M----------------------------"},   // TTG CTG ATG
    {2, "----------**--------------------MMMM----------**---M------------"},   // ATT ATC ATA ATG GTG
    {3, "----------**----------------------MM---------------M------------"},   // ATA ATG GTG
    {4, "--MM------**-------M------------MMMM---------------M------------"},   // TTA TTG CTG ATT ATC ATA ATG GTG
    {5, "---M------**--------------------MMMM---------------M------------"},   // TTG ATT ATC ATA ATG GTG
    {6, "--------------*--------------------M----------------------------"},   // ATG
    {9, "----------**-----------------------M---------------M------------"},   // ATG GTG
    {10, "----------**-----------------------M----------------------------"},  // ATG
    {11, "---M------**--*----M------------MMMM---------------M------------"},  // TTG CTG ATT ATC ATA ATG GTG
    {12, "-------------------M---------------M----------------------------"},  // CTG ATG
    {13, "---M------**----------------------MM---------------M------------"},  // TTG ATA ATG GTG
    {14, "-----------*-----------------------M----------------------------"},  // ATG
    {15, "----------*---*--------------------M----------------------------"},  // ATG
    {16, "----------*---*--------------------M----------------------------"},  // ATG
    {21, "----------**-----------------------M---------------M------------"},  // ATG GTG
    {22, "------*---*---*--------------------M----------------------------"},  // ATG
    {23, "--*-------**--*-----------------M--M---------------M------------"},  // ATT ATG GTG
    {24, "---M------**-------M---------------M---------------M------------"},  // TTG CTG ATG GTG
    {25, "---M------**-----------------------M---------------M------------"},  // TTG ATG GTG
    {26, "-------------------M---------------M----------------------------"},  // CTG ATG
    {27, "--------------*--------------------M----------------------------"},  // ATG
    {28, "----------**--*--------------------M----------------------------"},  // ATG
    {29, "--------------*--------------------M----------------------------"},  // ATG
    {30, "--------------*--------------------M----------------------------"},  // ATG
    {31, "----------**-----------------------M----------------------------"},  // ATG
    {32, "---M------*---*----M------------MMMM---------------M------------"},  // TTG CTG ATT ATC ATA ATG GTG
    {33, "---M-------*-------M---------------M---------------M------------"},  // TTG CTG ATG GTG
}};

// Bit k set: TCAG codon number k is a start codon.
inline constexpr std::uint64_t start_codon_mask(std::string_view starts) noexcept {
    std::uint64_t mask = 0;
    for (std::size_t number = 0; number < starts.size() && number < 64; ++number) {
        if (starts[number] == 'M') mask |= std::uint64_t{1} << number;
    }
    return mask;
}

namespace detail {
constexpr bool starts_match_codes() {
    for (std::size_t i = 0; i < START_CODONS.size(); ++i) {
        const auto& starts = START_CODONS[i];
        if (starts.number != GENETIC_CODES[i].number || starts.starts.size() != 64) return false;
        // A start codon always reads as M at the head of a gene, ATG under every code.
        if ((start_codon_mask(starts.starts) >> 35 & 1u) == 0) return false;
    }
    return true;
}
}  // namespace detail
static_assert(detail::starts_match_codes(), "one 64-mark line per built-in code, ATG a start in each");

// The start codons of a built-in code; none for a number without a code.
inline constexpr std::uint64_t start_codons_of(TableNumber number) noexcept {
    for (const StartCodonDefinition& starts : START_CODONS) {
        if (starts.number == number) return start_codon_mask(starts.starts);
    }
    return 0;
}

}  // namespace ntpepmap
