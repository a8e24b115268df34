#include "translator/utf8.hpp"

namespace ntpepmap::utf8 {

namespace {

// Valid range of the second byte after a given lead byte (excludes overlongs and surrogates).
constexpr bool second_byte_fits(unsigned char lead, unsigned char second) noexcept {
    switch (lead) {
    case 0xE0: return second >= 0xA0u && second <= 0xBFu;
    case 0xED: return second >= 0x80u && second <= 0x9Fu;
    case 0xF0: return second >= 0x90u && second <= 0xBFu;
    case 0xF4: return second >= 0x80u && second <= 0x8Fu;
    default: return is_continuation(second);
    }
}

}  // namespace

DecodedChar decode(std::string_view text, std::size_t position) noexcept {
    const auto lead = static_cast<unsigned char>(text[position]);
    const std::size_t length = sequence_length(lead);
    if (length == 1) return {lead < 0x80u ? char32_t{lead} : REPLACEMENT_CHARACTER, 1};
    if (text.size() - position < length) return {REPLACEMENT_CHARACTER, 1};
    if (!second_byte_fits(lead, static_cast<unsigned char>(text[position + 1]))) return {REPLACEMENT_CHARACTER, 1};
    const unsigned lead_bits = length == 2 ? 0x1Fu : length == 3 ? 0x0Fu : 0x07u;
    char32_t code_point = lead & lead_bits;
    for (std::size_t k = 1; k < length; ++k) {
        const auto byte = static_cast<unsigned char>(text[position + k]);
        if (!is_continuation(byte)) return {REPLACEMENT_CHARACTER, 1};
        code_point = (code_point << 6) | (byte & 0x3Fu);
    }
    return {code_point, length};
}

bool is_valid(std::string_view text) noexcept {
    for (std::size_t position = 0; position < text.size();) {
        const DecodedChar decoded = decode(text, position);
        if (decoded.code_point == REPLACEMENT_CHARACTER && decoded.length == 1 &&
            static_cast<unsigned char>(text[position]) >= 0x80u)
            return false;
        position += decoded.length;
    }
    return true;
}

}  // namespace ntpepmap::utf8
