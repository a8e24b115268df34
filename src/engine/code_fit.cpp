#include "engine/code_fit.hpp"

#include <algorithm>

#include "tables/genetic_codes.hpp"

namespace ntpepmap::engine {

std::vector<TableNumber> codes_fitting(std::span<const LocusRecord> codons, EngineOptions options) {
    options.mismatch = MismatchPolicy::mask;
    options.locate = false;
    options.keep_reports = false;
    std::vector<TableNumber> fitting;
    RecordOutcome outcome;
    for (const GeneticCodeDefinition& definition : GENETIC_CODES) {
        const GeneticCode code(*GeneticCode::built_in(definition.number), definition.number);
        Engine engine(code, options);
        const auto fits = [&](const LocusRecord& codon) {
            engine.translate({}, codon.name, codon.row, codon.cds, outcome);
            return outcome.fate == RecordFate::written && outcome.failed == 0;
        };
        if (std::all_of(codons.begin(), codons.end(), fits)) fitting.push_back(definition.number);
    }
    return fitting;
}

}  // namespace ntpepmap::engine
