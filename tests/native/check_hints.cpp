// Self-checks of the two hints a failing locus may give: the other built-in codes the whole locus
// fits (against each code's own translation of the locus), and the signs of a trimmed alignment
// (rows cut from a CDS's protein, read in any frame and case, against unrelated and whole rows).
#include <algorithm>
#include <cstdio>
#include <random>
#include <source_location>
#include <string>
#include <vector>

#include "engine/code_fit.hpp"
#include "engine/locus_inputs.hpp"
#include "engine/locus_settings.hpp"
#include "engine/trim_signs.hpp"

namespace {

using namespace ntpepmap;

int failures = 0;

void check(bool condition, const std::string& what, std::source_location where = std::source_location::current()) {
    if (condition) return;
    ++failures;
    std::fprintf(stderr, "line %u: %s\n", static_cast<unsigned>(where.line()), what.c_str());
}

template <class Call>
bool refused(Call call) {
    try {
        call();
    } catch (const engine::SettingError&) {
        return true;
    }
    return false;
}

// Whether the locus, translated whole under the code as the tool itself does, mismatches masked,
// fails no residue and leaves out at most left_out records.
bool fits_whole(const std::vector<engine::LocusRecord>& records, TableNumber number, engine::LocusSettings settings,
                std::size_t left_out) {
    settings.engine.mismatch = engine::MismatchPolicy::mask;
    const engine::GeneticCode code(*engine::GeneticCode::built_in(number), number);
    const engine::Locus locus(code, settings, records);
    std::vector<std::string> rooms(records.size(), std::string(locus.row_room(), '?'));
    std::vector<char*> room_starts;
    for (std::string& room : rooms) room_starts.push_back(room.data());
    const engine::LocusResult result = locus.translate("", {.rows = room_starts, .text = nullptr});
    std::size_t out = 0;
    bool fits = true;
    for (const engine::ReportedRecord& each : result.records) {
        fits = fits && each.outcome.failed == 0;
        out += each.outcome.fate != engine::RecordFate::written;
    }
    return fits && out <= left_out;
}

struct CodeCase {
    const char* what;
    std::vector<engine::LocusRecord> records;
    std::vector<engine::LocusRecord> failing;
    std::size_t left_out;
    bool fits_two;  // vertebrate mitochondria's code among the answer
};

// Mitochondrial proteins threaded under the standard code: W on TGA, M on ATA.
const CodeCase CODE_CASES[] = {
    {"mitochondrial", {{"a", "MWKW-W", "ATGTGAAAATGATGG"}, {"b", "MW-MKW", "ATGTGGATAAAATGA"}},
     {{"0", "W", "TGA"}, {"1", "M", "ATA"}}, 0, true},
    // AGA is a stop in table 2: R there fails the whole locus, though not the codons that failed.
    {"AGA as R", {{"a", "MWKWRW", "ATGTGAAAATGAAGATGG"}, {"b", "MW-MKW", "ATGTGGATAAAATGA"}},
     {{"0", "W", "TGA"}, {"1", "M", "ATA"}}, 0, false},
    // A CDS too short, held back under any code: no more than the run left out.
    {"too short, none left out", {{"a", "MWKWDW", "ATGTGAAAATGAGATTGG"}, {"b", "MKWDLW", "ATGAAGTGA"}},
     {{"0", "W", "TGA"}}, 0, false},
    {"too short, one left out", {{"a", "MWKWDW", "ATGTGAAAATGAGATTGG"}, {"b", "MKWDLW", "ATGAAGTGA"}},
     {{"0", "W", "TGA"}}, 1, true},
    {"a CDS of another protein", {{"a", "MWKWDW", "ATGTGAAAATGAGATTGG"}, {"b", "MKWDLW", "CCCCCCCCCCCCCCCCCC"}},
     {{"0", "W", "TGA"}}, 1, false},
};

void check_codes_fitting_locus() {
    for (const CodeCase& each : CODE_CASES) {
        for (const unsigned threads : {1u, 3u}) {
            engine::LocusSettings settings;
            settings.threads = threads;
            const std::vector<TableNumber> found = engine::codes_fitting_locus(
                {.records = each.records, .failing = each.failing, .left_out = each.left_out, .code = 1}, settings);
            std::vector<TableNumber> expected;
            for (const TableNumber number : engine::codes_fitting(each.failing, settings.engine)) {
                if (number != 1 && fits_whole(each.records, number, settings, each.left_out)) expected.push_back(number);
            }
            check(found == expected, std::string(each.what) + ": the codes the whole locus fits");
            check(std::count(found.begin(), found.end(), 2) == (each.fits_two ? 1 : 0), std::string(each.what) + ": table 2");
        }
    }
}

const std::string STANDARD_CODONS[] = {"GCT", "TGT", "GAT", "GAA", "TTT", "GGT", "CAT", "ATT", "AAA", "CTG",
                                       "ATG", "AAT", "CCG", "CAG", "CGT", "TCT", "ACC", "GTG", "TGG", "TAT"};
constexpr std::string_view RESIDUES = "ACDEFGHIKLMNPQRSTVWY";

struct Protein {
    std::string residues;
    std::string cds;
};

Protein random_protein(std::mt19937& random, std::size_t length) {
    Protein protein;
    for (std::size_t index = 0; index < length; ++index) {
        const std::size_t pick = random() % RESIDUES.size();
        protein.residues += RESIDUES[pick];
        protein.cds += STANDARD_CODONS[pick];
    }
    return protein;
}

// The residues with [from, to) of each cut taken out, as a trimmer leaves a row.
std::string trimmed(const std::string& residues, std::initializer_list<std::pair<std::size_t, std::size_t>> cuts) {
    std::string row;
    for (std::size_t index = 0; index < residues.size(); ++index) {
        bool cut = false;
        for (const auto& [from, to] : cuts) cut = cut || (index >= from && index < to);
        if (!cut) row += residues[index];
    }
    return row;
}

std::string as_rna_lower_gapped(std::string cds) {
    for (char& base : cds) base = base == 'T' ? 'u' : static_cast<char>(base + ('a' - 'A'));
    return cds.insert(6, "--");
}

void check_found_in_stretches() {
    std::mt19937 random(7);
    const engine::CodonLetters standard = engine::codon_letters(GENETIC_CODES[0].amino_acids);
    const Protein protein = random_protein(random, 120);
    const std::string cut = trimmed(protein.residues, {{10, 25}, {70, 90}});
    std::string ambiguous = protein.cds;
    ambiguous.replace(3 * 40, 3, "NNN");
    const struct {
        const char* what;
        std::string row;
        std::string cds;
        bool found;
    } cases[] = {
        {"trimmed", cut, protein.cds, true},
        {"trimmed, gapped as aligned", "--" + cut.substr(0, 30) + "-.~" + cut.substr(30), protein.cds, true},
        {"trimmed, lower-case RNA with gaps", cut, as_rna_lower_gapped(protein.cds), true},
        {"trimmed, second frame", cut, "GA" + protein.cds, true},
        {"trimmed, ambiguous codon", cut, ambiguous, true},
        {"untrimmed: one stretch", protein.residues, protein.cds, false},
        {"too short to tell", trimmed(protein.residues.substr(0, 12), {{4, 7}}), protein.cds, false},
        {"unrelated", random_protein(random, 60).residues, protein.cds, false},
    };
    for (const auto& each : cases) {
        check(engine::found_in_stretches(each.row, each.cds, standard) == each.found, each.what);
    }
    // A caller's code that lacks a codon reads it as any residue, as an ambiguous one.
    engine::CodonLetters own = engine::codon_letters({});
    for (std::size_t pick = 0; pick < RESIDUES.size(); ++pick) {
        engine::give_letter(own, STANDARD_CODONS[pick], static_cast<unsigned char>(RESIDUES[pick]));
    }
    check(engine::found_in_stretches(cut, protein.cds, own), "a caller's code");
}

void check_looks_trimmed() {
    std::mt19937 random(11);
    const engine::CodonLetters standard = engine::codon_letters(GENETIC_CODES[0].amino_acids);
    std::vector<Protein> proteins;
    std::vector<std::string> rows;
    for (std::size_t index = 0; index < 300; ++index) {
        proteins.push_back(random_protein(random, 80));
        rows.push_back(trimmed(proteins.back().residues, {{5, 20}, {50, 60}}));
    }
    rows[4] = proteins[4].residues;  // untrimmed
    std::vector<engine::LocusRecord> records;
    for (std::size_t index = 0; index < rows.size(); ++index) records.push_back({"r", rows[index], proteins[index].cds});
    const auto left_out = [](std::size_t from, std::size_t count) {
        std::vector<std::size_t> indices(count);
        for (std::size_t at = 0; at < count; ++at) indices[at] = from + at;
        return indices;
    };
    // 250 left out: every third is looked at, from the first; record 4 is the second's neighbour.
    check(engine::looks_trimmed(records, left_out(5, 250), standard), "more than half, all trimmed");
    check(!engine::looks_trimmed(records, left_out(5, 150), standard), "half is not more than half");
    check(engine::looks_trimmed(records, left_out(3, 250), standard), "the untrimmed one not looked at");
    check(!engine::looks_trimmed(records, left_out(4, 250), standard), "the untrimmed one looked at");
    check(!engine::looks_trimmed({}, {}, standard), "no records");
    check(refused([&] { (void)engine::looks_trimmed(records, left_out(299, 2), standard); }),
          "a record beyond the locus refused");
}

// A code given by number or as the caller's own letters: what the locus, the table hint and the
// trim hint each make of it.
void check_code_settings() {
    const engine::CodeSetting mitochondrial{.number = 2, .own = {}, .is_own = false};
    const engine::CodeSetting own{.number = 0, .own = {{U'M', {"ATG", "ata"}}, {U'I', {"ATA"}}}, .is_own = true};
    const engine::CodeSetting unknown{.number = 7, .own = {}, .is_own = false};
    check(engine::codon_letters_of(mitochondrial) == engine::codon_letters(engine::built_in_code(2).amino_acids),
          "a built-in code's letters");
    const engine::CodonLetters letters = engine::codon_letters_of(own);
    check(letters[35] == U'M' && letters[34] == U'I' && letters[0] == U'X',
          "own letters, a codon given twice the later's");
    check(engine::built_in_number(mitochondrial) == 2, "a built-in code's number");
    check(refused([&] { (void)engine::built_in_number(own); }), "an own code has no number");
    CodonTable table;
    check(engine::genetic_code(own, table).letters_encoded_by("ATG") == U"M" && table.size() == 2, "own table");
    check(refused([&] { (void)engine::genetic_code(unknown, table); }), "no built-in code 7");
    check(refused([&] { (void)engine::codon_letters_of(unknown); }), "no letters of code 7");
}

// Each protein with the CDS record cds_of names; anything the engine cannot read refused.
void check_paired_records() {
    const reader::LetterFacts ascii{reader::KEEP};
    const reader::LetterFacts other{static_cast<std::uint8_t>(reader::KEEP | reader::NON_ASCII)};
    reader::RecordSet proteins;
    reader::RecordSet cds;
    proteins.take("p", "p", "MK", ascii);
    proteins.take("q", "q", "M-", ascii);
    cds.take("c", "c", "ATGAAA", ascii);
    cds.take("d", "d", "ATG", ascii);
    const std::vector<std::size_t> crossed = {1, 0};
    const std::vector<engine::LocusRecord> records = engine::paired_records(proteins, cds, crossed);
    check(records.size() == 2 && records[0].name == "p" && records[0].cds == "ATG" && records[1].cds == "ATGAAA" &&
              records[1].row == "M-" && records[0].cds_acgt,
          "paired as cds_of says");
    const std::vector<std::size_t> beyond = {0, 2};
    const std::vector<std::size_t> short_of = {0};
    check(refused([&] { (void)engine::paired_records(proteins, cds, beyond); }), "a CDS index beyond the set");
    check(refused([&] { (void)engine::paired_records(proteins, cds, short_of); }), "one index short");
    cds.take("e", "e", "AT\xC3\xA9", other);
    const std::vector<std::size_t> to_other = {0, 2};
    check(refused([&] { (void)engine::paired_records(proteins, cds, to_other); }), "letters that are not ASCII");
}

}  // namespace

int main() {
    check_codes_fitting_locus();
    check_found_in_stretches();
    check_looks_trimmed();
    check_code_settings();
    check_paired_records();
    if (failures != 0) std::fprintf(stderr, "%d check(s) failed\n", failures);
    return failures == 0 ? 0 : 1;
}
