#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/cds_letters.hpp"
#include "engine/codon_row.hpp"
#include "engine/enum_names.hpp"
#include "engine/genetic_code.hpp"
#include "engine/stop_codons.hpp"
#include "locate/coding_region_locator.hpp"
#include "locate/frameshift_aligner.hpp"
#include "translator/amino_acid_translator.hpp"

namespace ntpepmap::engine {

// What happens to a residue whose triplet does not encode it (or that the code lacks).
enum class MismatchPolicy : unsigned char {
    mask,  // the record is written, the codon as NNN in the triplet's case
    keep,  // the record is written, the codon as in the CDS
    drop,  // the record is left out
};
inline constexpr auto MISMATCH_POLICY_NAMES = enum_names<MismatchPolicy>("mask", "keep", "drop");
static_assert(MISMATCH_POLICY_NAMES[MismatchPolicy::drop] == "drop");

// What happens to a record whose CDS has gained or lost a nucleotide or two that its protein
// has not (a sequencing error, a pseudogene), when it fits no other way.
enum class FrameshiftPolicy : unsigned char {
    mask,  // the record is written, each codon a frameshift breaks as NNN, extra nucleotides left out
    drop,  // the record is left out
};
inline constexpr auto FRAMESHIFT_POLICY_NAMES = enum_names<FrameshiftPolicy>("mask", "drop");
static_assert(FRAMESHIFT_POLICY_NAMES[FrameshiftPolicy::drop] == "drop");

struct EngineOptions {
    MismatchPolicy mismatch = MismatchPolicy::mask;
    FrameshiftPolicy frameshifts = FrameshiftPolicy::mask;
    LetterOptions letters;
    bool keep_reports = false;  // the framed report of each record, as the module prints it
    // Search the CDS for the peptide's coding region (an mRNA, a shifted frame) when its length
    // fits neither the residues nor the residues and a stop codon, or when more than half fail.
    bool locate = false;
    bool both_strands = false;  // search the reverse complement too
    // Leave out a terminal stop codon one triplet beyond the residues (read upper case, U as T).
    bool trim_stop = false;
    std::uint64_t terminal_stops = 0;  // bit k: TCAG codon number k may end a CDS
    // Translate a CDS with fewer triplets than residues anyway, into a short row.
    bool keep_short = false;
    StopPolicy stops = StopPolicy::keep;
    // Tell the residues whose ambiguous triplet was resolved to one of their codons (a page shows them).
    bool note_resolved = false;
};

inline constexpr auto SITE_FAILURE_NAMES =
    enum_names<SiteFailure>("mismatch", "not in code", "too few nucleotides");
static_assert(SITE_FAILURE_NAMES[SiteFailure::too_few_nucleotides] == "too few nucleotides");

struct SiteProblem {
    SiteFailure reason;
    std::size_t column;          // 1-based, in the alignment row
    std::size_t residue_number;  // 1-based
    char residue;
    std::string triplet;         // as the CDS gives it; shorter (or empty) when nucleotides ran out
    std::u32string encodes;      // what the triplet encodes in the code
};

// A residue whose codon a frameshift breaks, or a gap of whole codons: gained before the
// residue (shift 3k) or missing from the residue on (shift -3k).
struct FrameshiftSite {
    std::size_t column;          // 1-based, in the alignment row
    std::size_t residue_number;  // 1-based
    int shift;                   // +1, +2: nucleotides left out; -1, -2: nucleotides the codon lacks
    // 1-based, in the CDS without gaps: the first extra nucleotide, or the short codon's first
    // (the first as read on the strand the protein lies on); of codons gained, the first on the
    // forward strand; of codons missing, the nucleotide they would follow.
    std::size_t cds_position;
    std::string letters;  // the extra nucleotides, or the short codon's, as the CDS gives them; codons gained
    bool masked;          // written NNN; false: an extra nucleotide lies beside the residue's whole codon
    // Residues after it masked too: the frameshift could as well lie after them, which would
    // read their codons from other letters.
    std::size_t masked_after = 0;
};

enum class RecordFate : unsigned char {
    written,
    dropped,        // a residue failed under MismatchPolicy::drop
    wrong_pairing,  // more than half of the residues failed: not this record's CDS
    unplaced,       // the CDS does not fit and the search found no single coding region in it
    too_short,      // the CDS has fewer triplets than the row has residues: held back untranslated
};
inline constexpr auto RECORD_FATE_NAMES =
    enum_names<RecordFate>("written", "dropped", "wrong pairing", "unplaced", "too short");
static_assert(RECORD_FATE_NAMES[RecordFate::too_short] == "too short");

// What the caller knows of a record already, so that the engine does not scan for it again.
struct KnownFacts {
    std::optional<std::size_t> row_gaps;  // the row is its own streamlined form, with this many gaps
    bool cds_acgt = false;                // the CDS holds upper-case A, C, G and T alone
};

struct RecordOutcome {
    CodonRow row;  // empty when the record is left out; short when nucleotides ran out
    RecordFate fate = RecordFate::written;
    std::vector<SiteProblem> problems;  // mismatches and missing residues; the first residue without nucleotides
    std::size_t residues = 0;
    std::size_t nucleotides = 0;  // of the CDS as checked (the coding region when located)
    std::size_t failed = 0;       // mismatched residues and residues missing from the code
    std::size_t without_nucleotides = 0;
    bool located = false;                     // the coding region found in the CDS was used
    std::optional<std::size_t> placements;    // how many the search found, when it ran
    std::vector<StopCodon> stops;             // under '*', in a record written
    bool stop_trimmed = false;                // a terminal stop codon beyond the residues left out
    std::size_t cds_gaps = 0;                 // alignment gaps ('-', '.') taken out of the CDS
    std::string report;  // the framed report, when kept
    // Of the threading the row was written from, or of the cheapest one found for a record left
    // out (too many frameshifts or mismatches, or FrameshiftPolicy::drop).
    std::vector<FrameshiftSite> frameshifts;
    std::vector<std::size_t> resolved;  // 1-based columns of ambiguous triplets resolved, when noted
    // The nucleotides of a 3'-partial last codon (1 or 2), written completed with N; 0: none.
    std::size_t partial_codon = 0;

    void clear() noexcept;
};

// Back-translates the records of one locus, one at a time, on the module's translator.
class Engine {
public:
    Engine(const GeneticCode& code, const EngineOptions& options) : code_(code), options_(options) {}

    // `row`: the aligned peptide row (ASCII); `cds`: the unaligned coding sequence (ASCII). A digit
    // from 1 to 3 in the row is a column of that many nucleotides that encode no residue
    // (PAL2NAL's frameshift notation), written padded with '-'; such a row is read from the
    // CDS's first nucleotide on.
    void translate(std::string_view file_stem, std::string_view name, std::string_view row, std::string_view cds,
                   RecordOutcome& outcome, const KnownFacts& known = {});

private:
    class FailureRecorder;

    bool trim_terminal_stop(std::size_t residues);  // whether it was left out
    bool translate_partial_codon(std::string_view file_stem, std::string_view name, std::string_view peptide,
                                 RecordOutcome& outcome);
    bool may_search(const RecordOutcome& outcome) const noexcept;
    bool locate(std::string_view peptide, RecordOutcome& outcome, bool leave_verification);
    bool placement_holds(const RecordOutcome& outcome) const noexcept;
    bool spares_notes(const RecordOutcome& outcome) const noexcept;
    void leave_unplaced(std::size_t nucleotides, RecordOutcome& outcome) const;
    void accept_start_codon(std::string_view peptide);
    void back_translate(std::string_view file_stem, std::string_view name, std::string_view peptide,
                        RecordOutcome& outcome);
    void write_given_letters(std::string_view peptide, RecordOutcome& outcome) const;
    void note_resolved(std::string_view peptide, RecordOutcome& outcome) const;
    void decide_fate(RecordOutcome& outcome) const;
    // Frameshifts (engine_frameshifts.cpp).
    void retry_with_frameshifts(std::string_view file_stem, std::string_view name, std::string_view peptide,
                                std::string_view cds, RecordOutcome& outcome);
    bool translate_frameshift_digits(std::string_view file_stem, std::string_view name, std::string_view row,
                                     std::string_view cds, RecordOutcome& outcome);
    // A frameshift or a gap of codons in a threading: its residue, offset and shift in nucleotides.
    struct ThreadingEvent {
        std::size_t residue;
        std::size_t offset;
        int shift;
    };
    static bool shows_shifted_run(const RecordOutcome& outcome) noexcept;
    static std::size_t on_forward_strand(const FrameshiftSite& site, std::size_t nucleotides) noexcept;
    std::vector<FrameshiftSite> plan_threading(std::string_view peptide, const locate::ShiftedPlacement& threading);
    CodonPiece broken_codon(std::size_t offset, char residue, int shift, FrameshiftSite& site) const;
    void mask_uncertain_codons(const ThreadingEvent& event, std::size_t until, FrameshiftSite& site);

    const GeneticCode& code_;
    EngineOptions options_;
    std::optional<locate::CodingRegionLocator> locator_;  // made when first needed: its index is large
    std::optional<locate::FrameshiftAligner> aligner_;    // likewise
    std::string residues_storage_;
    std::vector<CodonPiece> pieces_;
    // A row with frameshift digits, as translated: digits made gaps, their nucleotides taken out
    // of the CDS and written back in the digits' columns.
    struct DigitColumn {
        std::size_t column;
        std::string letters;
    };
    std::string digit_row_, digit_cds_;
    std::vector<DigitColumn> digit_columns_;
    CdsLetters letters_;
    std::string peptide_storage_;
    bool placement_verified_ = true;  // the search read the coding region it found
};

}  // namespace ntpepmap::engine
