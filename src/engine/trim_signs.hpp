#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "engine/locus.hpp"

// The signs that a protein alignment was trimmed (ClipKIT, trimAl, Gblocks): most of its records
// no longer fit their CDS, yet each one's residues are still found, in order, as a few stretches
// of its CDS's translation, which the columns cut away once joined.
namespace ntpepmap::engine {

// The letter of each upper-case DNA codon, codons in TCAG order; 'X' where the code has none.
using CodonLetters = std::array<char32_t, 64>;

// A built-in code's letters, one per codon in TCAG order.
[[nodiscard]] CodonLetters codon_letters(std::string_view amino_acids) noexcept;

// A caller's code: the codon (any case, U as T) given the letter; one of other letters is no codon.
void give_letter(CodonLetters& letters, std::string_view codon, char32_t letter) noexcept;

// Whether, in one of the CDS's three frames (read upper case, U as T, gaps left out), the
// row's residues are found in order as two or more stretches of its translation, closer
// together than chance puts them. A row too short to tell is no sign.
[[nodiscard]] bool found_in_stretches(std::string_view row, std::string_view cds, const CodonLetters& letters);

// Whether more than half of the locus's records were left out (told by index) and each of them,
// or of a hundred spread over them, is found in stretches of its CDS's translation.
// An index beyond the records is refused (SettingError).
[[nodiscard]] bool looks_trimmed(std::span<const LocusRecord> records, std::span<const std::size_t> left_out,
                                 const CodonLetters& letters);

}  // namespace ntpepmap::engine
