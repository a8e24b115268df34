// Self-checks of the translator core that Python cannot see: the byte-indexed fast path
// against a direct reading of the per-residue steps, no-copy streamlining, report
// windows unreachable through pepthread, and the row when the sink throws.
#include <algorithm>
#include <cstdio>
#include <random>
#include <source_location>
#include <stdexcept>
#include <string>
#include <vector>

#include "iupac/iupac.hpp"
#include "tables/genetic_codes.hpp"
#include "translator/amino_acid_translator.hpp"
#include "translator/reports.hpp"
#include "translator/streamline.hpp"
#include "translator/utf8.hpp"

namespace {

using namespace ntpepmap;

int failures = 0;

void check(bool condition, std::string_view what, std::source_location where = std::source_location::current()) {
    if (condition) return;
    ++failures;
    std::fprintf(stderr, "line %u: %.*s\n", static_cast<unsigned>(where.line()), static_cast<int>(what.size()),
                 what.data());
}

void check_equal(std::string_view got, std::string_view expected, std::source_location where =
                                                                       std::source_location::current()) {
    if (got == expected) return;
    ++failures;
    std::fprintf(stderr, "line %u:\n  got      [%.*s]\n  expected [%.*s]\n", static_cast<unsigned>(where.line()),
                 static_cast<int>(got.size()), got.data(), static_cast<int>(expected.size()), expected.data());
}

struct RecordingSink final : ReportSink {
    std::vector<std::string> reports;
    void write(std::string_view report) override { reports.emplace_back(report); }
};

struct ThrowingSink final : ReportSink {
    void write(std::string_view) override { throw std::runtime_error("closed"); }
};

std::string framed(std::string_view message) { return framed_report("stem", "h", message); }

const CodonTable& table(TableNumber number) { return *find_codon_table(number); }

void check_clean_input_is_not_copied() {
    std::string storage;
    const std::string_view clean = "ACDEFGHIKLMNPQRSTVWY*-BJZX";
    check(streamline_peptide(clean, storage).data() == clean.data(), "a clean row is not copied");
    const std::string_view nucleotides = "ACGTNacgt ";
    check(streamline_nucleotides(nucleotides, storage).data() == nucleotides.data(), "clean nucleotides not copied");
}

// Windows that a pepthread call cannot show: the checks report first unless nt_len == 3 * residues.
void check_windows() {
    std::string nt90;
    for (int k = 0; k < 90; ++k) nt90 += static_cast<char>('0' + k % 10);
    const std::string m7 = mismatch_message("ABCDEFGHIJ", nt90, 7);
    check(m7.find("`" + nt90.substr(32) + "`,") != std::string::npos, "7 of 10 with 90 nt centres at 62, not 63");
    // The start falls on the second byte of the character: the window takes it whole.
    const std::string cut = std::string(31, 'A') + "\u00e9" + std::string(57, 'A');
    const std::string m_cut = mismatch_message("ABCDEFGHIJ", cut, 7);
    check(m_cut.find("`" + cut.substr(31) + "`,") != std::string::npos, "start widened to the character start");
}

void check_exception_safety() {
    ThrowingSink sink;
    AminoAcidTranslator record("h", "MWK", "h", "ATGAAAAAA", "stem", sink);
    record.streamline();
    std::string out = "prefix";
    try {
        record.reverse_translate_and_compare(CodonLookup(table(1)), out);
        check(false, "the sink's exception passes through");
    } catch (const std::runtime_error&) {
        check_equal(out, "prefix");  // left as it was
    }
}

// The per-residue steps read literally: lookup, take, cut check, N/X, exact match, IUPAC, mismatch.
std::string reference_row(std::string_view aa_seq, std::string_view nt_seq, const CodonTable& codon_table,
                          std::string& first_message) {
    const auto report = [&](std::string message) {
        if (first_message.empty()) first_message = std::move(message);
    };
    std::string row;
    std::size_t cursor = 0;
    for (std::size_t site = 0; site < aa_seq.size(); ++site) {
        const char residue = aa_seq[site];
        if (residue == '-') {
            row += "---";
            continue;
        }
        const auto entry = codon_table.find(static_cast<char32_t>(residue));
        const bool triplet_left = nt_seq.size() - cursor >= 3;
        if (entry == codon_table.end()) {
            report(std::string(MISSING_RESIDUE_MESSAGE));
            if (triplet_left) cursor += 3;
            continue;
        }
        if (!triplet_left) continue;
        const std::string triplet(nt_seq.substr(cursor, 3));
        cursor += 3;
        if (!utf8::is_valid(triplet)) {
            report(mismatch_message(aa_seq, nt_seq, site));
        } else if (residue == 'X' || triplet.find('N') != std::string::npos) {
            row += triplet;
        } else if (std::find(entry->second.begin(), entry->second.end(), triplet) != entry->second.end()) {
            row += triplet;
        } else if (const auto rescued = attempt_iupac_substitution(triplet, entry->second)) {
            row += *rescued;
        } else {
            report(mismatch_message(aa_seq, nt_seq, site));
        }
    }
    return row;
}

void check_against_reference() {
    constexpr std::string_view residues = "ACDEFGHIKLMNPQRSTVWY*-BJZX";
    const std::string_view bases[] = {"T", "C", "A", "G", "N", "R", "Y", "K", "M", "S", "W", "B", "D", "H", "V", "a",
                                      "n", "\u00e9"};
    std::mt19937 random(12345);
    for (const GeneticCodeDefinition& code : GENETIC_CODES) {
        const CodonTable& codon_table = table(code.number);
        const CodonLookup lookup(codon_table);
        for (int round = 0; round < 300; ++round) {
            std::string aa_seq, nt_seq;
            const std::size_t length = random() % 40;
            for (std::size_t k = 0; k < length; ++k) aa_seq += residues[random() % residues.size()];
            // Sometimes a byte or two short or over, to walk off the end.
            std::size_t bytes = 3 * length + random() % 3;
            if (random() % 3 == 0 && bytes >= 2) bytes -= 2;
            while (nt_seq.size() < bytes) {
                // Mostly plain bases so that whole codons often match.
                nt_seq += random() % 8 ? bases[random() % 4] : bases[random() % std::size(bases)];
            }
            RecordingSink sink;
            AminoAcidTranslator record("h", aa_seq, "h", nt_seq, "stem", sink);
            std::string first_message;
            check_equal(record.reverse_translate_and_compare(lookup),
                        reference_row(aa_seq, nt_seq, codon_table, first_message));
            check(sink.reports.size() == (first_message.empty() ? 0u : 1u), "at most the first problem is reported");
            if (!first_message.empty() && !sink.reports.empty()) check_equal(sink.reports[0], framed(first_message));
        }
    }
}

}  // namespace

int main() {
    check_clean_input_is_not_copied();
    check_windows();
    check_exception_safety();
    check_against_reference();
    if (failures != 0) std::fprintf(stderr, "%d check(s) failed\n", failures);
    return failures == 0 ? 0 : 1;
}
