#include "translator/amino_acid_translator.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "iupac/iupac.hpp"
#include "translator/reports.hpp"
#include "translator/streamline.hpp"
#include "translator/utf8.hpp"

namespace ntpepmap {

namespace {

constexpr std::size_t TRIPLET = 3;

std::size_t gap_run_length(std::string_view peptide, std::size_t site) noexcept {
    std::size_t end = site;
    while (end < peptide.size() && peptide[end] == '-') ++end;
    return end - site;
}

// How many sites from `site` on, up to `limit`, have a triplet that is a plain codon of their residue.
std::size_t plain_run_length(const CodonLookup& table, const char* peptide, std::size_t site, std::size_t limit,
                             const char* triplets) noexcept {
    const std::size_t first = site;
    for (; site < limit; ++site, triplets += TRIPLET) {
        const unsigned number = codon_number(static_cast<unsigned char>(triplets[0]),
                                             static_cast<unsigned char>(triplets[1]),
                                             static_cast<unsigned char>(triplets[2]));
        const std::uint64_t plain = table[static_cast<unsigned char>(peptide[site])].plain_codons;
        if (number >= 64 || (plain >> number & 1u) == 0) break;
    }
    return site - first;
}

void put_triplet(char*& next, const char* triplet) noexcept {
    std::memcpy(next, triplet, TRIPLET);
    next += TRIPLET;
}

// Counted in byte blocks small enough for a one-byte counter, which vectorises well.
std::size_t count_residues(std::string_view row) noexcept {
    constexpr std::size_t BLOCK = 255;
    std::size_t total = 0;
    for (std::size_t offset = 0; offset < row.size(); offset += BLOCK) {
        const std::string_view block = row.substr(offset, BLOCK);
        std::uint8_t count = 0;
        for (const char letter : block) {
            const auto byte = static_cast<unsigned char>(letter);
            count = static_cast<std::uint8_t>(count + ((byte != '-') & !utf8::is_continuation(byte)));
        }
        total += count;
    }
    return total;
}

bool holds_unknown_base(std::string_view triplet) noexcept {
    return triplet.find('N') != std::string_view::npos;
}

// The piece for a triplet that is not one of the residue's plain codons, or nullptr for a mismatch.
const char* resolve_unusual_triplet(char residue, const CodonList& codons, std::string_view triplet) noexcept {
    const bool plain = codon_number(static_cast<unsigned char>(triplet[0]), static_cast<unsigned char>(triplet[1]),
                                    static_cast<unsigned char>(triplet[2])) < 64;
    if (plain) {
        // Plain bases outside the mask: neither an exact match nor an IUPAC reading exists.
        return residue == 'X' ? triplet.data() : nullptr;
    }
    // A triplet that cuts a character never reaches the output, whatever the residue.
    if (!utf8::is_valid(triplet)) return nullptr;
    if (residue == 'X' || holds_unknown_base(triplet)) return triplet.data();
    if (std::find(codons.begin(), codons.end(), triplet) != codons.end()) return triplet.data();
    if (const std::string* rescued = first_candidate(triplet, codons)) return rescued->data();
    return nullptr;
}

}  // namespace

AminoAcidTranslator::AminoAcidTranslator(std::string_view aa_header_, std::string_view aa_seq_,
                                         std::string_view nt_header_, std::string_view nt_seq_,
                                         std::string_view file_steem_, ReportSink& sink)
    : aa_header(aa_header_), aa_seq(aa_seq_), nt_header(nt_header_), nt_seq(nt_seq_), file_steem(file_steem_),
      sink_(sink) {}

void AminoAcidTranslator::streamline() {
    aa_seq = streamline_peptide(aa_seq, aa_storage_);
    nt_seq = streamline_nucleotides(nt_seq, nt_storage_);
}

void AminoAcidTranslator::do_checks() {
    if (aa_header != nt_header) error_out(header_mismatch_message(aa_header, nt_header));
    const std::size_t expected = TRIPLET * count_residues(aa_seq);
    if (expected != nt_seq.size() && is_clean)
        error_out(length_mismatch_message(aa_header, nt_header, expected, nt_seq.size()));
}

void AminoAcidTranslator::error_out(std::string message) {
    if (!is_clean) return;
    is_clean = false;
    sink_.write(framed_report(file_steem, aa_header, message));
}

void AminoAcidTranslator::report_missing_residue() {
    if (is_clean) error_out(std::string(MISSING_RESIDUE_MESSAGE));
}

void AminoAcidTranslator::report_mismatch(std::size_t site) {
    // Only the first report of a record is printed: skip building the ones that would be dropped.
    if (is_clean) error_out(mismatch_message(aa_seq, nt_seq, site));
}

void AminoAcidTranslator::reverse_translate_and_compare(const CodonLookup& table, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + TRIPLET * aa_seq.size());  // no piece is longer than a triplet
    char* const begin = out.data() + start;
    char* next = begin;
    try {
        next = translate_into(table, next);
    } catch (...) {
        out.resize(start);
        throw;
    }
    out.resize(start + static_cast<std::size_t>(next - begin));
}

char* AminoAcidTranslator::translate_into(const CodonLookup& table, char* next) {
    // Locals, not members: every byte stored through `next` could otherwise alias them.
    const std::string_view peptide = aa_seq;
    const std::string_view nucleotides = nt_seq;
    const std::size_t whole_triplets_end = nucleotides.size() - nucleotides.size() % TRIPLET;
    std::size_t cursor = 0;
    std::size_t site = 0;
    while (site < peptide.size()) {
        if (peptide[site] == '-') {
            const std::size_t gaps = gap_run_length(peptide, site);
            std::memset(next, '-', TRIPLET * gaps);
            next += TRIPLET * gaps;
            site += gaps;
            continue;
        }
        // Residues whose triplets are plain codons of their own go out in one copy.
        const std::size_t limit = std::min(peptide.size(), site + (whole_triplets_end - cursor) / TRIPLET);
        const std::size_t run = plain_run_length(table, peptide.data(), site, limit, nucleotides.data() + cursor);
        std::memcpy(next, nucleotides.data() + cursor, TRIPLET * run);
        next += TRIPLET * run;
        cursor += TRIPLET * run;
        site += run;
        if (site < peptide.size() && peptide[site] != '-') {
            next = translate_unusual_site(table, site, cursor, next);
            ++site;
        }
    }
    return next;
}

// Everything but a plain codon of the residue: missing residues, IUPAC letters, N, X, mismatches.
char* AminoAcidTranslator::translate_unusual_site(const CodonLookup& table, std::size_t site, std::size_t& cursor,
                                                  char* next) {
    const auto residue = static_cast<unsigned char>(aa_seq[site]);
    const bool triplet_left = nt_seq.size() - cursor >= TRIPLET;
    const CodonLookupEntry& entry = table[residue];
    if (entry.codons == nullptr) {
        report_missing_residue();
        if (!triplet_left) return notify(site, cursor, SiteFailure::too_few_nucleotides, next);
        cursor += TRIPLET;  // the residue still owns its triplet: keep the frame
        return notify(site, cursor - TRIPLET, SiteFailure::missing_residue, next);
    }
    // Too few nucleotides left: do_checks has reported the record already.
    if (!triplet_left) return notify(site, cursor, SiteFailure::too_few_nucleotides, next);
    const char* triplet = nt_seq.data() + cursor;
    cursor += TRIPLET;
    if (const char* piece = resolve_unusual_triplet(static_cast<char>(residue), *entry.codons, {triplet, TRIPLET})) {
        put_triplet(next, piece);
        return next;
    }
    report_mismatch(site);
    return notify(site, cursor - TRIPLET, SiteFailure::mismatch, next);
}

char* AminoAcidTranslator::notify(std::size_t site, std::size_t cursor, SiteFailure reason, char* next) {
    if (observer_ == nullptr) return next;
    const std::string_view piece = observer_->failed(site, cursor, reason).substr(0, TRIPLET);
    if (piece.empty()) return next;
    std::memcpy(next, piece.data(), piece.size());
    return next + piece.size();
}

std::string AminoAcidTranslator::reverse_translate_and_compare(const CodonLookup& table) {
    std::string row;
    reverse_translate_and_compare(table, row);
    return row;
}

}  // namespace ntpepmap
