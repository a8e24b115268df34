#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/alignment_rows.hpp"
#include "engine/engine.hpp"
#include "engine/genetic_code.hpp"

namespace ntpepmap::engine {

// One pair of a locus: the protein record's name (UTF-8) and aligned row, and its unaligned CDS
// (both ASCII). Views: the texts must outlive the locus.
struct LocusRecord {
    std::string_view name;
    std::string_view row;
    std::string_view cds;
    // The CDS is known to hold upper-case A, C, G and T alone (its reader saw nothing else): the
    // engine reads it in place without a scan. L: 590 M instructions for the whole run against
    // 650 M when the reader tells plain letters alone and the engine scans each CDS again.
    bool cds_acgt = false;
};

// How a locus's codon rows come out: one per record, or as the output file's FASTA text.
enum class LocusOutput : unsigned char { rows, fasta_text };

struct LocusSettings {
    EngineOptions engine;
    LocusOutput output = LocusOutput::rows;
    std::size_t wrap = 0;  // letters per line of the FASTA text; 0: a row on one line
    unsigned threads = 0;  // at most this many at once; 0: as many as the process may use
};

// A record with anything to tell, kept without its row: only the row's length is told.
struct ReportedRecord {
    std::size_t index;
    std::size_t row_length;  // 0 when left out
    RecordOutcome outcome;
};

struct LocusResult {
    std::size_t width = 0;  // columns of the protein alignment
    // LocusOutput::rows: each record's codon row where it lies in its room; none when left out.
    std::vector<std::optional<std::string_view>> rows;
    // LocusOutput::fasta_text: the text of the full rows ('>' name, line feed, row, line feed
    // each), at the start of its room, closed up where a record is left out.
    std::string_view text;
    std::vector<ReportedRecord> records;  // each record with anything to tell, in order
    // Records written in full, without a problem, from a located coding region: told by index.
    std::vector<std::size_t> clean_located;
    std::string reports;  // the framed reports, when kept
    // (index, own width) of each protein row narrower than the alignment.
    std::vector<std::pair<std::size_t, std::size_t>> padded;
    // The stop codons under '*' of the records written, and the 1-based columns holding one in
    // some row, ascending: most proteins end with one, which is counted, not told one by one.
    std::size_t stop_codons = 0;
    std::vector<std::size_t> stop_columns;
    // Of the records written: terminal stop codons left out, and gaps taken out of their CDS.
    std::size_t stops_trimmed = 0;
    std::size_t cds_gaps = 0;
};

// The memory a locus's output is written into, made by the caller (a Python str or bytes, say)
// as large as the locus says, so that the rows are never held twice.
struct OutputRoom {
    std::span<char* const> rows;  // LocusOutput::rows: room for row_room() letters per record
    char* text = nullptr;         // LocusOutput::fasta_text: room for text_room() bytes
};

// A locus back-translated in three steps, so that its output is written straight into memory
// its caller owns: the locus says how much room the output takes, the caller makes it, and the
// locus translates into it on several threads, touching nothing but its records and that room.
class Locus {
public:
    // The rows are read as even_row reads them: '.' and '~' as gaps, all as wide as the widest.
    Locus(const GeneticCode& code, const LocusSettings& settings, std::span<const LocusRecord> records);

    [[nodiscard]] std::size_t width() const noexcept { return width_; }
    // The room of each record's row: a full codon row.
    [[nodiscard]] std::size_t row_room() const noexcept { return 3 * width(); }
    // The room of the FASTA text, every record full.
    [[nodiscard]] std::size_t text_room() const noexcept { return text_starts_.empty() ? 0 : text_starts_.back(); }

    // The result's rows or text lie in `room`, which must be as the settings' output asks.
    [[nodiscard]] LocusResult translate(std::string_view file_stem, const OutputRoom& room) const;

    // Where each record's text starts when every record before it is full; the text's end last.
    [[nodiscard]] const std::vector<std::size_t>& text_starts() const noexcept { return text_starts_; }
    [[nodiscard]] const std::vector<LocusRecord>& records() const noexcept { return records_; }
    [[nodiscard]] const LocusSettings& settings() const noexcept { return settings_; }

private:
    template <class Placement>
    LocusResult translate_into(std::string_view file_stem, Placement& placement) const;

    const GeneticCode& code_;
    LocusSettings settings_;
    // The rows as given: each is made even as its share translates it, not all at once beforehand.
    std::vector<LocusRecord> records_;
    std::size_t width_ = 0;
    std::vector<std::pair<std::size_t, std::size_t>> padded_;  // (index, own width) of the narrower rows
    std::vector<std::size_t> text_starts_;
};

// Whether the record was written with its row whole: only those go into the FASTA text.
[[nodiscard]] bool is_full(const RecordOutcome& outcome, std::string_view row) noexcept;

}  // namespace ntpepmap::engine
