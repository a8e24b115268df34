// Prints every built-in codon table, one line per letter: "<table> <letter> <codons...>".
#include <algorithm>
#include <cstdio>
#include <vector>

#include "tables/genetic_codes.hpp"

int main() {
    for (const ntpepmap::GeneticCodeDefinition& code : ntpepmap::GENETIC_CODES) {
        const ntpepmap::CodonTable* table = ntpepmap::find_codon_table(code.number);
        if (table == nullptr) return 1;
        if (table != ntpepmap::find_codon_table(code.number)) return 1;  // built once, always the same table
        std::vector<char32_t> letters;
        for (const auto& [letter, codons] : *table) letters.push_back(letter);
        std::sort(letters.begin(), letters.end());
        for (char32_t letter : letters) {
            std::printf("%d %c", code.number, static_cast<char>(letter));
            for (const std::string& codon : table->at(letter)) std::printf(" %s", codon.c_str());
            std::printf("\n");
        }
    }
    std::size_t tables = 0;
    for (ntpepmap::TableNumber number = -1; number <= 100; ++number) {
        if (ntpepmap::find_codon_table(number) != nullptr) ++tables;
    }
    std::printf("tables %zu\n", tables);
    return 0;
}
