#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ntpepmap::reader {

// What a byte of sequence text is, as bits: a letter (KEEP) or not (whitespace and the
// position numbers of GenBank-style lines), and for letters whether they are outside the
// caller's plain set (UNUSUAL) or part of a multi-byte character (NON_ASCII). A digit is
// DIGIT: left out, but seen, so that a reading of frameshift digits looks again.
inline constexpr std::uint8_t KEEP = 1;
inline constexpr std::uint8_t UNUSUAL = 2;
inline constexpr std::uint8_t NON_ASCII = 4;
inline constexpr std::uint8_t DIGIT = 8;
// A letter other than the upper-case bases A, C, G and T: a CDS whose letters are those alone is
// read by the engine in place, with no scan of its own.
inline constexpr std::uint8_t NOT_ACGT = 16;
// A control byte (NUL, ESC, DEL, ...; not white space): no letter of any sequence, refused by
// the reading, which looks at the record's lines again once it sees one.
inline constexpr std::uint8_t CONTROL = 32;

constexpr bool is_white_space(unsigned char byte) noexcept { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }
constexpr bool is_digit(unsigned char byte) noexcept { return byte >= '0' && byte <= '9'; }
constexpr bool is_control(unsigned char byte) noexcept { return (byte < 0x20 && !is_white_space(byte)) || byte == 0x7f; }

// Every byte with no plain set: a letter is KEEP | UNUSUAL (and NON_ASCII from 0x80 up).
inline constexpr std::array<std::uint8_t, 256> BYTE_CLASSES = [] {
    std::array<std::uint8_t, 256> classes{};
    for (unsigned byte = 0; byte < 256; ++byte) {
        const auto value = static_cast<unsigned char>(byte);
        if (is_digit(value)) classes[byte] = DIGIT;
        if (is_white_space(value) || is_digit(value)) continue;
        const bool acgt = byte == 'A' || byte == 'C' || byte == 'G' || byte == 'T';
        classes[byte] = static_cast<std::uint8_t>(KEEP | UNUSUAL | (byte >= 0x80 ? NON_ASCII : 0) | (acgt ? 0 : NOT_ACGT) |
                                                  (is_control(value) ? CONTROL : 0));
    }
    return classes;
}();

// The classes of one reading: letters of the plain set lose UNUSUAL.
class LetterClasses {
public:
    // frameshift_digits: a digit inside a line of sequence is PAL2NAL's frameshift notation
    // (that many nucleotides that encode no residue), kept; digits apart from the letters at a
    // line's start or end are position numbers, left out.
    explicit LetterClasses(std::string_view plain = {}, bool frameshift_digits = false) noexcept;

    [[nodiscard]] std::uint8_t operator[](char byte) const noexcept { return table_[static_cast<unsigned char>(byte)]; }
    // A plain set small enough to compare a piece of text with letter by letter: its
    // letters, the first repeated to fill the array (so that the comparisons unroll).
    static constexpr std::size_t FEW = 8;
    [[nodiscard]] const std::array<char, FEW>& few_plain() const noexcept { return few_plain_; }
    [[nodiscard]] bool has_few_plain() const noexcept { return plain_size_ > 0 && plain_size_ <= FEW; }
    [[nodiscard]] bool has_plain() const noexcept { return plain_size_ > 0; }
    // Whether A, C, G and T are all in the plain set.
    [[nodiscard]] bool acgt_plain() const noexcept { return acgt_plain_; }
    [[nodiscard]] bool frameshift_digits() const noexcept { return frameshift_digits_; }

private:
    std::array<std::uint8_t, 256> table_ = BYTE_CLASSES;
    std::array<char, FEW> few_plain_{};
    std::size_t plain_size_ = 0;
    bool acgt_plain_ = false;
    bool frameshift_digits_ = false;
};

// Facts about a sequence's letters: the bits of all its letters.
struct LetterFacts {
    std::uint8_t bits = 0;

    [[nodiscard]] bool ascii() const noexcept { return (bits & NON_ASCII) == 0; }
    [[nodiscard]] bool plain() const noexcept { return (bits & UNUSUAL) == 0; }
    // Bytes beyond ASCII or control bytes were met: the lines must be looked at again, to find
    // one that is not UTF-8 or holds a control byte (sequence_line_problem).
    [[nodiscard]] bool lines_to_check() const noexcept { return (bits & (NON_ASCII | CONTROL)) != 0; }
    // Digits were met (copied by copy_letters: left out; by append_frameshift_line: kept).
    [[nodiscard]] bool digits() const noexcept { return (bits & DIGIT) != 0; }
    // Letters were read, upper-case A, C, G and T alone (facts made without a reading, with no
    // KEEP, tell nothing of it).
    [[nodiscard]] bool acgt_only() const noexcept { return (bits & (KEEP | NOT_ACGT | DIGIT)) == KEEP; }
    // Whether a reading of frameshift digits must read the text again, line by line.
    [[nodiscard]] bool digits_to_read(const LetterClasses& classes) const noexcept {
        return digits() && classes.frameshift_digits();
    }
};

// Copies the letters of `text` to `out`, which has room for text.size() bytes; returns how
// many. Pieces of 16 ASCII letters go whole; any other piece byte by byte.
std::size_t copy_letters(std::string_view text, const LetterClasses& classes, char* out, LetterFacts& facts) noexcept;

// Appends the letters of `text` to `sequence`.
inline void append_letters(std::string& sequence, std::string_view text, const LetterClasses& classes,
                           LetterFacts& facts) {
    const std::size_t old_size = sequence.size();
    sequence.resize(old_size + text.size());
    sequence.resize(old_size + copy_letters(text, classes, sequence.data() + old_size, facts));
}

// The line without a word of digits at its start and one at its end: the position numbers
// around a line of sequence.
[[nodiscard]] std::string_view without_position_numbers(std::string_view line) noexcept;

// Appends the letters of one line of sequence to `sequence`, each frameshift digit kept (see
// LetterClasses); `facts` gets DIGIT only for digits kept. Returns what is wrong with a digit
// that is neither a position number nor a frameshift (0, or more than one in a row), or nothing.
std::optional<std::string> append_frameshift_line(std::string& sequence, std::string_view line,
                                                  const LetterClasses& classes, LetterFacts& facts);

}  // namespace ntpepmap::reader
