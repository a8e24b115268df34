#include "reader/record_checks.hpp"

#include "translator/utf8.hpp"

namespace ntpepmap::reader {

std::optional<std::string_view> identifier_problem(std::string_view identifier) noexcept {
    if (identifier.empty()) return "no identifier";
    if (!utf8::is_valid(identifier)) return "the identifier is not UTF-8 text";
    return std::nullopt;
}

std::optional<std::string_view> sequence_line_problem(std::string_view line) noexcept {
    if (!utf8::is_valid(line)) return "the sequence is not UTF-8 text";
    return std::nullopt;
}

}  // namespace ntpepmap::reader
