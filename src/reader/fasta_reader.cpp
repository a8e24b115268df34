#include "reader/fasta_reader.hpp"

#include <algorithm>
#include <string>

#include "reader/record_checks.hpp"
#include "reader/text_lines.hpp"

namespace ntpepmap::reader {

namespace {

constexpr std::string_view WHITE_SPACE = " \t\n\v\f\r";

// Where the record after the one whose name line ends at `from` starts: the next '>' that
// opens a line, or the end. One fast byte search, as '>' hardly occurs elsewhere.
std::size_t next_record(std::string_view text, std::size_t from) noexcept {
    for (std::size_t marker = text.find('>', from); marker != std::string_view::npos;
         marker = text.find('>', marker + 1)) {
        if (text[marker - 1] == '\n') return marker;
    }
    return text.size();
}

// Where a record whose '>' is at `start` lies.
struct RecordPlace {
    std::string_view identifier;
    std::string_view header;
    std::size_t body_start;
    std::size_t end;  // where the next record starts, or the end of the text
};

RecordPlace place_of_record(std::string_view text, std::size_t start) noexcept {
    const std::size_t name_end = std::min(text.find('\n', start), text.size());
    const std::string_view name_line = text.substr(start + 1, name_end - start - 1);
    const std::size_t end = next_record(text, name_end);
    return {first_word(name_line).first, trim_white_space(name_line), std::min(name_end + 1, end), end};
}

class FastaReader {
public:
    FastaReader(std::string_view text, const LetterClasses& classes, RecordSink& sink, TextStart start)
        : text_(text), classes_(classes), sink_(sink), start_(start), record_(start.record - 1) {}

    void read() {
        const std::size_t first = text_.find_first_not_of(WHITE_SPACE);
        if (first == std::string_view::npos) throw ReadError("empty file");
        if (text_[first] != '>') {
            throw ReadError(line_at(first), 0, {}, "not FASTA: the first line does not start with '>'");
        }
        for (std::size_t start = first; start < text_.size(); start = read_record(start)) {}
    }

private:
    // Reads the record whose '>' is at `start`; returns where the next one starts.
    std::size_t read_record(std::size_t start) {
        ++record_;
        const auto [identifier, header, body_start, end] = place_of_record(text_, start);
        if (const auto problem = identifier_problem(identifier)) throw ReadError(line_at(start), record_, {}, *problem);
        const std::string_view body = text_.substr(body_start, end - body_start);
        if (letters_.size() < body.size()) letters_.resize(body.size());
        LetterFacts facts;
        std::size_t count = copy_letters(body, classes_, letters_.data(), facts);
        if (facts.lines_to_check()) check_body_lines(body_start, body, identifier);
        if (facts.digits_to_read(classes_)) count = read_frameshift_lines(body_start, body, identifier, facts);
        sink_.take(identifier, header, std::string_view(letters_.data(), count), facts);
        return end;
    }

    // Only for a record with bytes beyond ASCII or control bytes: finds the line at fault.
    void check_body_lines(std::size_t body_start, std::string_view body, std::string_view identifier) const {
        TextLines lines(body);
        std::string_view line;
        while (lines.next(line)) {
            if (const auto problem = sequence_line_problem(line)) {
                throw ReadError(line_at(body_start) + lines.number() - 1, record_, identifier, *problem);
            }
        }
    }

    // Reads the body again line by line, its frameshift digits kept; returns the letters' count.
    std::size_t read_frameshift_lines(std::size_t body_start, std::string_view body, std::string_view identifier,
                                      LetterFacts& facts) {
        std::string sequence;
        facts = {};
        TextLines lines(body);
        std::string_view line;
        while (lines.next(line)) {
            if (const auto problem = append_frameshift_line(sequence, line, classes_, facts)) {
                throw ReadError(line_at(body_start) + lines.number() - 1, record_, identifier, *problem);
            }
        }
        std::copy(sequence.begin(), sequence.end(), letters_.begin());
        return sequence.size();
    }

    [[nodiscard]] std::size_t line_at(std::size_t offset) const noexcept {
        return start_.line - 1 + line_number_at(text_, offset);
    }

    std::string_view text_;
    const LetterClasses& classes_;
    RecordSink& sink_;
    TextStart start_;
    std::size_t record_;
    std::string letters_;  // the sequence being read, reused: it grows to the longest record's text
};

}  // namespace

std::optional<std::vector<std::string_view>> fasta_runs(std::string_view text, std::size_t parts) {
    if (has_lone_carriage_return(text)) return std::nullopt;
    text = without_byte_order_mark(text);
    const std::size_t first = text.find_first_not_of(WHITE_SPACE);
    if (first == std::string_view::npos || text[first] != '>') return std::nullopt;
    std::vector<std::string_view> runs;
    std::size_t start = first;
    for (std::size_t part = 1; part < parts; ++part) {
        // A run ends where the first record after its share of the text starts.
        const std::size_t end = next_record(text, std::max(start, first + part * (text.size() - first) / parts) + 1);
        if (end >= text.size()) break;
        runs.push_back(text.substr(start, end - start));
        start = end;
    }
    runs.push_back(text.substr(start));
    return runs;
}

bool lay_out_fasta(std::string_view run, std::vector<FastaRecordText>& records) {
    for (std::size_t start = 0; start < run.size();) {
        const auto [identifier, header, body_start, end] = place_of_record(run, start);
        if (identifier_problem(identifier)) return false;
        records.push_back({identifier, header, run.substr(body_start, end - body_start)});
        start = end;
    }
    return true;
}

void read_fasta(std::string_view text, const LetterClasses& classes, RecordSink& sink, TextStart start) {
    FastaReader(text, classes, sink, start).read();
}

}  // namespace ntpepmap::reader
