#include "reader/record_checks.hpp"

#include <algorithm>

#include "reader/letters.hpp"
#include "translator/utf8.hpp"

namespace ntpepmap::reader {

std::optional<std::string_view> identifier_problem(std::string_view identifier) noexcept {
    if (identifier.empty()) return "no identifier";
    if (!utf8::is_valid(identifier)) return "the identifier is not UTF-8 text";
    return std::nullopt;
}

std::optional<std::string> sequence_line_problem(std::string_view line, std::size_t first_column) {
    const auto control = std::find_if(line.begin(), line.end(), [](char byte) { return is_control(static_cast<unsigned char>(byte)); });
    if (control != line.end()) {
        return "a control byte (" + shown_byte(static_cast<unsigned char>(*control)) + ") at column " +
               std::to_string(static_cast<std::size_t>(control - line.begin()) + first_column) + "; a sequence holds letters";
    }
    if (!utf8::is_valid(line)) return "the sequence is not UTF-8 text";
    return std::nullopt;
}

std::string shown_byte(unsigned char byte) {
    if (byte >= 0x20 && byte < 0x7f) return std::string(1, static_cast<char>(byte));
    constexpr char HEX[] = "0123456789abcdef";
    return {'\\', 'x', HEX[byte >> 4], HEX[byte & 15]};
}

}  // namespace ntpepmap::reader
