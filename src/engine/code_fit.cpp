#include "engine/code_fit.hpp"

#include <algorithm>
#include <atomic>

#include "engine/alignment_rows.hpp"
#include "parallel/shares.hpp"
#include "tables/genetic_codes.hpp"

namespace ntpepmap::engine {
namespace {

// Records of about this many letters and more are worth a thread of their own, as for a locus.
constexpr std::size_t LEAST_SHARE_LETTERS = 256 * 1024;

// The locus's records with their rows made even, as the locus itself reads them.
class EvenLocus {
public:
    explicit EvenLocus(std::span<const LocusRecord> given) : rows_(rows_of(given)) {
        records_.reserve(given.size());
        for (std::size_t index = 0; index < given.size(); ++index) {
            records_.push_back({given[index].name, rows_[index], given[index].cds});
        }
    }

    [[nodiscard]] const std::vector<LocusRecord>& records() const noexcept { return records_; }

private:
    static std::vector<std::string_view> rows_of(std::span<const LocusRecord> given) {
        std::vector<std::string_view> rows;
        rows.reserve(given.size());
        for (const LocusRecord& record : given) rows.push_back(record.row);
        return rows;
    }

    AlignmentRows rows_;
    std::vector<LocusRecord> records_;
};

// Whether the locus, translated under the code, fails no residue and leaves out at most
// `left_out` records. The shares stop as soon as the answer is no.
bool locus_fits(const EvenLocus& locus, const GeneticCode& code, const EngineOptions& options,
                const std::vector<parallel::Share>& shares, std::size_t left_out) {
    std::atomic<bool> failed{false};
    std::atomic<std::size_t> more_left_out{0};
    parallel::run_shares(shares.size(), [&](std::size_t share) {
        Engine engine(code, options);
        RecordOutcome outcome;
        for (std::size_t index = shares[share].begin; index < shares[share].end && !failed; ++index) {
            const LocusRecord& record = locus.records()[index];
            engine.translate({}, record.name, record.row, record.cds, outcome);
            const bool out = outcome.fate != RecordFate::written;
            if (outcome.failed != 0 || (out && ++more_left_out > left_out)) failed = true;
        }
    });
    return !failed;
}

}  // namespace

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

std::vector<TableNumber> codes_fitting_locus(const LocusRun& run, const LocusSettings& settings) {
    std::vector<TableNumber> fitting = codes_fitting(run.failing, settings.engine);
    std::erase(fitting, run.code);
    if (fitting.empty()) return fitting;
    EngineOptions options = settings.engine;
    options.mismatch = MismatchPolicy::mask;
    options.keep_reports = false;
    const EvenLocus locus(run.records);
    std::vector<std::size_t> letters;
    letters.reserve(locus.records().size());
    for (const LocusRecord& record : locus.records()) letters.push_back(record.row.size() + record.cds.size());
    const std::vector<parallel::Share> shares =
        parallel::split_by_weight(letters, parallel::threads_to_run(settings.threads), LEAST_SHARE_LETTERS);
    std::erase_if(fitting, [&](TableNumber number) {
        const GeneticCode code(*GeneticCode::built_in(number), number);
        return !locus_fits(locus, code, options, shares, run.left_out);
    });
    return fitting;
}

}  // namespace ntpepmap::engine
