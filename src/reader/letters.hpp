#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ntpepmap::reader {

// What a byte of sequence text is, as bits: a letter (KEEP) or not (whitespace and the
// position numbers of GenBank-style lines), and for letters whether they are outside the
// caller's plain set (UNUSUAL) or part of a multi-byte character (NON_ASCII).
inline constexpr std::uint8_t KEEP = 1;
inline constexpr std::uint8_t UNUSUAL = 2;
inline constexpr std::uint8_t NON_ASCII = 4;

constexpr bool is_white_space(unsigned char byte) noexcept { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }
constexpr bool is_digit(unsigned char byte) noexcept { return byte >= '0' && byte <= '9'; }

// Every byte with no plain set: a letter is KEEP | UNUSUAL (and NON_ASCII from 0x80 up).
inline constexpr std::array<std::uint8_t, 256> BYTE_CLASSES = [] {
    std::array<std::uint8_t, 256> classes{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        const auto value = static_cast<unsigned char>(byte);
        if (is_white_space(value) || is_digit(value)) continue;
        classes[byte] = static_cast<std::uint8_t>(KEEP | UNUSUAL | (byte >= 0x80 ? NON_ASCII : 0));
    }
    return classes;
}();

// The classes of one reading: letters of the plain set lose UNUSUAL.
class LetterClasses {
public:
    explicit LetterClasses(std::string_view plain = {}) noexcept;

    [[nodiscard]] std::uint8_t operator[](char byte) const noexcept { return table_[static_cast<unsigned char>(byte)]; }

private:
    std::array<std::uint8_t, 256> table_ = BYTE_CLASSES;
};

// Facts about a sequence's letters: the bits of all its letters.
struct LetterFacts {
    std::uint8_t bits = 0;

    [[nodiscard]] bool ascii() const noexcept { return (bits & NON_ASCII) == 0; }
    [[nodiscard]] bool plain() const noexcept { return (bits & UNUSUAL) == 0; }
};

// Copies the letters of `text` to `out`, which has room for text.size() bytes; returns how
// many. Branch-free per byte: every byte is stored, and the end moves on for letters only.
inline std::size_t copy_letters(std::string_view text, const LetterClasses& classes, char* out,
                                LetterFacts& facts) noexcept {
    std::size_t count = 0;
    std::uint8_t seen = 0;
    for (const char byte : text) {
        const std::uint8_t bits = classes[byte];
        out[count] = byte;
        count += bits & KEEP;
        seen |= bits;
    }
    facts.bits |= seen;
    return count;
}

// Appends the letters of `text` to `sequence`.
inline void append_letters(std::string& sequence, std::string_view text, const LetterClasses& classes,
                           LetterFacts& facts) {
    const std::size_t old_size = sequence.size();
    sequence.resize(old_size + text.size());
    sequence.resize(old_size + copy_letters(text, classes, sequence.data() + old_size, facts));
}

}  // namespace ntpepmap::reader
