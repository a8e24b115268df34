// Self-checks of the record set: records of several files kept whole and looked at by index,
// whichever way their letters came (copied from a reading, written in place by a reading in
// pieces).
#include <cstdio>
#include <source_location>
#include <string>
#include <string_view>
#include <vector>

#include "reader/fasta_pieces.hpp"
#include "reader/reader.hpp"
#include "reader/record_set.hpp"

namespace {

using namespace ntpepmap::reader;

int failures = 0;

void check(bool condition, std::string_view what, std::source_location where = std::source_location::current()) {
    if (condition) return;
    ++failures;
    std::fprintf(stderr, "line %u: %.*s\n", static_cast<unsigned>(where.line()), static_cast<int>(what.size()),
                 what.data());
}

struct Expected {
    std::string_view identifier;
    std::string_view header;
    std::string sequence;
    std::size_t file;
};

void check_records(const RecordSet& set, const std::vector<Expected>& expected, std::string_view how) {
    check(set.size() == expected.size(), how);
    for (std::size_t index = 0; index < expected.size() && index < set.size(); ++index) {
        check(set.identifier(index) == expected[index].identifier, how);
        check(set.header(index) == expected[index].header, how);
        check(set.sequence(index) == expected[index].sequence, how);
        check(set.file(index) == expected[index].file, how);
    }
}

// A long record in pieces: its letters grow in the set's own buffer, past the records before it.
void read_in_pieces(std::string_view text, RecordSet& set, std::size_t piece) {
    const LetterClasses classes("ACGT");
    FastaPieces fasta(classes, set, [&](std::string_view run, TextStart start) {
        const std::size_t before = set.size();
        (void)read_records(run, Format::fasta, classes, set, start);
        return set.size() - before;
    });
    for (std::size_t at = 0; at < text.size(); at += piece) fasta.take(text.substr(at, piece));
    fasta.finish();
}

}  // namespace

int main() {
    const LetterClasses classes("ACGT");
    const std::string long_letters(3u << 20, 'A');
    std::string long_text = ">short one\nAC GT\n>long  of many\n";
    for (std::size_t at = 0; at < long_letters.size(); at += 60) long_text += long_letters.substr(at, 60) + "\n";
    long_text += ">last\nTT\n";

    RecordSet set;
    set.start_file(40);
    (void)read_records(">a x y\nAC\nGT\n>b\n\n>c \xC3\xA9\nN\xC3\xA9\n", Format::fasta, classes, set);
    set.start_file(long_text.size());
    read_in_pieces(long_text, set, 4096);
    const std::vector<Expected> expected = {
        {"a", "a x y", "ACGT", 0}, {"b", "b", "", 0}, {"c", "c \xC3\xA9", "N\xC3\xA9", 0},
        {"short", "short one", "ACGT", 1}, {"long", "long  of many", long_letters, 1}, {"last", "last", "TT", 1}};
    check_records(set, expected, "two files, the second read in pieces");
    check(set.width(2) == 2 && set.width(4) == long_letters.size(), "widths in characters");
    check(set.sequence_start(2, 0).empty() && set.sequence_start(2, 1) == "N" && set.sequence_start(2, 2) == "N\xC3\xA9" &&
              set.sequence_start(2, 3) == "N\xC3\xA9" && set.sequence_start(4, 3) == "AAA",
          "a sequence's start, whole characters");
    check(!set.facts(2).plain() && set.facts(3).plain(), "letter facts kept per record");

    // A CDS of upper-case A, C, G and T alone is told so, whichever way its letters were copied
    // (sixteen at a time or one by one); anything else is not.
    const LetterClasses cds_classes("ACGTUN-.");
    const std::string bases = "ATGAAGTGGCCCTTAGGA";  // more than sixteen letters
    const std::vector<std::pair<std::string, bool>> acgt_cases = {
        {bases, true}, {bases + "\n" + bases.substr(0, 5), true}, {"ACG", true},
        {bases + "a", false}, {"c" + bases, false}, {bases + "U", false}, {"N" + bases, false},
        {bases.substr(0, 8) + "-" + bases, false}, {bases + "\xC3\xA9", false}, {"", false},
        {"1 " + bases + " 20", false}};
    RecordSet cds_set;
    for (const auto& [letters, acgt] : acgt_cases) {
        const std::size_t index = cds_set.size();
        (void)read_records(">r\n" + letters + "\n", Format::fasta, cds_classes, cds_set);
        check(cds_set.size() == index + 1 && cds_set.facts(index).acgt_only() == acgt, "ACGT alone: " + letters);
    }
    check(!cds_set.facts(8).ascii(), "non-ASCII told");

    RecordSet clustal;
    (void)read_records("CLUSTAL W\n\nz  MK\ny  M-\n   #\n", std::nullopt, LetterClasses(), clustal);
    check(clustal.files() == 1 && clustal.file(1) == 0, "records taken with no file started are a file's");
    check(clustal.kept_columns() && *clustal.kept_columns() == std::vector<std::size_t>{0}, "kept columns");
    std::printf("record set: %d failure(s)\n", failures);
    return failures == 0 ? 0 : 1;
}
