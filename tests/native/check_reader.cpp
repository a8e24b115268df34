// Self-checks of the reader that Python cannot see: every prefix of every sample read from
// a heap block of exactly its size (no terminating NUL: under AddressSanitizer a read past
// the end fails), only ReadError ever thrown, what each record handed over holds, and a
// sink's own exception passing through unchanged.
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <random>
#include <source_location>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "reader/fasta_pieces.hpp"
#include "reader/fasta_reader.hpp"
#include "reader/reader.hpp"
#include "translator/utf8.hpp"

namespace {

using namespace ntpepmap::reader;

// What went wrong, once per kind: every prefix of a sample tends to fail alike.
std::vector<std::string> failures;

void check(bool condition, std::string_view what, std::source_location where = std::source_location::current()) {
    std::string failure = std::to_string(where.line()) + ": " + std::string(what);
    if (!condition && std::find(failures.begin(), failures.end(), failure) == failures.end()) {
        failures.push_back(std::move(failure));
    }
}

constexpr std::string_view PLAIN = "ACGT";

const std::vector<std::string_view> SAMPLES = {
    ">a desc\nAC GT\n>b\nAC\n\n",
    "\xEF\xBB\xBF\r\n>a x\xFF\r\n  1 acgt 12 \xC3\xA9\r\n>b\r\n\r\n",
    ">a\rACGT\r>b x\rAC\r",
    ">a>b\nAC>GT\n>\n",
    ">\xC3\nAC\n",
    ">a\nAC\xE2\x82\n",
    "CLUSTAL W\n\na  MK-W 4\nb  MKLW 4\n   ** *\n\na  LF\nb  LF 6\n",
    "CLUSTAL\n\na MK\nb\n\nb MK\n",
    "MUSCLE (3.8)\n\na MK\na MK\n\na LF\na LF\n",
    "2 6\na MKW\nLFS\nb MKWLFS\n",
    "2 6\na MKW\nb MKW\n\nLFS\nLFS\n",
    "3 4 I\na MK\nb MK\nc M\xC3\xA9\n\nLF\nLF\nLF\n",
    "1 999999999\nx M\n",
    "9999999999 1\n",
    ">long\nACGTACGTACGTACGTACGTACGTACGTACGTACGTACGTAC\n"
    ">mixed\nACGTACGTACGTACGTACGTACGTACGTACGTAcGTACGTAC 12345678 ACGTACGTACGTACGT\xC3\xA9" "ACGTACGTACGTACGTACG\n",
};

// copy_letters against a literal filter, on random texts that mix pieces of plain letters
// with every kind of byte at every place of a piece.
void check_copy_against_filter() {
    const std::string_view alphabet[] = {"ACGTACGTACGTACGT", "ACGT", "acgt", "N-", " ", "\n", "\r\n", "7", "\xC3\xA9",
                                         "Q", "\x01"};
    const std::string_view plain_sets[] = {PLAIN, "", "ACGTUN-.", "ACDEFGHIKLMNPQRSTVWY*-"};
    std::mt19937 random(7);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        while (text.size() < random() % 120) text += alphabet[random() % std::size(alphabet)];
        const std::string_view plain = plain_sets[random() % std::size(plain_sets)];
        std::string expected;
        bool unusual = false;
        for (const char byte : text) {
            const auto value = static_cast<unsigned char>(byte);
            if (is_white_space(value) || is_digit(value)) continue;
            expected += byte;
            unusual = unusual || plain.find(byte) == std::string_view::npos;
        }
        std::string copied(text.size(), '\0');
        LetterFacts facts;
        copied.resize(copy_letters(text, LetterClasses(plain), copied.data(), facts));
        check(copied == expected, "copy_letters kept other bytes than the filter");
        check(facts.plain() == !unusual, "copy_letters: plain is wrong");
        check(facts.ascii() == (expected.find('\xC3') == std::string::npos), "copy_letters: ascii is wrong");
    }
}

struct Collected final : RecordSink {
    void take(std::string_view identifier, std::string_view header, std::string_view sequence,
              LetterFacts facts) override {
        check(header.starts_with(identifier), "a header that does not start with its identifier");
        check(!identifier.empty(), "an empty identifier");
        check(std::none_of(identifier.begin(), identifier.end(),
                           [](char c) { return is_white_space(static_cast<unsigned char>(c)); }),
              "white space in an identifier");
        check(ntpepmap::utf8::is_valid(identifier) && ntpepmap::utf8::is_valid(sequence), "text that is not UTF-8");
        bool ascii = true;
        bool plain = true;
        for (const char letter : sequence) {
            const auto byte = static_cast<unsigned char>(letter);
            check(!is_white_space(byte) && !is_digit(byte), "white space or a digit in a sequence");
            ascii = ascii && byte < 0x80;
            plain = plain && PLAIN.find(letter) != std::string_view::npos;
        }
        check(facts.ascii() == ascii && facts.plain() == plain, "facts that do not fit the letters");
        ++records;
    }
    std::size_t records = 0;
};

struct Kept final : RecordSink {
    void take(std::string_view identifier, std::string_view header, std::string_view sequence, LetterFacts) override {
        records.emplace_back(identifier, sequence);
        headers.emplace_back(header);
    }
    std::vector<std::pair<std::string, std::string>> records;
    std::vector<std::string> headers;
};

// What a FASTA reading gives, records or message, as one text to compare.
template <typename Read>
std::string fasta_outcome(Read read) {
    Kept kept;
    try {
        read(kept);
    } catch (const ReadError& error) {
        return error.what();
    }
    std::string text;
    for (std::size_t index = 0; index < kept.records.size(); ++index) {
        text += kept.headers[index] + "|" + kept.records[index].first + "|" + kept.records[index].second + "\n";
    }
    return text;
}

// Given in two pieces cut anywhere, or a byte at a time, a text reads as it does whole.
void read_in_pieces(std::string_view text) {
    const LetterClasses classes(PLAIN);
    const std::string whole = fasta_outcome([&](Kept& kept) { (void)read_records(text, Format::fasta, classes, kept); });
    const auto in_pieces = [&](const std::vector<std::string_view>& pieces) {
        return fasta_outcome([&](Kept& kept) {
            FastaPieces reader(classes, kept, [&](std::string_view run, TextStart start) {
                const std::size_t before = kept.records.size();
                (void)read_records(run, Format::fasta, classes, kept, start);
                return kept.records.size() - before;
            });
            for (const std::string_view piece : pieces) reader.take(piece);
            reader.finish();
        });
    };
    for (std::size_t cut = 0; cut <= text.size(); ++cut) {
        check(in_pieces({text.substr(0, cut), text.substr(cut)}) == whole, "a text in two pieces read otherwise");
    }
    std::vector<std::string_view> bytes;
    for (std::size_t index = 0; index < text.size(); ++index) bytes.push_back(text.substr(index, 1));
    check(in_pieces(bytes) == whole, "a text a byte at a time read otherwise");
}

// Read side by side, in any number of runs: where every run lays out and every letter is ASCII,
// the records are read_records' own (which must then read the text).
void read_in_runs(std::string_view text) {
    const LetterClasses classes(PLAIN);
    for (std::size_t parts = 2; parts <= 4; ++parts) {
        const auto runs = fasta_runs(text, parts);
        if (!runs) continue;
        std::vector<FastaRecordText> laid_out;
        bool refused = false;
        for (const std::string_view run : *runs) refused = refused || !lay_out_fasta(run, laid_out);
        if (refused) continue;
        Kept side_by_side;
        bool ascii = true;
        for (const FastaRecordText& record : laid_out) {
            std::string letters(record.body.size(), '\0');
            LetterFacts facts;
            letters.resize(copy_letters(record.body, classes, letters.data(), facts));
            ascii = ascii && facts.ascii();
            side_by_side.records.emplace_back(record.identifier, letters);
        }
        if (!ascii) continue;
        Kept alone;
        try {
            (void)read_records(text, Format::fasta, classes, alone);
        } catch (const ReadError&) {
            check(false, "records read side by side from a text that read_records refuses");
            continue;
        }
        check(side_by_side.records == alone.records, "records read side by side differ from read_records'");
    }
}

void read_every_prefix(std::string_view sample) {
    const LetterClasses classes(PLAIN);
    const std::optional<Format> formats[] = {std::nullopt, Format::fasta, Format::clustal, Format::phylip};
    for (std::size_t size = 0; size <= sample.size(); ++size) {
        const auto block = std::make_unique<char[]>(size);  // exactly the prefix, nothing after it
        std::copy_n(sample.data(), size, block.get());
        read_in_runs(std::string_view(block.get(), size));
        read_in_pieces(std::string_view(block.get(), size));
        for (const auto& format : formats) {
            Collected sink;
            try {
                const Format found = read_records(std::string_view(block.get(), size), format, classes, sink);
                check(!format || found == *format, "another format than the one asked for");
                check(sink.records > 0, "a file read without records");
            } catch (const ReadError& error) {
                check(std::string_view(error.what()).find('\n') == std::string_view::npos, "a message of two lines");
            } catch (...) {
                check(false, "an exception other than ReadError");
            }
        }
    }
}

struct Stop {};

struct StoppingSink final : RecordSink {
    void take(std::string_view, std::string_view, std::string_view, LetterFacts) override { throw Stop{}; }
};

void check_sink_exception_passes() {
    const LetterClasses classes;
    for (const std::string_view sample : {SAMPLES[0], SAMPLES[6], SAMPLES[9], SAMPLES[10]}) {
        StoppingSink sink;
        bool stopped = false;
        try {
            (void)read_records(sample, std::nullopt, classes, sink);
        } catch (const Stop&) {
            stopped = true;
        } catch (...) {
        }
        check(stopped, "the sink's exception did not come out unchanged");
    }
}

}  // namespace

int main() {
    for (const std::string_view sample : SAMPLES) read_every_prefix(sample);
    check_sink_exception_passes();
    check_copy_against_filter();
    for (const std::string& failure : failures) std::fprintf(stderr, "line %s\n", failure.c_str());
    std::printf("%zu samples, every prefix in every format: %zu kinds of failure\n", SAMPLES.size(), failures.size());
    return failures.empty() ? 0 : 1;
}
