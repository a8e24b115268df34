#include "reader/stockholm_reader.hpp"

#include <string>
#include <unordered_map>

#include "reader/aligned_records.hpp"
#include "reader/text_lines.hpp"

namespace ntpepmap::reader {

namespace {

constexpr std::string_view HEADING = "# STOCKHOLM";
constexpr std::string_view END = "//";

class StockholmReader {
public:
    StockholmReader(std::string_view text, const LetterClasses& classes) : lines_(text), records_(classes) {}

    void read(RecordSink& sink) {
        std::string_view line;
        if (!lines_.next_filled(line)) throw ReadError("empty file");
        if (!is_stockholm_heading(trim_leading_white_space(line))) {
            throw ReadError(lines_.number(), 0, {}, "not Stockholm: the first line is not '# STOCKHOLM 1.0'");
        }
        while (lines_.next(line)) {
            line = trim_white_space(line);
            if (line == END) return finish(sink);
            if (!line.empty() && !line.starts_with('#')) read_row(line);
        }
        throw ReadError(lines_.number(), 0, {}, "the file ends before the '//' that closes the alignment");
    }

private:
    void finish(RecordSink& sink) {
        std::string_view line;
        if (lines_.next_filled(line)) {
            throw ReadError(lines_.number(), 0, {}, "a second alignment after '//': give one alignment per file");
        }
        if (records_.size() == 0) throw ReadError(lines_.number(), 0, {}, "no sequences");
        records_.hand_over(sink);
    }

    // A name seen before continues its record; a new one starts a record, in the first
    // block only (a later one would be a misspelt name).
    void read_row(std::string_view line) {
        const Words words = first_word(line);
        const auto found = numbers_.find(words.first);
        if (found != numbers_.end()) {
            continued_ = true;
            records_.append(found->second, words.rest, lines_.number());
            return;
        }
        if (continued_) {
            throw ReadError(lines_.number(), 0, {},
                            "'" + shown_identifier(words.first) + "' is in no block before this one");
        }
        records_.start(line, lines_.number());
        numbers_.emplace(words.first, records_.size());
    }

    TextLines lines_;
    AlignedRecords records_;
    std::unordered_map<std::string_view, std::size_t> numbers_;
    bool continued_ = false;  // a record has had a second piece: the first block is over
};

}  // namespace

bool is_stockholm_heading(std::string_view line) noexcept { return line.starts_with(HEADING); }

void read_stockholm(std::string_view text, const LetterClasses& classes, RecordSink& sink) {
    StockholmReader(text, classes).read(sink);
}

}  // namespace ntpepmap::reader
