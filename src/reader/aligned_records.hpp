#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "reader/reader.hpp"

namespace ntpepmap::reader {

// A record of a format that gives each sequence in pieces (CLUSTAL blocks, PHYLIP lines).
struct AlignedRecord {
    std::string_view identifier;
    std::string sequence;
    LetterFacts facts;
};

// The records of such a file as they are put together; `number` is a record's 1-based place.
class AlignedRecords {
public:
    explicit AlignedRecords(const LetterClasses& classes) noexcept : classes_(classes) {}

    // A new record from a line that starts with its name; the rest of the line is sequence.
    void start(std::string_view line, std::size_t line_number);
    // A new record whose name the format gives apart from its letters (a quoted or
    // fixed-width name): white space in it becomes '_', as NEXUS reads such a name.
    void start_named(std::string_view name, std::string_view piece, std::size_t line_number);
    // Appends the letters of a piece of a record's sequence, found on line `line_number` from
    // column `first_column` on.
    void append(std::size_t number, std::string_view piece, std::size_t line_number, std::size_t first_column = 1);

    // Every `match` letter of the records after the first made the first's letter in its
    // column (NEXUS's MATCHCHAR).
    void match_first(char match);

    [[nodiscard]] std::size_t size() const noexcept { return records_.size(); }
    [[nodiscard]] const AlignedRecord& operator[](std::size_t number) const noexcept { return records_[number - 1]; }
    // Hands every record to the sink, in order.
    void hand_over(RecordSink& sink) const;

private:
    const LetterClasses& classes_;
    std::vector<AlignedRecord> records_;
    std::deque<std::string> names_;  // the names made here; a deque keeps them in place
};

}  // namespace ntpepmap::reader
