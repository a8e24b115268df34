// Self-checks of the translator core: streamlining, framed reports, and the
// byte-indexed fast path against a direct reading of the per-residue steps.
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

struct Outcome {
    std::string row;
    std::vector<std::string> reports;
};

Outcome translate(std::string_view aa_seq, std::string_view nt_seq, const CodonTable& table,
                  std::string_view aa_header = "h", std::string_view nt_header = "h") {
    RecordingSink sink;
    AminoAcidTranslator record(aa_header, aa_seq, nt_header, nt_seq, "stem", sink);
    record.streamline();
    record.do_checks();
    Outcome outcome{record.reverse_translate_and_compare(CodonLookup(table)), {}};
    outcome.reports = std::move(sink.reports);
    return outcome;
}

std::string framed(std::string_view message) { return framed_report("stem", "h", message); }

const CodonTable& table(TableNumber number) { return *find_codon_table(number); }

void check_streamlining() {
    std::string storage;
    const std::pair<std::string_view, std::string_view> peptides[] = {
        {"M-K", "M-K"},          {" \t\n", ""},        {"mk-w\n", "MK-W"},
        {"M K", "MXK"},          {"OU19.*", "XXXXX*"}, {"\u3000M\u0085", "M"},
        {"\u00a0\u2028", ""},    {"\u00dfa", "SSA"},   {"\ufb01", "FI"},
        {"\u0131\u017f", "IS"},  {"\u0390", "XXX"},    {"\u00e9M\u2003K", "XMXK"},
        {"\x1cM", "XM"},         {"", ""},
    };
    for (const auto& [row, expected] : peptides) check_equal(streamline_peptide(row, storage), expected);

    const std::string_view clean = "ACDEFGHIKLMNPQRSTVWY*-BJZX";
    check(streamline_peptide(clean, storage).data() == clean.data(), "a clean row is not copied");
    check_equal(streamline_nucleotides("AT-G.C-", storage), "ATGC");
    check_equal(streamline_nucleotides("atg ", storage), "atg ");
    const std::string_view nucleotides = "ACGTNacgt";
    check(streamline_nucleotides(nucleotides, storage).data() == nucleotides.data(), "clean nucleotides not copied");
}

void check_reports() {
    check_equal(translate("MK", "ATGAAAC", table(1)).reports.at(0),
                framed("(NT -> h) is larger than (AA -> h) with a difference of 0 NT triplet(s)"));
    check_equal(translate("MKW", "ATG", table(1)).reports.at(0),
                framed("(AA -> h) is larger than (NT -> h) with a difference of 2 PEP char(s)"));
    const Outcome headers = translate("MKW", "ATG", table(1), "h", "h ");
    check(headers.reports.size() == 1, "one report per record");
    check_equal(headers.reports.at(0), framed("AA header -> h is not the same as NT header -> h "));

    const std::string expected_mismatch =
        " \n                ======\n                MISMATCH ERROR:\n                The following Amino Acid "
        "failed to match with its source Nucleotide pair at aa site 0.\n                Amino Acid: `M-K`,\n"
        "                ======\n                Source Nucleotide: `atgaaa`,\n                =======\n"
        "            ";
    const Outcome lower = translate("M-K", "atgaaa", table(1));
    check_equal(lower.row, "---");
    check(lower.reports.size() == 1, "later mismatches are dropped");
    check_equal(lower.reports.at(0), framed(expected_mismatch));

    // Windows around the proportional centre.
    const std::string aa100(100, 'K'), nt300(300, 'A');
    const std::string m = mismatch_message(aa100, nt300, 50);
    check(m.find("site 50.") != std::string::npos && m.find("`" + std::string(20, 'K') + "`") != std::string::npos,
          "peptide window 40..60");
    check(m.find("`" + std::string(60, 'A') + "`") != std::string::npos, "nucleotide window 120..180");
    std::string nt90;
    for (int k = 0; k < 90; ++k) nt90 += static_cast<char>('0' + k % 10);
    const std::string m7 = mismatch_message("ABCDEFGHIJ", nt90, 7);
    check(m7.find("`" + nt90.substr(32) + "`") != std::string::npos, "7 of 10 with 90 nt centres at 62");
    // A window edge inside a character moves outwards to the whole character.
    const std::string cut = std::string(31, 'A') + "\u00e9" + std::string(57, 'A');
    const std::string m_cut = mismatch_message("ABCDEFGHIJ", cut, 7);
    check(m_cut.find("`" + cut.substr(31) + "`") != std::string::npos, "start widened to the character start");
    const std::string end_cut = std::string(41, 'A') + "\u00e9" + std::string(20, 'A');
    const std::string m_end = mismatch_message(std::string(20, 'K'), end_cut.substr(0, 60), 4);
    check(m_end.find("`" + end_cut.substr(0, 43) + "`") != std::string::npos, "end widened to the character end");
}

void check_mends() {
    // A residue the table lacks keeps its triplet: the frame holds.
    const Outcome missing = translate("M*K", "ATGTAAAAA", table(27));
    check_equal(missing.row, "ATGAAA");
    check(missing.reports.size() == 1 && missing.reports[0] == framed(MISSING_RESIDUE_MESSAGE), "table miss text");
    // Running out of nucleotides leaves the rest of the row out, without aborting.
    check_equal(translate("MK", "ATG", table(1)).row, "ATG");
    check_equal(translate("MKW", "ATGAAAT", table(1)).row, "ATGAAA");
    check_equal(translate("-M-K-", "ATG", table(1)).row, "---ATG------");
    // A triplet cutting a character never reaches the output, not even for X or N.
    const Outcome cut = translate("MXX", "ATGNA\u00e9AA", table(1));
    check_equal(cut.row, "ATG");
    check(cut.reports.size() == 1 && cut.reports[0].find("aa site 1.") != std::string::npos, "cut triplet report");
    // A whole character inside one triplet is fine for X.
    check_equal(translate("MX", "ATGA\u00e9", table(1)).row, "ATGA\u00e9");
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
    check_streamlining();
    check_reports();
    check_mends();
    check_exception_safety();
    check_against_reference();
    if (failures != 0) std::fprintf(stderr, "%d check(s) failed\n", failures);
    return failures == 0 ? 0 : 1;
}
