#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ntpepmap {

// The accepted peptide characters; everything else in a peptide row becomes 'X'.
inline constexpr std::string_view VEC_PEPS = "ALWQYECDFGHIMKPRSVNT*-BJZX";

// Streamlined form of each ASCII byte: upper-cased, then kept if in VEC_PEPS, else 'X'.
// Bytes >= 0x80 are never looked up here (they start multi-byte characters).
inline constexpr std::array<char, 128> ASCII_STREAMLINED = [] {
    std::array<char, 128> map{};
    for (std::size_t byte = 0; byte < map.size(); ++byte) {
        char upper = static_cast<char>(byte);
        if (upper >= 'a' && upper <= 'z') upper = static_cast<char>(upper - 'a' + 'A');
        map[byte] = VEC_PEPS.find(upper) == std::string_view::npos ? 'X' : upper;
    }
    return map;
}();

// Unicode White_Space.
bool is_white_space(char32_t code_point) noexcept;

// The residue letters one character streamlines to (one to three of them).
std::string_view streamlined_residues(char32_t code_point) noexcept;

// Peptide row: trimmed of White_Space, fully upper-cased, reduced to VEC_PEPS.
// Returns a view of `row` when that already is the answer, else of `storage`.
std::string_view streamline_peptide(std::string_view row, std::string& storage);
// Whether the row is its own streamlined form (no white space, no letter that streamlining
// changes); `gaps` gets its count of '-' either way.
bool is_streamlined(std::string_view row, std::size_t& gaps) noexcept;

// The same; when the row (trimmed) is its own streamlined form, `gaps` also gets its count of
// '-', from the same scan.
std::string_view streamline_peptide(std::string_view row, std::string& storage, std::optional<std::size_t>& gaps);

// Nucleotide sequence without '-' and '.'; a view of `sequence` when it has neither.
std::string_view streamline_nucleotides(std::string_view sequence, std::string& storage);

}  // namespace ntpepmap
