#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ntpepmap::reader {

// The text without a leading UTF-8 byte-order mark.
[[nodiscard]] std::string_view without_byte_order_mark(std::string_view text) noexcept;

// A line ends at a line feed; a carriage return before it is white space. Old Mac line
// ends, a carriage return alone, are made line feeds first: whether a text holds any,
// and the text with line feeds for them.
[[nodiscard]] bool has_lone_carriage_return(std::string_view text) noexcept;
[[nodiscard]] std::string with_line_feeds(std::string_view text);

// How many lines the text's line ends end, a lone carriage return counted as one.
[[nodiscard]] std::size_t line_end_count(std::string_view text) noexcept;

// The 1-based number of the line that byte `offset` of text is on.
[[nodiscard]] std::size_t line_number_at(std::string_view text, std::size_t offset) noexcept;

[[nodiscard]] bool is_blank(std::string_view line) noexcept;
[[nodiscard]] std::string_view trim_leading_white_space(std::string_view text) noexcept;
[[nodiscard]] std::string_view trim_white_space(std::string_view text) noexcept;

// The first word of a line and what follows it, split at ASCII white space.
struct Words {
    std::string_view first;
    std::string_view rest;
};
[[nodiscard]] Words first_word(std::string_view line) noexcept;

// The lines of a text one by one, numbered from 1.
class TextLines {
public:
    explicit TextLines(std::string_view text) noexcept : rest_(text) {}

    // The next line, without its end; false after the last one.
    bool next(std::string_view& line) noexcept;
    // The next line that is not blank; false at the end.
    bool next_filled(std::string_view& line) noexcept;
    // The number of the line given last (0 before the first).
    [[nodiscard]] std::size_t number() const noexcept { return number_; }
    [[nodiscard]] bool at_end() const noexcept { return done_; }

private:
    std::string_view rest_;
    std::size_t number_ = 0;
    bool done_ = false;
};

}  // namespace ntpepmap::reader
