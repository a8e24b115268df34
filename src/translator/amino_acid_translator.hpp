#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "translator/codon_lookup.hpp"

namespace ntpepmap {

// Where a record's framed report goes. The module hands in the process's standard
// output; an implementation may throw to abort the whole call.
class ReportSink {
public:
    virtual ~ReportSink() = default;
    virtual void write(std::string_view report) = 0;
};

// Why a residue gives no piece of the module's row.
enum class SiteFailure : unsigned char { mismatch, missing_residue, too_few_nucleotides };

// Told about each residue that gives no piece, on the slow path only. `cursor` is the offset in
// nt_seq of the residue's triplet (for too_few_nucleotides: where it would start). The bytes
// returned are written in the empty piece's place: nothing, or three bytes that stay valid
// until the next call.
class SiteFailureObserver {
public:
    virtual ~SiteFailureObserver() = default;
    virtual std::string_view failed(std::size_t site, std::size_t cursor, SiteFailure reason) = 0;
};

// One record: a peptide alignment row and the unaligned coding sequence of the same taxon.
// The input texts are borrowed from the caller, who keeps them alive while the translator
// lives; normalised sequences that differ from their input are owned by the translator.
class AminoAcidTranslator {
public:
    AminoAcidTranslator(std::string_view aa_header, std::string_view aa_seq, std::string_view nt_header,
                        std::string_view nt_seq, std::string_view file_steem, ReportSink& sink);

    AminoAcidTranslator(const AminoAcidTranslator&) = delete;
    AminoAcidTranslator& operator=(const AminoAcidTranslator&) = delete;

    // Peptide row: trimmed, upper-cased, reduced to VEC_PEPS. Nucleotides: '-' and '.' removed.
    void streamline();
    // Header agreement, then three nucleotides per non-gap peptide character.
    void do_checks();
    // Prints the framed report for the record's first problem only.
    void error_out(std::string message);
    // Appends the codon-aligned row to `out` (left as it was if the sink throws).
    // Never aborts: a residue without nucleotides left, or whose triplet cuts a character, just gives no piece.
    void reverse_translate_and_compare(const CodonLookup& table, std::string& out);
    // The codon-aligned row as a new text.
    std::string reverse_translate_and_compare(const CodonLookup& table);
    // Failures go to `observer` too (nullptr: to nobody, as in the module).
    void observe(SiteFailureObserver* observer) noexcept { observer_ = observer; }

    std::string_view aa_header;
    std::string_view aa_seq;
    std::string_view nt_header;
    std::string_view nt_seq;
    bool is_clean = true;
    std::string_view file_steem;

    // Room the row may need: three bytes per peptide site.
    std::size_t row_capacity() const noexcept { return 3 * aa_seq.size(); }
    // Writes the pieces from `next` on (room for row_capacity() bytes); returns the end.
    char* translate_into(const CodonLookup& table, char* next);

private:
    char* translate_unusual_site(const CodonLookup& table, std::size_t site, std::size_t& cursor, char* next);
    void report_missing_residue();
    void report_mismatch(std::size_t site);
    char* notify(std::size_t site, std::size_t cursor, SiteFailure reason, char* next);

    ReportSink& sink_;
    SiteFailureObserver* observer_ = nullptr;
    std::string aa_storage_;
    std::string nt_storage_;
};

}  // namespace ntpepmap
