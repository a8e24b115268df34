#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "locate/anchor_alphabet.hpp"
#include "locate/anchor_index.hpp"
#include "locate/coding_region_locator.hpp"
#include "locate/stretch_matcher.hpp"
#include "translator/codon_lookup.hpp"

namespace ntpepmap::locate {

// Frameshifts a placement may hold: max(2, 1 % of the residues, rounded up).
std::size_t frameshift_limit(std::size_t residues) noexcept;

// What a frameshift costs, in mismatches.
inline constexpr std::size_t FRAMESHIFT_COST = 3;

// A residue whose codon a frameshift breaks: it spans 3 + shift nucleotides.
struct Frameshift {
    std::size_t residue = 0;  // 0-based, among the residues
    std::size_t offset = 0;   // its first nucleotide, on the strand of the placement
    int shift = 0;            // +1, +2: nucleotides more than a codon; -1, -2: fewer
};

// A protein threaded through a stretch of nucleotides, frameshifts allowed.
struct ShiftedPlacement {
    Strand strand = Strand::forward;
    std::size_t offset = 0;  // the first nucleotide of the first residue's codon
    std::size_t length = 0;  // up to the end of the last residue's codon
    std::vector<Frameshift> frameshifts;  // 5' to 3'
    std::size_t mismatches = 0;           // residues over a whole codon that is none of theirs
    // No more than frameshift_limit() frameshifts and mismatch_tolerance() mismatches.
    bool within_limits = false;
};

// Threads a protein through nucleotides that may have lost or gained one or two of them here
// and there (a sequencing error, a pseudogene): each residue takes a codon, read as
// StretchMatcher reads it, or, where a frameshift breaks it, 1, 2, 4 or 5 nucleotides. The
// threading costs a mismatch per mismatched residue and FRAMESHIFT_COST per broken codon; the
// cheapest is kept, frameshifts on a tie as far 5' as they go, then the stretch that ends first.
//
// A banded dynamic programme over (residue, diagonal): diagonals are a codon's first
// nucleotide less three times its residue's index, and each frameshift moves the threading
// by its shift, so a threading within the limits stays within 2F diagonals of where it
// starts. The band holds the diagonals, among those 2F (the 2F + 1 with the most, where the
// stretch may start anywhere), on which exact anchors of three residues fall, and a few
// more: time is linear in the sequence plus the residues times the frameshifts' spread.
//
// One aligner per codon table, reused from record to record; not for concurrent use.
class FrameshiftAligner {
public:
    // The table is borrowed and must outlive the aligner. start_codons as for StretchMatcher.
    FrameshiftAligner(const CodonLookup& table, std::uint64_t start_codons);

    FrameshiftAligner(const FrameshiftAligner&) = delete;
    FrameshiftAligner& operator=(const FrameshiftAligner&) = delete;

    // residues: upper case, no gaps. check_copy: nucleotides upper case, U as T, no gaps.
    // anywhere: the stretch may start at any nucleotide of the forward strand (and of the
    // reverse complement with both_strands); otherwise it starts at the first nucleotide of the
    // forward strand. Nothing when the protein has no residue, no threading fits, or, anywhere,
    // no anchor of the protein is found.
    std::optional<ShiftedPlacement> align(std::string_view residues, std::string_view check_copy, bool anywhere,
                                          bool both_strands);

private:
    struct Band {
        std::ptrdiff_t low = 0;  // the lowest diagonal
        std::size_t width = 0;
    };

    std::optional<Band> voted_band(std::string_view residues, std::string_view text, std::size_t limit,
                                   bool anywhere);
    std::optional<ShiftedPlacement> thread(std::string_view residues, std::string_view text, Band band,
                                           bool anywhere, Strand strand);
    ShiftedPlacement trace_back(std::string_view residues, std::string_view text, Band band, std::size_t end_column,
                                Strand strand) const;

    const CodonLookup& table_;
    AnchorAlphabet alphabet_;
    AnchorIndex index_;
    StretchMatcher matcher_;
    std::vector<std::uint8_t> codons_;      // the number of the codon at each nucleotide of the text; 64: none
    std::vector<std::uint32_t> votes_;      // by diagonal, shifted to start at 0
    std::vector<std::uint32_t> costs_;      // two rows of the band
    std::vector<std::uint8_t> steps_;       // by residue and column: how the residue was threaded
    std::string reverse_strand_;
};

}  // namespace ntpepmap::locate
