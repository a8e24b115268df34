#pragma once

#include <cstddef>
#include <string_view>

namespace ntpepmap::utf8 {

inline constexpr bool is_continuation(unsigned char byte) noexcept { return (byte & 0xC0u) == 0x80u; }

// Number of bytes a sequence starting with `lead` claims (1 for a stray or invalid byte,
// so that a decoder always moves on).
inline constexpr std::size_t sequence_length(unsigned char lead) noexcept {
    if (lead < 0x80u) return 1;
    if (lead >= 0xC2u && lead <= 0xDFu) return 2;
    if (lead >= 0xE0u && lead <= 0xEFu) return 3;
    if (lead >= 0xF0u && lead <= 0xF4u) return 4;
    return 1;
}

struct DecodedChar {
    char32_t code_point;
    std::size_t length;  // bytes consumed, at least 1
};

inline constexpr char32_t REPLACEMENT_CHARACTER = 0xFFFD;

// Decodes the character at `position`; a malformed sequence yields U+FFFD for one byte.
DecodedChar decode(std::string_view text, std::size_t position) noexcept;

// Whether `text` is well-formed UTF-8 on its own (no cut characters, no overlongs, no surrogates).
bool is_valid(std::string_view text) noexcept;

// First byte of the character that byte `position` belongs to.
inline std::size_t character_start(std::string_view text, std::size_t position) noexcept {
    while (position > 0 && position < text.size() && is_continuation(static_cast<unsigned char>(text[position])))
        --position;
    return position;
}

// `position` moved forward past the rest of a character it cuts, for use as an exclusive end.
inline std::size_t character_end(std::string_view text, std::size_t position) noexcept {
    while (position < text.size() && is_continuation(static_cast<unsigned char>(text[position]))) ++position;
    return position;
}

}  // namespace ntpepmap::utf8
