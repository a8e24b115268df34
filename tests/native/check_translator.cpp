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

#include "literal_iupac.hpp"
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
        } else if (const auto rescued = literal::substitution(triplet, entry->second)) {
            row += *rescued;
        } else {
            report(mismatch_message(aa_seq, nt_seq, site));
        }
    }
    return row;
}

// One record through the fast path and through the literal steps, rows and reports compared.
void compare_with_reference(const CodonTable& codon_table, const CodonLookup& lookup, std::string_view aa_row,
                            std::string_view nt_row) {
    RecordingSink sink;
    AminoAcidTranslator record("h", aa_row, "h", nt_row, "stem", sink);
    record.streamline();
    std::string first_message;
    check_equal(record.reverse_translate_and_compare(lookup),
                reference_row(record.aa_seq, record.nt_seq, codon_table, first_message));
    check(sink.reports.size() == (first_message.empty() ? 0u : 1u), "at most the first problem is reported");
    if (!first_message.empty() && !sink.reports.empty()) check_equal(sink.reports[0], framed(first_message));
}

constexpr std::string_view RESIDUES = "ACDEFGHIKLMNPQRSTVWY*-BJZX";
constexpr std::string_view BASES[] = {"T", "C", "A", "G", "N", "R", "Y", "K", "M", "S", "W", "B", "D", "H", "V", "a",
                                      "n", "\u00e9"};

template <typename Items>
const auto& pick(std::mt19937& random, const Items& items) {
    return items[random() % std::size(items)];
}

std::string plain_triplet(std::mt19937& random) {
    std::string triplet;
    for (int k = 0; k < 3; ++k) triplet += pick(random, TCAG_BASES);
    return triplet;
}

// A peptide row of up to 40 sites, sometimes with letters that streamlining changes.
std::string random_peptide_row(std::mt19937& random) {
    constexpr std::string_view RAW_LETTERS[] = {"m", "k", ".", "?", "\u00e9", "\u00df"};
    std::string row;
    const std::size_t length = random() % 40;
    for (std::size_t k = 0; k < length; ++k) {
        if (random() % 10 == 0) {
            row += pick(random, RAW_LETTERS);
        } else {
            row += pick(random, RESIDUES);
        }
    }
    return row;
}

// About three nucleotides per site (characters, not bytes), sometimes a byte or two short or over, to walk off the end.
std::string random_nucleotides(std::mt19937& random, std::size_t sites) {
    std::size_t bytes = 3 * sites + random() % 3;
    if (random() % 3 == 0 && bytes >= 2) bytes -= 2;
    std::string nucleotides;
    while (nucleotides.size() < bytes) {
        // Mostly plain bases so that whole codons often match.
        nucleotides += random() % 8 ? BASES[random() % 4] : pick(random, BASES);
        if (random() % 50 == 0) nucleotides += random() % 2 ? '-' : '.';  // streamlining drops these
    }
    return nucleotides;
}

void check_built_in_tables() {
    std::mt19937 random(12345);
    for (const GeneticCodeDefinition& code : GENETIC_CODES) {
        const CodonTable& codon_table = table(code.number);
        const CodonLookup lookup(codon_table);
        for (int round = 0; round < 300; ++round) {
            const std::string aa_row = random_peptide_row(random);
            compare_with_reference(codon_table, lookup, aa_row, random_nucleotides(random, aa_row.size()));
        }
    }
}

// Codons a caller may list: mostly plain ones, else lower case, other lengths, IUPAC letters,
// non-ASCII bytes and repeats.
CodonList random_codon_list(std::mt19937& random) {
    constexpr std::string_view ODD_CODONS[] = {"atg", "aaa", "AT", "ATGA", "", "A", "A\u00e9", "\u00e9A", "AAR",
                                               "NNN", "RRA", "AT\xff", "---"};
    CodonList codons;
    const std::size_t length = random() % 7;  // empty lists included
    while (codons.size() < length) {
        const auto kind = random() % 8;
        if (kind == 0) {
            codons.emplace_back(pick(random, ODD_CODONS));
        } else if (kind == 1 && !codons.empty()) {
            codons.push_back(pick(random, codons));
        } else {
            codons.push_back(plain_triplet(random));
        }
    }
    return codons;
}

// A caller's table: most residue letters, and keys that no streamlined row holds or that
// the fast path must never treat as a residue.
CodonTable random_caller_table(std::mt19937& random) {
    constexpr char32_t AWKWARD_KEYS[] = {U'-', U'.', U'X', U'N', U'*', U'm', U'x', U'\u00e9',
                                         U'\u014d' /* low byte 'M' */, U'\u012d' /* low byte '-' */, U'\U0001F600'};
    CodonTable codon_table;
    for (const char letter : RESIDUES) {
        if (random() % 5 != 0) codon_table.insert_or_assign(static_cast<char32_t>(letter), random_codon_list(random));
    }
    for (const char32_t key : AWKWARD_KEYS) {
        if (random() % 2 == 0) codon_table.insert_or_assign(key, random_codon_list(random));
    }
    return codon_table;
}

void check_caller_tables() {
    std::mt19937 random(54321);
    for (int round = 0; round < 3000; ++round) {
        const CodonTable codon_table = random_caller_table(random);
        const CodonLookup lookup(codon_table);
        for (int row = 0; row < 4; ++row) {
            const std::string aa_row = random_peptide_row(random);
            compare_with_reference(codon_table, lookup, aa_row, random_nucleotides(random, aa_row.size()));
        }
    }
}

}  // namespace

int main() {
    check_clean_input_is_not_copied();
    check_windows();
    check_exception_safety();
    check_built_in_tables();
    check_caller_tables();
    if (failures != 0) std::fprintf(stderr, "%d check(s) failed\n", failures);
    return failures == 0 ? 0 : 1;
}
