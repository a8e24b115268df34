#include "reader/clustal_reader.hpp"

#include <algorithm>
#include <array>
#include <string>

#include "reader/aligned_records.hpp"
#include "reader/text_lines.hpp"

namespace ntpepmap::reader {

namespace {

constexpr std::array<std::string_view, 5> ALIGNER_NAMES = {"CLUSTAL", "MUSCLE", "PROBCONS", "MSAPROBS", "Kalign"};

class ClustalReader {
public:
    ClustalReader(std::string_view text, const LetterClasses& classes) : lines_(text), records_(classes) {}

    void read(RecordSink& sink) {
        std::string_view line;
        if (!lines_.next_filled(line)) throw ReadError("empty file");
        if (!is_clustal_heading(trim_leading_white_space(line))) {
            throw ReadError(lines_.number(), 0, {}, "not CLUSTAL: the first line does not start with 'CLUSTAL'");
        }
        while (lines_.next(line)) {
            // A blank or conservation line (it starts with white space) ends a block.
            if (line.empty() || is_white_space(static_cast<unsigned char>(line.front()))) {
                end_block();
            } else {
                read_sequence_line(line);
            }
        }
        end_block();
        if (records_.size() == 0) throw ReadError("no sequences");
        records_.hand_over(sink);
    }

private:
    void read_sequence_line(std::string_view line) {
        const std::size_t number = ++in_block_;
        if (first_block_) {
            records_.start(line, lines_.number());
        } else {
            check_place(first_word(line).first);
            records_.append(number, first_word(line).rest, lines_.number());
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
    AlignedRecords records_;
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
