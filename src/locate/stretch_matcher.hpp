#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "translator/codon_lookup.hpp"

namespace ntpepmap::locate {

// Reads a protein against a stretch of codons by the rules the translator checks with,
// plus the initiator: a plain codon of the residue matches; so does any triplet under X,
// a triplet holding N, an ambiguous triplet that can be read as one of the residue's
// codons, and a start codon under an M in first place. A residue the table lacks never
// matches. The triplets are upper case.
class StretchMatcher {
public:
    // start_codons: bit k set when TCAG codon k is a start codon of the table.
    StretchMatcher(const CodonLookup& table, std::uint64_t start_codons) noexcept;

    // The mismatched residues of `residues` read over the triplets from `codons` on (three
    // bytes per residue, all readable), counted up to tolerance + 1 and no further.
    std::size_t mismatches(std::string_view residues, const char* codons, std::size_t tolerance) const noexcept;

    // Whether residue `site` of a protein matches the triplet (three readable bytes).
    bool matches(std::size_t site, unsigned char residue, const char* triplet) const noexcept;

    // Whether the triplet is a stop codon of the table: every plain reading of its letters is one.
    bool is_stop(const char* triplet) const noexcept;

private:
    std::size_t plain_run_end(std::string_view residues, const char* codons, std::size_t site) const noexcept;
    bool matches_unusual(std::size_t site, unsigned char residue, const CodonLookupEntry& entry,
                         const char* triplet) const noexcept;

    const CodonLookup& table_;
    std::uint64_t start_codons_;
    std::uint64_t stop_codons_;
};

}  // namespace ntpepmap::locate
