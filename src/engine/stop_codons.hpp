#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "engine/enum_names.hpp"
#include "translator/codon_lookup.hpp"

namespace ntpepmap::engine {

class CdsLetters;
struct RecordOutcome;

// What becomes of a stop codon that the protein carries as '*'. HyPhy and IQ-TREE's codon models
// refuse an alignment that holds one; codeml reads its column as missing.
enum class StopPolicy : unsigned char {
    keep,          // written as in the CDS; each internal one is told
    mask,          // written as NNN in the triplet's case
    drop_columns,  // its column left out of every row, by the writer, which has all the rows
};
inline constexpr auto STOP_POLICY_NAMES = enum_names<StopPolicy>("keep", "mask", "drop-columns");
static_assert(STOP_POLICY_NAMES[StopPolicy::drop_columns] == "drop-columns");

struct StopCodon {
    std::size_t column;          // 1-based, in the alignment row
    std::size_t residue_number;  // 1-based
    std::string triplet;         // as the CDS gives it
    bool terminal;               // no residue follows it
    // '*'; 'X' (a '*' replaced before aligning); 'U' over TGA, selenocysteine; 'O' over TAG, pyrrolysine.
    char residue = '*';
};

// The codons (upper-case DNA) as bits of their TCAG numbers, as EngineOptions::terminal_stops
// holds them; none when one is not such a codon.
[[nodiscard]] std::optional<std::uint64_t> codon_bits(std::span<const std::string> codons) noexcept;

// Finds the stop codons of a record written with its row, each '*' or 'X' whose triplet the code
// reads as a stop (a '*' over any other triplet is a mismatch, told as one), and each U or O read
// through a stop codon (any other triplet is a mismatch), and masks them under StopPolicy::mask:
// codon models refuse all of them. Costs a record without any of those letters one scan for each.
void find_stop_codons(std::string_view peptide, const CdsLetters& letters, const CodonLookup& lookup,
                      StopPolicy policy, RecordOutcome& outcome);

}  // namespace ntpepmap::engine

namespace ntpepmap::engine {

// Selenocysteine (U) and pyrrolysine (O) are read through the stop codons TGA and TAG: those alone
// encode them. Streamlining reads both as X, which takes any triplet; where the row holds them,
// they are put back in the streamlined peptide (in `storage`, which it then views), so that the
// code's entries for them check their triplets.
std::string_view with_read_through_residues(std::string_view row, std::string_view peptide, std::string& storage);

// The codons of U and O, for codes that have no entry of their own for them.
inline constexpr std::string_view SELENOCYSTEINE_CODON = "TGA";
inline constexpr std::string_view PYRROLYSINE_CODON = "TAG";

}  // namespace ntpepmap::engine
