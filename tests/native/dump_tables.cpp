// Prints every built-in codon table, one line per letter: "<table> <letter> <codons...>".
#include <algorithm>
#include <cstdio>
#include <vector>

#include "tables/genetic_codes.hpp"

int main() {
    const ntpepmap::DictTable& tables = ntpepmap::dict_table();
    if (&tables != &ntpepmap::dict_table()) return 1;  // built once, always the same map
    for (const ntpepmap::GeneticCodeDefinition& code : ntpepmap::GENETIC_CODES) {
        const ntpepmap::CodonTable* table = ntpepmap::find_codon_table(code.number);
        if (table == nullptr) return 1;
        std::vector<char32_t> letters;
        for (const auto& [letter, codons] : *table) letters.push_back(letter);
        std::sort(letters.begin(), letters.end());
        for (char32_t letter : letters) {
            std::printf("%d %c", code.number, static_cast<char>(letter));
            for (const std::string& codon : table->at(letter)) std::printf(" %s", codon.c_str());
            std::printf("\n");
        }
    }
    for (ntpepmap::TableNumber missing : {0, 7, 8, 17, 20, 34, -1}) {
        if (ntpepmap::find_codon_table(missing) != nullptr) std::printf("unexpected table %d\n", missing);
    }
    std::printf("tables %zu\n", tables.size());
    return 0;
}
