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
using DictTable = std::unordered_map<TableNumber, CodonTable>;

// Codons are numbered 16*r(first) + 4*r(second) + r(third) with r(T)=0, r(C)=1, r(A)=2, r(G)=3.
inline constexpr std::string_view TCAG_BASES = "TCAG";

struct GeneticCodeDefinition {
    TableNumber number;
    std::string_view name;
    // One letter (an amino acid or '*') per codon, codons in TCAG order.
    std::string_view amino_acids;
};

// The 27 built-in genetic codes, by ascending number.
extern const std::array<GeneticCodeDefinition, 27> GENETIC_CODES;

// DICT_TABLE: every built-in codon table, built once on first use and never released.
const DictTable& dict_table();

// The built-in codon table with that number, or nullptr.
const CodonTable* find_codon_table(TableNumber number);

}  // namespace ntpepmap
