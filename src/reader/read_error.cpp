#include "reader/read_error.hpp"

#include "translator/utf8.hpp"

namespace ntpepmap::reader {

namespace {

// Identifiers in messages are cut short: the message stays one readable line.
constexpr std::size_t SHOWN_IDENTIFIER_BYTES = 60;

}  // namespace

// Control characters would break the line or cut the message short (NUL): shown as '?'.
std::string shown_identifier(std::string_view identifier) {
    const bool cut = identifier.size() > SHOWN_IDENTIFIER_BYTES;
    if (cut) identifier = identifier.substr(0, utf8::character_start(identifier, SHOWN_IDENTIFIER_BYTES));
    std::string text(identifier);
    for (char& byte : text) {
        if (static_cast<unsigned char>(byte) < 0x20u || byte == '\x7f') byte = '?';
    }
    return cut ? text + "..." : text;
}

namespace {

std::string where(std::size_t line, std::size_t record, std::string_view identifier) {
    std::string text;
    if (line > 0) text = "line " + std::to_string(line);
    if (record > 0) text += (text.empty() ? "record " : ", record ") + std::to_string(record);
    if (record > 0 && !identifier.empty()) text += " (" + shown_identifier(identifier) + ")";
    return text;
}

std::string message(std::size_t line, std::size_t record, std::string_view identifier, std::string_view problem) {
    std::string place = where(line, record, identifier);
    return place.empty() ? std::string(problem) : place + ": " + std::string(problem);
}

}  // namespace

ReadError::ReadError(std::size_t line, std::size_t record, std::string_view identifier, std::string_view problem)
    : std::runtime_error(message(line, record, identifier, problem)), line_(line) {}

}  // namespace ntpepmap::reader
