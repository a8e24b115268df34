#include "reader/phylip_reader.hpp"

#include <algorithm>
#include <optional>
#include <string>

#include "reader/aligned_records.hpp"
#include "reader/text_lines.hpp"

namespace ntpepmap::reader {

namespace {

// Counts of up to nine digits: far beyond any real alignment, and no overflow.
constexpr std::size_t MAX_COUNT_DIGITS = 9;
// Strict PHYLIP (PHYLIP's own programs, EMBOSS seqret): a name fills the first ten characters
// of its line, padded with spaces or glued to the letters.
constexpr std::size_t STRICT_NAME_WIDTH = 10;

bool is_count(std::string_view word) noexcept {
    return !word.empty() && std::all_of(word.begin(), word.end(), [](char c) { return is_digit(static_cast<unsigned char>(c)); });
}

std::size_t count_of(std::string_view word) noexcept {
    std::size_t value = 0;
    for (const char digit : word) value = 10 * value + static_cast<std::size_t>(digit - '0');
    return value;
}

struct Heading {
    std::size_t sequences;
    std::size_t columns;
};

std::string counted(std::size_t count, std::string_view noun) { return std::to_string(count) + " " + std::string(noun); }

class PhylipReading {
public:
    PhylipReading(std::string_view text, const LetterClasses& classes, bool strict)
        : lines_(text), records_(classes), strict_(strict) {
        heading_ = read_heading();
    }

    void read_sequential() {
        std::string_view line;
        for (std::size_t number = 1; number <= heading_.sequences; ++number) {
            next_line(line);
            start(line);
            while (records_[number].sequence.size() < heading_.columns) {
                next_line(line);
                records_.append(number, line, lines_.number());
            }
            check_not_over(number);
        }
        check_nothing_after();
    }

    void read_interleaved() {
        std::string_view line;
        for (std::size_t number = 1; number <= heading_.sequences; ++number) {
            next_line(line);
            start(line);
            check_not_over(number);
        }
        while (first_incomplete() != 0) {
            for (std::size_t number = 1; number <= heading_.sequences; ++number) {
                next_line(line);
                records_.append(number, line, lines_.number());
                check_not_over(number);
            }
        }
        check_nothing_after();
    }

    [[nodiscard]] const AlignedRecords& records() const noexcept { return records_; }

private:
    void start(std::string_view line) {
        if (!strict_) return records_.start(line, lines_.number());
        const std::size_t width = std::min(line.size(), STRICT_NAME_WIDTH);
        records_.start_named(line.substr(0, width), line.substr(width), lines_.number());
    }

    Heading read_heading() {
        std::string_view line;
        lines_.next_filled(line);
        const Words sequences = first_word(line);
        const Words columns = first_word(sequences.rest);
        if (!is_count(sequences.first) || !is_count(columns.first)) {
            throw ReadError(lines_.number(), 0, {}, "not PHYLIP: the first line does not give two counts");
        }
        if (sequences.first.size() > MAX_COUNT_DIGITS || columns.first.size() > MAX_COUNT_DIGITS) {
            throw ReadError(lines_.number(), 0, {}, "the counts of the first line are too large");
        }
        const Heading heading{count_of(sequences.first), count_of(columns.first)};
        if (heading.sequences == 0) throw ReadError(lines_.number(), 0, {}, "no sequences");
        return heading;
    }

    // The next line that is not blank. At the end of the file, the error names what is
    // missing: records, or else the columns of the first short record.
    void next_line(std::string_view& line) {
        if (lines_.next_filled(line)) return;
        if (records_.size() < heading_.sequences) {
            throw ReadError(lines_.number(), 0, {},
                            "the file ends after " + counted(records_.size(), "of ") +
                                counted(heading_.sequences, "sequences"));
        }
        const std::size_t number = first_incomplete();
        if (number == 0) {  // every record is whole, yet a block of lines was cut short
            throw ReadError(lines_.number(), 0, {}, "the file ends inside a block: each block gives every sequence a line");
        }
        throw ReadError(lines_.number(), number, records_[number].identifier,
                        "the file ends after " + counted(records_[number].sequence.size(), "of ") +
                            counted(heading_.columns, "columns"));
    }

    void check_not_over(std::size_t number) const {
        const std::size_t columns = records_[number].sequence.size();
        if (columns > heading_.columns) {
            throw ReadError(lines_.number(), number, records_[number].identifier,
                            counted(columns, "columns where the first line says ") + std::to_string(heading_.columns));
        }
    }

    void check_nothing_after() {
        std::string_view line;
        if (lines_.next_filled(line)) {
            throw ReadError(lines_.number(), 0, {}, "more lines than the first line announces");
        }
    }

    // The first record short of the columns, or 0.
    [[nodiscard]] std::size_t first_incomplete() const noexcept {
        for (std::size_t number = 1; number <= records_.size(); ++number) {
            if (records_[number].sequence.size() < heading_.columns) return number;
        }
        return 0;
    }

    TextLines lines_;
    AlignedRecords records_;
    Heading heading_{};
    bool strict_;
};

using Reading = void (PhylipReading::*)();

std::optional<ReadError> error_of(PhylipReading& reading, Reading read) {
    try {
        (reading.*read)();
    } catch (const ReadError& error) {
        return error;
    }
    return std::nullopt;
}

}  // namespace

bool is_phylip_heading(std::string_view line) noexcept {
    const Words sequences = first_word(line);
    return is_count(sequences.first) && is_count(first_word(sequences.rest).first);
}

void read_phylip(std::string_view text, const LetterClasses& classes, RecordSink& sink) {
    // Relaxed first, sequential then interleaved; strict names only where both fail, and
    // then the relaxed reading that got further says what is wrong.
    std::optional<ReadError> furthest;
    for (const bool strict : {false, true}) {
        for (const Reading read : {&PhylipReading::read_sequential, &PhylipReading::read_interleaved}) {
            PhylipReading reading(text, classes, strict);
            const std::optional<ReadError> error = error_of(reading, read);
            if (!error) return reading.records().hand_over(sink);
            if (!strict && (!furthest || error->line() > furthest->line())) furthest = error;
        }
    }
    throw *furthest;
}

}  // namespace ntpepmap::reader
