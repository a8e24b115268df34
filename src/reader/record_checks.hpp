#pragma once

#include <optional>
#include <string_view>

namespace ntpepmap::reader {

// What is wrong with an identifier, if anything: it must be there and be UTF-8 (the rest
// of a name, which is never written, may hold any bytes).
[[nodiscard]] std::optional<std::string_view> identifier_problem(std::string_view identifier) noexcept;

// What is wrong with a line of sequence text, if anything: it must be UTF-8.
[[nodiscard]] std::optional<std::string_view> sequence_line_problem(std::string_view line) noexcept;

}  // namespace ntpepmap::reader
