#include "engine/genetic_code.hpp"

#include <algorithm>

#include "engine/stop_codons.hpp"
#include "iupac/iupac.hpp"
#include "tables/start_codons.hpp"

namespace ntpepmap::engine {

namespace {

CodonTable with_read_through_codons(const CodonTable& table) {
    CodonTable checked = table;
    checked.try_emplace(U'U', CodonList{std::string(SELENOCYSTEINE_CODON)});
    checked.try_emplace(U'O', CodonList{std::string(PYRROLYSINE_CODON)});
    return checked;
}

}  // namespace

GeneticCode::GeneticCode(const CodonTable& table, TableNumber number)
    : table_(table),
      checked_table_(with_read_through_codons(table)),
      lookup_(checked_table_),
      start_codons_(start_codons_of(number)),
      built_in_(true) {}

GeneticCode::GeneticCode(const CodonTable& table)
    : table_(table), checked_table_(with_read_through_codons(table)), lookup_(checked_table_) {}

std::u32string GeneticCode::letters_encoded_by(std::string_view triplet) const {
    constexpr std::u32string_view DERIVED = U"BJZX";
    std::u32string letters;
    if (triplet.size() != 3) return letters;
    for (const auto& [letter, codons] : table_) {
        if (built_in_ && DERIVED.find(letter) != std::u32string_view::npos) continue;
        if (first_candidate(triplet, codons) != nullptr) letters.push_back(letter);
    }
    std::sort(letters.begin(), letters.end());
    return letters;
}

}  // namespace ntpepmap::engine
