#include "tables/genetic_codes.hpp"

#include <utility>

namespace ntpepmap {
namespace {

// DICT_TABLE: every built-in codon table by number.
using DictTable = std::unordered_map<TableNumber, CodonTable>;

std::string codon_text(std::size_t codon_number) {
    return {TCAG_BASES[codon_number / 16], TCAG_BASES[codon_number / 4 % 4], TCAG_BASES[codon_number % 4]};
}

// Codons of one letter, in TCAG order.
CodonList codons_of(std::string_view amino_acids, char letter) {
    CodonList codons;
    for (std::size_t number = 0; number < amino_acids.size(); ++number) {
        if (amino_acids[number] == letter) codons.push_back(codon_text(number));
    }
    return codons;
}

// An ambiguity letter lists both members' codons, each list unchanged, the member whose
// first codon comes earlier in TCAG order first. Lists are never empty for amino acids.
CodonList combined(std::string_view amino_acids, char first_member, char second_member) {
    const std::size_t first_start = amino_acids.find(first_member);
    const std::size_t second_start = amino_acids.find(second_member);
    if (second_start < first_start) std::swap(first_member, second_member);
    CodonList codons = codons_of(amino_acids, first_member);
    CodonList tail = codons_of(amino_acids, second_member);
    codons.insert(codons.end(), tail.begin(), tail.end());
    return codons;
}

CodonTable build_codon_table(const GeneticCodeDefinition& code) {
    CodonTable table;
    table.reserve(25);
    for (char letter : AMINO_ACIDS_AND_STOP) {
        CodonList codons = codons_of(code.amino_acids, letter);
        // A code without stop codons has no stop key at all.
        if (!codons.empty()) table.emplace(static_cast<char32_t>(letter), std::move(codons));
    }
    table.emplace(U'X', CodonList{});
    table.emplace(U'B', combined(code.amino_acids, 'N', 'D'));
    table.emplace(U'J', combined(code.amino_acids, 'L', 'I'));
    table.emplace(U'Z', combined(code.amino_acids, 'Q', 'E'));
    return table;
}

DictTable build_dict_table() {
    DictTable tables;
    tables.reserve(GENETIC_CODES.size());
    for (const GeneticCodeDefinition& code : GENETIC_CODES) tables.emplace(code.number, build_codon_table(code));
    return tables;
}

const DictTable& dict_table() {
    // Built under the static-initialisation guard and deliberately never destroyed.
    static const DictTable* const tables = new DictTable(build_dict_table());
    return *tables;
}

}  // namespace

const CodonTable* find_codon_table(TableNumber number) {
    const DictTable& tables = dict_table();
    const auto found = tables.find(number);
    return found == tables.end() ? nullptr : &found->second;
}

}  // namespace ntpepmap
