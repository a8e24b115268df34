#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace ntpepmap {

// IUPAC_CODES, indexed by byte: the plain bases an ambiguity letter stands for, in the order
// in which they are tried; empty for every byte that is not one of the eleven upper-case keys.
inline constexpr std::array<std::string_view, 256> IUPAC_CODES = [] {
    std::array<std::string_view, 256> codes{};
    codes['R'] = "AG";
    codes['Y'] = "CT";
    codes['S'] = "GC";
    codes['W'] = "AT";
    codes['K'] = "GT";
    codes['M'] = "AC";
    codes['B'] = "CGT";
    codes['D'] = "AGT";
    codes['H'] = "ACT";
    codes['V'] = "ACG";
    codes['N'] = "ACGT";
    return codes;
}();

// The longest triplet that has readings at all.
inline constexpr std::size_t MAX_TRIPLET_BYTES = 3;

// Whether `entry` is one of the readings of `triplet`: the triplet's first k bytes kept as
// they are (k = 0..length), every later byte resolved to one of its IUPAC_CODES letters,
// NUL padding up to three bytes. Allocation-free.
bool is_candidate(std::string_view triplet, std::string_view entry) noexcept;

// The earliest entry of `taxa` that is a candidate of `triplet`, or nullptr.
const std::string* first_candidate(std::string_view triplet, std::span<const std::string> taxa) noexcept;

// The earliest entry of `taxa` that the triplet can be read as, or nothing; always nothing
// for a triplet longer than MAX_TRIPLET_BYTES.
std::optional<std::string> attempt_iupac_substitution(std::string_view original_triplet,
                                                      std::vector<std::string> taxa);

}  // namespace ntpepmap
