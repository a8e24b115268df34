#include "engine/locus.hpp"

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <stdexcept>

#include "engine/locus_placement.hpp"
#include "parallel/shares.hpp"
#include "translator/streamline.hpp"
#include "writer/fasta_text.hpp"

namespace ntpepmap::engine {
namespace {

std::vector<std::string_view> given_rows(std::span<const LocusRecord> records) {
    std::vector<std::string_view> rows;
    rows.reserve(records.size());
    for (const LocusRecord& record : records) rows.push_back(record.row);
    return rows;
}

// A terminal stop codon is what a CDS ends with: told by the locus's count alone.
bool holds_internal_stop(const RecordOutcome& outcome) noexcept {
    const auto internal = [](const StopCodon& stop) { return !stop.terminal; };
    return std::any_of(outcome.stops.begin(), outcome.stops.end(), internal);
}

bool is_clean(const RecordOutcome& outcome, std::string_view row) noexcept {
    return is_full(outcome, row) && outcome.failed == 0 && outcome.without_nucleotides == 0 &&
           outcome.nucleotides == 3 * outcome.residues && outcome.frameshifts.empty() &&
           !holds_internal_stop(outcome) && outcome.partial_codon == 0;
}

bool needs_report(const RecordOutcome& outcome, std::string_view row) noexcept {
    return !is_clean(outcome, row) || outcome.located || outcome.placements || !outcome.resolved.empty();
}

// A whole transcript's records are mostly written in full from the coding region found in each:
// those are told by their index alone.
bool is_clean_located(const RecordOutcome& outcome, std::string_view row) noexcept {
    return outcome.located && is_clean(outcome, row) && outcome.resolved.empty();
}

// The stop codons under '*' of the records written, the terminal ones left out, and the
// gaps their CDS lost: each changes what is written from what was given, so each is counted.
struct StopTally {
    std::size_t codons = 0;
    std::vector<std::uint8_t> columns;  // 1 at each 1-based column holding one
    std::size_t trimmed = 0;
    std::size_t cds_gaps = 0;

    void add(const RecordOutcome& outcome) {
        if (outcome.fate == RecordFate::written) {
            trimmed += outcome.stop_trimmed;
            cds_gaps += outcome.cds_gaps;
        }
        for (const StopCodon& stop : outcome.stops) {
            if (columns.size() <= stop.column) columns.resize(stop.column + 1);
            columns[stop.column] = 1;
        }
        codons += outcome.stops.size();
    }

    void add(const StopTally& other) {
        if (columns.size() < other.columns.size()) columns.resize(other.columns.size());
        for (std::size_t column = 0; column < other.columns.size(); ++column) columns[column] |= other.columns[column];
        codons += other.codons;
        trimmed += other.trimmed;
        cds_gaps += other.cds_gaps;
    }
};

// What one share of the records leaves to be told, in record order.
struct ShareResult {
    std::vector<ReportedRecord> reported;
    std::vector<std::size_t> clean_located;
    std::string reports;
    StopTally stops;
};

// Records of about this many letters and more are worth a thread of their own.
constexpr std::size_t LEAST_SHARE_LETTERS = 256 * 1024;

std::vector<parallel::Share> shares_of(const std::vector<LocusRecord>& records, std::size_t width, unsigned threads) {
    std::vector<std::size_t> letters(records.size());
    for (std::size_t index = 0; index < records.size(); ++index) {
        letters[index] = width + records[index].cds.size();
    }
    return parallel::split_by_weight(letters, parallel::threads_to_run(threads), LEAST_SHARE_LETTERS);
}

template <class Placement>
void translate_share(std::string_view file_stem, const GeneticCode& code, const LocusSettings& settings,
                     const std::vector<LocusRecord>& records, std::size_t width, parallel::Share share,
                     Placement& placement, ShareResult& result) {
    Engine engine(code, settings.engine);
    RecordOutcome outcome;
    std::string even;
    for (std::size_t index = share.begin; index < share.end; ++index) {
        const LocusRecord& given = records[index];
        std::size_t gaps = 0;
        const bool streamlined = is_streamlined(given.row, gaps) && given.row.size() == width;
        const LocusRecord record{given.name, streamlined ? given.row : even_row(given.row, width, even), given.cds,
                                 given.cds_acgt};
        const KnownFacts known{streamlined ? std::optional<std::size_t>(gaps) : std::nullopt, given.cds_acgt};
        engine.translate(file_stem, record.name, record.row, record.cds, outcome, known);
        placement.place(index, record, outcome);
        result.reports += outcome.report;
        result.stops.add(outcome);
        if (is_clean_located(outcome, record.row)) {
            result.clean_located.push_back(index);
            continue;
        }
        if (!needs_report(outcome, record.row)) continue;
        // The row stays with the outcome that is reused: the reported records may be all of them.
        CodonRow row = std::move(outcome.row);
        result.reported.push_back({index, row.size(), std::move(outcome)});
        outcome.row = std::move(row);
    }
}

void gather(std::vector<ShareResult>& shares, LocusResult& result) {
    StopTally stops;
    for (ShareResult& share : shares) {
        stops.add(share.stops);
        std::move(share.reported.begin(), share.reported.end(), std::back_inserter(result.records));
        result.clean_located.insert(result.clean_located.end(), share.clean_located.begin(), share.clean_located.end());
        result.reports += share.reports;
    }
    result.stop_codons = stops.codons;
    result.stops_trimmed = stops.trimmed;
    result.cds_gaps = stops.cds_gaps;
    for (std::size_t column = 0; column < stops.columns.size(); ++column) {
        if (stops.columns[column] != 0) result.stop_columns.push_back(column);
    }
}

}  // namespace

bool is_full(const RecordOutcome& outcome, std::string_view row) noexcept {
    return outcome.fate == RecordFate::written && outcome.row.size() == 3 * row.size();
}

Locus::Locus(const GeneticCode& code, const LocusSettings& settings, std::span<const LocusRecord> records)
    : code_(code), settings_(settings), records_(records.begin(), records.end()) {
    const std::vector<std::string_view> rows = given_rows(records);
    width_ = widest_row(rows);
    padded_ = narrower_rows(rows, width_);
    if (settings.output != LocusOutput::fasta_text) return;
    text_starts_.assign(records_.size() + 1, 0);
    const std::size_t row = row_room();  // codon rows are ASCII
    for (std::size_t index = 0; index < records_.size(); ++index) {
        text_starts_[index + 1] =
            text_starts_[index] + writer::fasta_record_size(records_[index].name.size(), row, row, settings.wrap);
    }
}

LocusResult Locus::translate(std::string_view file_stem, const OutputRoom& room) const {
    if (settings_.output == LocusOutput::fasta_text) {
        if (room.text == nullptr && text_room() != 0) throw std::invalid_argument("the FASTA text has no room");
        TextPlacement placement(*this, room.text);
        return translate_into(file_stem, placement);
    }
    if (room.rows.size() != records_.size()) throw std::invalid_argument("the rows need a room per record");
    RowPlacement placement(room.rows, records_.size());
    return translate_into(file_stem, placement);
}

template <class Placement>
LocusResult Locus::translate_into(std::string_view file_stem, Placement& placement) const {
    const std::vector<parallel::Share> shares = shares_of(records_, width_, settings_.threads);
    std::vector<ShareResult> results(shares.size());
    parallel::run_shares(shares.size(), [&](std::size_t share) {
        translate_share(file_stem, code_, settings_, records_, width_, shares[share], placement, results[share]);
    });
    LocusResult result;
    result.width = width();
    result.padded = padded_;
    gather(results, result);
    placement.finish(result);
    return result;
}

}  // namespace ntpepmap::engine
