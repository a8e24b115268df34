#include "reader/clustal_reader.hpp"

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "reader/aligned_records.hpp"
#include "reader/text_lines.hpp"

namespace ntpepmap::reader {

namespace {

constexpr std::array<std::string_view, 5> ALIGNER_NAMES = {"CLUSTAL", "MUSCLE", "PROBCONS", "MSAPROBS", "Kalign"};

// A line of '#' and white space alone, under a block: the block's columns to keep, as
// Gblocks marks them and PAL2NAL's -blockonly reads them.
bool is_mark_line(std::string_view line) noexcept {
    return line.find('#') != std::string_view::npos &&
           std::all_of(line.begin(), line.end(), [](char byte) {
               return byte == '#' || is_white_space(static_cast<unsigned char>(byte));
           });
}

// The columns that lines of '#' mark: each '#' stands under a letter of the block's first row.
class BlockMarks {
public:
    // A block starts at alignment column `column` with `line`, its first row.
    void start_block(std::string_view line, std::size_t column) noexcept {
        first_row_ = line;
        column_ = column;
        marked_ = false;
    }

    void read(std::string_view line, std::size_t line_number, const LetterClasses& classes) {
        if (first_row_.empty()) throw ReadError(line_number, 0, {}, "a line of '#' before any block");
        if (marked_) throw ReadError(line_number, 0, {}, "a second line of '#' under the same block");
        marked_ = true;
        // The row's columns as the reader takes them: with frameshift digits read, a digit
        // between the position numbers is a column too.
        std::string_view letters = first_word(first_row_).rest;
        if (classes.frameshift_digits()) letters = without_position_numbers(letters);
        const auto letters_from = static_cast<std::size_t>(letters.data() - first_row_.data());
        const std::size_t letters_end = letters_from + letters.size();
        std::size_t column = column_;
        for (std::size_t place = 0; place < line.size(); ++place) {
            const bool letter = place >= letters_from && place < letters_end &&
                                is_column(first_row_[place], classes.frameshift_digits());
            if (line[place] == '#') {
                if (!letter) {
                    throw ReadError(line_number, 0, {},
                                    "the '#' at character " + std::to_string(place + 1) +
                                        " stands under no letter of the block's first row");
                }
                kept_.push_back(column);
            }
            if (letter) ++column;
        }
    }

    void hand_over(RecordSink& sink) const {
        if (!kept_.empty()) sink.take_kept_columns(kept_);
    }

private:
    // A letter's first byte (the reader keeps it, and it is no UTF-8 continuation byte), or a
    // frameshift digit where those are read.
    static bool is_column(char byte, bool frameshift_digits) noexcept {
        const auto value = static_cast<unsigned char>(byte);
        if (is_digit(value)) return frameshift_digits;
        return (BYTE_CLASSES[value] & KEEP) != 0 && (value & 0xC0) != 0x80;
    }

    std::string_view first_row_;
    std::size_t column_ = 0;
    bool marked_ = false;
    std::vector<std::size_t> kept_;
};

class ClustalReader {
public:
    ClustalReader(std::string_view text, const LetterClasses& classes)
        : lines_(text), classes_(classes), records_(classes) {}

    void read(RecordSink& sink) {
        std::string_view line;
        if (!lines_.next_filled(line)) throw ReadError("empty file");
        if (!is_clustal_heading(trim_leading_white_space(line))) {
            throw ReadError(lines_.number(), 0, {}, "not CLUSTAL: the first line does not start with 'CLUSTAL'");
        }
        while (lines_.next(line)) {
            // A blank or conservation line (it starts with white space) ends a block.
            if (line.empty() || is_white_space(static_cast<unsigned char>(line.front()))) {
                if (is_mark_line(line)) marks_.read(line, lines_.number(), classes_);
                end_block();
            } else {
                read_sequence_line(line);
            }
        }
        end_block();
        if (records_.size() == 0) throw ReadError("no sequences");
        records_.hand_over(sink);
        marks_.hand_over(sink);
    }

private:
    void read_sequence_line(std::string_view line) {
        if (in_block_ == 0) marks_.start_block(line, records_.size() == 0 ? 0 : records_[1].sequence.size());
        const std::size_t number = ++in_block_;
        if (first_block_) {
            records_.start(line, lines_.number());
        } else {
            check_place(first_word(line).first);
            const std::string_view rest = first_word(line).rest;
            records_.append(number, rest, lines_.number(), static_cast<std::size_t>(rest.data() - line.data()) + 1);
        }
        if (records_[number].sequence.empty()) {
            throw ReadError(lines_.number(), number, records_[number].identifier, "no sequence after the name");
        }
    }

    // A later block must name the records as the first did, in the same order.
    void check_place(std::string_view name) const {
        if (in_block_ > records_.size()) {
            throw ReadError(lines_.number(), 0, {}, "this block has more sequences than the first");
        }
        if (records_[in_block_].identifier != name) {
            throw ReadError(lines_.number(), in_block_, records_[in_block_].identifier,
                            "this block has '" + shown_identifier(name) + "' in its place");
        }
    }

    void end_block() {
        if (in_block_ == 0) return;
        if (!first_block_ && in_block_ != records_.size()) {
            throw ReadError(lines_.number(), 0, {},
                            "this block has " + std::to_string(in_block_) + " of the " +
                                std::to_string(records_.size()) + " sequences of the first");
        }
        first_block_ = false;
        in_block_ = 0;
    }

    TextLines lines_;
    const LetterClasses& classes_;
    AlignedRecords records_;
    BlockMarks marks_;
    bool first_block_ = true;
    std::size_t in_block_ = 0;  // sequence lines so far in the current block
};

}  // namespace

bool is_clustal_heading(std::string_view line) noexcept {
    return std::any_of(ALIGNER_NAMES.begin(), ALIGNER_NAMES.end(),
                       [line](std::string_view name) { return line.starts_with(name); });
}

void read_clustal(std::string_view text, const LetterClasses& classes, RecordSink& sink) {
    ClustalReader(text, classes).read(sink);
}

}  // namespace ntpepmap::reader
