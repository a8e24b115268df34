// Self-checks of a whole locus through engine::Locus, as the tool's extension drives it: each
// record's fate from one table of pairs, the stop tally, padded rows, the FASTA text against the
// rows (records left out closed up), and a locus split among threads against it on one.
#include <cstdio>
#include <random>
#include <source_location>
#include <string>
#include <vector>

#include "engine/code_fit.hpp"
#include "engine/locus.hpp"
#include "writer/fasta_text.hpp"

namespace {

using namespace ntpepmap;
using engine::RecordFate;

int failures = 0;

void check(bool condition, const std::string& what, std::source_location where = std::source_location::current()) {
    if (condition) return;
    ++failures;
    std::fprintf(stderr, "line %u: %s\n", static_cast<unsigned>(where.line()), what.c_str());
}

const engine::GeneticCode STANDARD(*engine::GeneticCode::built_in(1), 1);

// A locus translated into rooms of its own, as a caller makes them: the result's rows and text
// lie in them.
struct Run {
    engine::LocusResult result;
    std::vector<std::string> rooms;
    std::string text;
};

Run run(const std::vector<engine::LocusRecord>& records, engine::LocusSettings settings) {
    const engine::Locus locus(STANDARD, settings, records);
    Run done;
    if (settings.output == engine::LocusOutput::fasta_text) {
        done.text.assign(locus.text_room(), '?');
        done.result = locus.translate("stem", {.rows = {}, .text = done.text.data()});
        return done;
    }
    done.rooms.assign(records.size(), std::string(locus.row_room(), '?'));
    std::vector<char*> rooms;
    for (std::string& room : done.rooms) rooms.push_back(room.data());
    done.result = locus.translate("stem", {.rows = rooms, .text = nullptr});
    return done;
}

// Each pair alone in a locus, searched for its coding region unless told: its fate (written when
// it has nothing to tell) and its row.
struct FateCase {
    const char* what;
    const char* row;
    const char* cds;
    engine::MismatchPolicy mismatch;
    RecordFate fate;
    const char* written;  // the codon row; "" when left out
    std::size_t repeats = 1;  // row and CDS repeated so often
    bool locate = true;
};

const FateCase FATE_CASES[] = {
    {"clean", "MK-W", "ATGAAGTGG", engine::MismatchPolicy::mask, RecordFate::written, "ATGAAG---TGG"},
    {"mismatch masked", "MKW", "ATGGATTGG", engine::MismatchPolicy::mask, RecordFate::written, "ATGNNNTGG"},
    {"mismatch kept", "MKW", "ATGGATTGG", engine::MismatchPolicy::keep, RecordFate::written, "ATGGATTGG"},
    {"mismatch dropped", "MKW", "ATGGATTGG", engine::MismatchPolicy::drop, RecordFate::dropped, ""},
    {"wrong pairing", "MKWDL", "CCCCCCCCCCCCCCC", engine::MismatchPolicy::mask, RecordFate::wrong_pairing, ""},
    {"too short", "MKWD", "ATGAAGTGG", engine::MismatchPolicy::mask, RecordFate::too_short, ""},
    {"unplaced", "MKWD", "CCCCCCCCCCCCCCCCCCCC", engine::MismatchPolicy::mask, RecordFate::unplaced, ""},
    {"located", "MKW", "GGGATGAAGTGGTAAGG", engine::MismatchPolicy::mask, RecordFate::written, "ATGAAGTGG"},
    {"terminal stop", "MK*", "ATGAAGTAA", engine::MismatchPolicy::mask, RecordFate::written, "ATGAAGTAA"},
    // No anchor for the frameshift threading near where the stretch starts, beyond 200 residues.
    {"long wrong pairing, unsearched", "MKWDL", "CCCCCCCCCCCCCCC", engine::MismatchPolicy::mask,
     RecordFate::wrong_pairing, "", 50, false},
};

std::string repeated(std::string_view text, std::size_t times) {
    std::string whole;
    for (std::size_t time = 0; time < times; ++time) whole += text;
    return whole;
}

void check_fates() {
    for (const FateCase& each : FATE_CASES) {
        engine::LocusSettings settings;
        settings.engine.mismatch = each.mismatch;
        settings.engine.locate = each.locate;
        const std::string row = repeated(each.row, each.repeats);
        const std::string cds = repeated(each.cds, each.repeats);
        const Run done = run({{"r", row, cds}}, settings);
        const engine::LocusResult& result = done.result;
        const RecordFate fate = result.records.empty() ? RecordFate::written : result.records[0].outcome.fate;
        check(fate == each.fate, std::string(each.what) + ": fate " +
                                     std::string(engine::RECORD_FATE_NAMES[fate]));
        const std::string written = result.rows[0] ? std::string(*result.rows[0]) : "";
        check(written == each.written, std::string(each.what) + ": row " + written);
        check(result.rows[0].has_value() == (fate == RecordFate::written), std::string(each.what) + ": left out");
    }
}

// Stop codons under '*' are counted by column; a narrower row is padded and told.
void check_stop_tally_and_padding() {
    const std::vector<engine::LocusRecord> records = {
        {"a", "MK*-", "ATGAAGTAA"}, {"b", "M-K*", "ATGAAGTGA"}, {"c", "MK", "ATGAAG"}, {"d", "M*K-", "ATGTAGAAG"}};
    const Run done = run(records, {});
    const engine::LocusResult& result = done.result;
    check(result.width == 4, "width");
    check(result.stop_codons == 3, "stop codons " + std::to_string(result.stop_codons));
    check(result.stop_columns == std::vector<std::size_t>{2, 3, 4}, "stop columns");
    check(result.padded == std::vector<std::pair<std::size_t, std::size_t>>{{2, 2}}, "padded rows");
    check(result.rows[2] == std::string_view("ATGAAG------"), "padded row written");
    // Only the internal stop codon is a record to tell.
    check(result.records.size() == 1 && result.records[0].index == 3, "records told");
}

// Rows read in place or made even, CDS read in place or prepared: each pair, repeated across
// the sixteen-byte scans and beside a wider row, writes the codons its plain form writes.
struct LetterCase {
    const char* what;
    const char* row;
    const char* cds;
    bool cds_acgt;        // as the reader tells a CDS of upper-case A, C, G and T alone
    const char* written;  // of one repeat
};

const LetterCase LETTER_CASES[] = {
    {"plain", "MK-W", "ATGAAGTGG", false, "ATGAAG---TGG"},
    {"plain, told ACGT", "MK-W", "ATGAAGTGG", true, "ATGAAG---TGG"},
    {"lower-case row", "mk-w", "ATGAAGTGG", false, "ATGAAG---TGG"},
    {"row with '.' and '~'", "MK.W~", "ATGAAGTGG", false, "ATGAAG---TGG---"},
    {"lower-case CDS", "MK-W", "atgaagtgg", false, "atgaag---tgg"},
    {"RNA CDS", "MK-W", "AUGAAGUGG", false, "AUGAAG---UGG"},
    {"gaps in the CDS", "MK-W", "ATG-AAG.TGG", false, "ATGAAG---TGG"},
};

void check_letters_read_in_place() {
    constexpr std::size_t REPEATS = 9;
    for (const LetterCase& each : LETTER_CASES) {
        const std::string row = repeated(each.row, REPEATS);
        const std::string cds = repeated(each.cds, REPEATS);
        const std::string wider(row.size() + 2, '-');
        engine::LocusSettings settings;
        settings.engine.locate = false;
        const Run done = run({{"r", row, cds, each.cds_acgt}, {"wide", wider, ""}}, settings);
        const std::string expected = repeated(each.written, REPEATS) + "------";
        const std::string written = done.result.rows[0] ? std::string(*done.result.rows[0]) : "left out";
        check(written == expected, std::string(each.what) + ": row " + written);
        check(done.result.padded == std::vector<std::pair<std::size_t, std::size_t>>{{0, row.size()}},
              std::string(each.what) + ": padded");
    }
}

// A locus of every fate, about a megabyte: split among threads when asked.
std::vector<std::pair<std::string, std::string>> mixed_pairs(std::size_t count) {
    std::mt19937 random(5);
    const std::string residues = "KWDL-*";
    const char* const codons[] = {"AAG", "TGG", "GAT", "CTG", "", "TAA"};
    std::vector<std::pair<std::string, std::string>> pairs;
    for (std::size_t index = 0; index < count; ++index) {
        std::string row = "M";
        std::string cds = "ATG";
        for (int column = 1; column < 300; ++column) {
            const std::size_t pick = random() % (index % 7 == 0 ? 6 : 5);
            row += residues[pick];
            cds += codons[pick];
        }
        switch (index % 6) {
            case 1: cds.replace(3, 3, "CCC"); break;                             // a mismatch
            case 2: cds.resize(cds.size() - 4); break;                           // runs out
            case 3: cds.insert(0, "GGCTTA").append("TAACACA"); break;        // inside an mRNA
            case 4: cds.assign(cds.size(), 'C'); break;                          // not its CDS
            case 5: row.resize(row.size() - index % 11); break;                  // padded
        }
        pairs.emplace_back(std::move(row), std::move(cds));
    }
    return pairs;
}

// Everything a result tells, as text: equal texts, equal results.
std::string told(const engine::LocusResult& result) {
    std::string text = std::to_string(result.width) + " " + std::to_string(result.stop_codons) + "\n";
    for (const auto& row : result.rows) text += row ? std::string(*row) + "\n" : "-\n";
    text.append(result.text);
    for (const engine::ReportedRecord& each : result.records) {
        const engine::RecordOutcome& outcome = each.outcome;
        text += std::to_string(each.index) + " " + std::to_string(each.row_length) + " " +
                std::string(engine::RECORD_FATE_NAMES[outcome.fate]) + " " + std::to_string(outcome.failed) + " " +
                std::to_string(outcome.problems.size()) + " " + std::to_string(outcome.frameshifts.size()) + " " +
                std::to_string(outcome.stops.size()) + "\n";
    }
    for (const std::size_t index : result.clean_located) text += std::to_string(index) + " ";
    for (const std::size_t column : result.stop_columns) text += std::to_string(column) + " ";
    for (const auto& [index, width] : result.padded) text += std::to_string(index) + ":" + std::to_string(width) + " ";
    return text + result.reports;
}

// The FASTA text is the full rows, each put as the writer puts a record, those left out closed up.
std::string text_of_rows(const std::vector<engine::LocusRecord>& records, const engine::LocusResult& result,
                         std::size_t wrap) {
    std::string text;
    for (std::size_t index = 0; index < records.size(); ++index) {
        if (!result.rows[index] || result.rows[index]->size() != 3 * result.width) continue;
        const std::string_view row = *result.rows[index];
        std::string record(writer::fasta_record_size(records[index].name.size(), row.size(), row.size(), wrap), '?');
        writer::put_fasta_record(record.data(), records[index].name, row, wrap);
        text += record;
    }
    return text;
}

void check_text_and_threads() {
    const auto pairs = mixed_pairs(1200);
    std::vector<std::string> names;
    for (std::size_t index = 0; index < pairs.size(); ++index) names.emplace_back("r").append(std::to_string(index));
    std::vector<engine::LocusRecord> records;
    for (std::size_t index = 0; index < pairs.size(); ++index) {
        records.push_back({names[index], pairs[index].first, pairs[index].second});
    }
    for (const auto mismatch : {engine::MismatchPolicy::mask, engine::MismatchPolicy::drop}) {
        engine::LocusSettings settings;
        settings.engine.mismatch = mismatch;
        settings.engine.locate = true;
        settings.engine.keep_reports = true;
        settings.threads = 1;
        const Run one = run(records, settings);  // its rows lie in its rooms
        const engine::LocusResult& alone = one.result;
        bool left_out = false;
        for (const auto& row : alone.rows) left_out = left_out || !row;
        check(left_out && !alone.clean_located.empty() && !alone.padded.empty(), "a locus of every kind");
        settings.threads = 3;
        check(told(run(records, settings).result) == told(alone), "three threads as one, rows");
        settings.output = engine::LocusOutput::fasta_text;
        for (const std::size_t wrap : {std::size_t{0}, std::size_t{60}}) {
            settings.wrap = wrap;
            for (const unsigned threads : {1u, 3u}) {
                settings.threads = threads;
                const Run text = run(records, settings);
                check(text.result.text == text_of_rows(records, alone, wrap), "the text is the full rows");
                check(text.result.text.data() == text.text.data(), "the text at the start of its room");
            }
        }
    }
}

// The codes a locus's failing codons fit, asked at once, are those under which a locus of them,
// one record per codon, writes each without a failure.
void check_codes_fitting() {
    const std::vector<std::vector<engine::LocusRecord>> codon_sets = {
        {{"0", "W", "TGA"}, {"1", "M", "ATA"}},                   // vertebrate mitochondria
        {{"0", "M", "CTG"}, {"1", "*", "TAG"}, {"2", "U", "tga"}},  // an initiator, a stop, read-through
        {{"0", "K", "AAR"}, {"1", "S", "AGY"}, {"2", "L", "CTN"}},  // ambiguity letters
        {{"0", "K", "GGG"}}};
    for (const auto& codons : codon_sets) {
        std::vector<TableNumber> expected;
        for (const GeneticCodeDefinition& definition : GENETIC_CODES) {
            const engine::GeneticCode code(*engine::GeneticCode::built_in(definition.number), definition.number);
            const engine::Locus locus(code, {}, codons);
            std::vector<std::string> rooms(codons.size(), std::string(locus.row_room(), '?'));
            std::vector<char*> room_starts;
            for (std::string& room : rooms) room_starts.push_back(room.data());
            const engine::LocusResult result = locus.translate("", {.rows = room_starts, .text = nullptr});
            bool fits = true;
            for (const engine::ReportedRecord& each : result.records) {
                fits = fits && each.outcome.fate == RecordFate::written && each.outcome.failed == 0;
            }
            if (fits) expected.push_back(definition.number);
        }
        check(engine::codes_fitting(codons, {}) == expected, "codes fitting " + std::string(codons[0].row));
        check(!expected.empty() || codons[0].cds == "GGG", "a code fits");
    }
}

}  // namespace

int main() {
    check_codes_fitting();
    check_fates();
    check_stop_tally_and_padding();
    check_letters_read_in_place();
    check_text_and_threads();
    if (failures != 0) std::fprintf(stderr, "%d check(s) failed\n", failures);
    return failures == 0 ? 0 : 1;
}
