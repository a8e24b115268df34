#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ntpepmap::reader {

// An input that cannot be read. The message is one line: where (line, record and its
// identifier, as far as they are known) and what is wrong. The file is named by the caller.
class ReadError : public std::runtime_error {
public:
    // line and record are 1-based; 0 leaves them out, as does an empty identifier.
    ReadError(std::size_t line, std::size_t record, std::string_view identifier, std::string_view problem);
    explicit ReadError(std::string_view problem) : ReadError(0, 0, {}, problem) {}

    [[nodiscard]] std::size_t line() const noexcept { return line_; }

private:
    std::size_t line_;
};

// An identifier as messages show it: cut short, control characters as '?'.
[[nodiscard]] std::string shown_identifier(std::string_view identifier);

}  // namespace ntpepmap::reader
