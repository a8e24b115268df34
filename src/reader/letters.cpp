#include "reader/letters.hpp"

#include <algorithm>
#include <cstring>

namespace ntpepmap::reader {

namespace {

// Sixteen bytes as one vector (GCC and Clang map it to SSE2 or NEON); comparisons give
// 0xFF per byte where they hold.
using Piece = unsigned char __attribute__((vector_size(16)));
using PieceHalves = std::uint64_t __attribute__((vector_size(16)));
constexpr std::size_t PIECE = sizeof(Piece);

Piece load(const char* bytes) noexcept {
    Piece piece;
    std::memcpy(&piece, bytes, PIECE);
    return piece;
}

bool all_set(Piece mask) noexcept {
    const auto halves = reinterpret_cast<PieceHalves>(mask);
    return (halves[0] & halves[1]) == ~std::uint64_t{0};
}

// ASCII letters only: no white space, control character (DEL among them), digit or byte from
// 0x80 up.
bool all_ascii_letters(Piece piece) noexcept {
    const auto letter = (piece > 0x20) & (piece < 0x7f) & ((piece < '0') | (piece > '9'));
    return all_set(reinterpret_cast<Piece>(letter));
}

// Bytes one at a time, branch-free: every byte is stored, the end moves on for letters only.
std::size_t copy_bytes(std::string_view text, const LetterClasses& classes, char* out, std::uint8_t& seen) noexcept {
    std::size_t count = 0;
    for (const char byte : text) {
        const std::uint8_t bits = classes[byte];
        out[count] = byte;
        count += bits & KEEP;
        seen |= bits;
    }
    return count;
}

// The bits of pieces of sixteen ASCII letters, with the plain set's letters held in
// registers for the whole copy (read through the classes, they would be read again
// after every store).
class PieceBits {
public:
    explicit PieceBits(const LetterClasses& classes) noexcept : classes_(classes) {
        for (std::size_t index = 0; index < LetterClasses::FEW; ++index) {
            plain_[index] = Piece{} + static_cast<unsigned char>(classes.few_plain()[index]);
        }
    }

    std::uint8_t operator()(Piece piece, const char* bytes) const noexcept {
        if (!classes_.has_plain()) return KEEP | UNUSUAL | NOT_ACGT;
        // A CDS's usual piece, told plain in fewer steps than by the whole plain set, and known
        // to be bases alone (NOT_ACGT: see LocusRecord::cds_acgt for what that is worth).
        const bool acgt =
            all_set(reinterpret_cast<Piece>((piece == 'A') | (piece == 'C') | (piece == 'G') | (piece == 'T')));
        if (acgt && classes_.acgt_plain()) return KEEP;
        if (!classes_.has_few_plain()) {
            std::uint8_t seen = 0;
            for (std::size_t index = 0; index < PIECE; ++index) seen |= classes_[bytes[index]];
            return seen;
        }
        Piece plain{};
        for (const Piece letter : plain_) plain |= reinterpret_cast<Piece>(piece == letter);
        return static_cast<std::uint8_t>((all_set(plain) ? KEEP : KEEP | UNUSUAL) | (acgt ? 0 : NOT_ACGT));
    }

private:
    const LetterClasses& classes_;
    std::array<Piece, LetterClasses::FEW> plain_;
};

}  // namespace

LetterClasses::LetterClasses(std::string_view plain, bool frameshift_digits) noexcept
    : frameshift_digits_(frameshift_digits) {
    for (const char letter : plain) {
        auto& bits = table_[static_cast<unsigned char>(letter)];
        if ((bits & (KEEP | NON_ASCII | UNUSUAL | CONTROL)) != (KEEP | UNUSUAL)) continue;  // no letter, or seen already
        bits = static_cast<std::uint8_t>(KEEP | (bits & NOT_ACGT));
        if (plain_size_ < FEW) few_plain_[plain_size_] = letter;
        ++plain_size_;
    }
    acgt_plain_ = ((*this)['A'] | (*this)['C'] | (*this)['G'] | (*this)['T']) == KEEP;
    for (std::size_t index = plain_size_; index < FEW && plain_size_ > 0; ++index) few_plain_[index] = few_plain_[0];
}

std::size_t copy_letters(std::string_view text, const LetterClasses& classes, char* out, LetterFacts& facts) noexcept {
    std::size_t count = 0;
    std::uint8_t seen = 0;
    std::size_t position = 0;
    const PieceBits piece_bits(classes);
    for (; position + PIECE <= text.size(); position += PIECE) {
        const char* bytes = text.data() + position;
        const Piece piece = load(bytes);
        if (all_ascii_letters(piece)) {
            std::memcpy(out + count, bytes, PIECE);
            count += PIECE;
            seen |= piece_bits(piece, bytes);
        } else {
            count += copy_bytes(std::string_view(bytes, PIECE), classes, out + count, seen);
        }
    }
    count += copy_bytes(text.substr(position), classes, out + count, seen);
    facts.bits |= seen;
    return count;
}

namespace {

bool all_digits(std::string_view word) noexcept {
    return !word.empty() &&
           std::all_of(word.begin(), word.end(), [](char byte) { return is_digit(static_cast<unsigned char>(byte)); });
}

}  // namespace

std::string_view without_position_numbers(std::string_view line) noexcept {
    const auto white = [](char byte) { return is_white_space(static_cast<unsigned char>(byte)); };
    const auto first_start = std::find_if_not(line.begin(), line.end(), white);
    if (first_start != line.end()) {
        const auto word_end = std::find_if(first_start, line.end(), white);
        if (all_digits({first_start, word_end})) line.remove_prefix(static_cast<std::size_t>(word_end - line.begin()));
    }
    const auto last_end = std::find_if_not(line.rbegin(), line.rend(), white);
    if (last_end != line.rend()) {
        const auto word_start = std::find_if(last_end, line.rend(), white);
        if (all_digits({word_start.base(), last_end.base()})) {
            line.remove_suffix(static_cast<std::size_t>(line.end() - word_start.base()));
        }
    }
    return line;
}

std::optional<std::string> append_frameshift_line(std::string& sequence, std::string_view line,
                                                  const LetterClasses& classes, LetterFacts& facts) {
    line = without_position_numbers(line);
    for (std::size_t at = 0; at < line.size(); ++at) {
        const auto byte = static_cast<unsigned char>(line[at]);
        if (!is_digit(byte)) {
            const std::uint8_t bits = classes[line[at]];
            if ((bits & KEEP) != 0) sequence.push_back(line[at]);
            facts.bits |= bits;
            continue;
        }
        std::size_t end = at;
        while (end < line.size() && is_digit(static_cast<unsigned char>(line[end]))) ++end;
        if (end - at != 1 || byte == '0') {
            std::string problem = "'";
            problem.append(line.substr(at, end - at));
            problem.append("' inside the sequence is neither a position number nor a frameshift (one digit, 1 to 9)");
            return problem;
        }
        sequence.push_back(line[at]);
        facts.bits |= DIGIT;
    }
    return std::nullopt;
}

}  // namespace ntpepmap::reader
