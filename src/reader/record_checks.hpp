#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace ntpepmap::reader {

// What is wrong with an identifier, if anything: it must be there and be UTF-8 (the rest
// of a name, which is never written, may hold any bytes).
[[nodiscard]] std::optional<std::string_view> identifier_problem(std::string_view identifier) noexcept;

// What is wrong with a line of sequence text, if anything: it must be UTF-8 and hold no control
// byte (told by its column, escaped). Read only for lines whose letters said so.
// first_column: the column of the text's first byte, where it is not the line's start.
[[nodiscard]] std::optional<std::string> sequence_line_problem(std::string_view line, std::size_t first_column = 1);

// A byte as messages show it: itself where printable ASCII, else \xNN.
[[nodiscard]] std::string shown_byte(unsigned char byte);

}  // namespace ntpepmap::reader
