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

// Whole codons gained or lost (an isoform, a moved exon boundary, an intron): `codons` > 0,
// that many codons of the text lie before residue `residue` and none of the protein's;
// `codons` < 0, that many residues from `residue` on have no codon in the text.
struct CodonGap {
    std::size_t residue = 0;  // 0-based, among the residues
    std::size_t offset = 0;   // the first nucleotide gained, or the one the missing codons would start at
    int codons = 0;
};

// How far from the frameshifts' diagonals a gap of codons is looked for, in nucleotides: most
// introns of plants and animals are shorter, and the band's width, which the time grows with,
// reaches no further.
inline constexpr std::size_t GAP_REACH = 3000;

// What a gap of whole codons costs: as a frameshift does, however many codons the text gains,
// and for each residue it lacks.
inline constexpr std::size_t CODON_GAP_COST = 3;

// A protein threaded through a stretch of nucleotides, frameshifts allowed.
struct ShiftedPlacement {
    Strand strand = Strand::forward;
    std::size_t offset = 0;  // the first nucleotide of the first residue's codon
    std::size_t length = 0;  // up to the end of the last residue's codon
    std::vector<Frameshift> frameshifts;  // 5' to 3'
    std::vector<CodonGap> gaps;           // 5' to 3'
    std::size_t mismatches = 0;           // residues over a whole codon that is none of theirs
    // No more than frameshift_limit() frameshifts and gaps together and mismatch_tolerance() mismatches.
    bool within_limits = false;

    std::size_t events() const noexcept { return frameshifts.size() + gaps.size(); }
    std::size_t cost() const noexcept;
};

// Threads a protein through nucleotides that may have lost or gained some here and there (a
// sequencing error, a pseudogene, an isoform, an intron): each residue takes a codon, read as
// StretchMatcher reads it, or, where a frameshift breaks it, 1, 2, 4 or 5 nucleotides, or,
// where the text lacks its codon, none; whole codons of the text may lie between two residues.
// The threading costs a mismatch per mismatched residue, FRAMESHIFT_COST per broken codon and
// CODON_GAP_COST per gap of codons and per residue without one; the cheapest is kept: on a tie
// a codon read whole before a broken one (shifts +1, -1, +2, -2, then none at all), no gap
// before a gap, the longest gap before a shorter one, so that events lie as far 5' as they
// go; then the stretch that ends first.
//
// A banded dynamic programme over (residue, diagonal): diagonals are a codon's first
// nucleotide less three times its residue's index, and each frameshift moves the threading
// by its shift, so a threading of frameshifts alone stays within 2F diagonals of where it
// starts. The band holds the diagonals, among those 2F (the 2F + 1 with the most, where the
// stretch may start anywhere), on which exact anchors of three residues fall, widened to the
// diagonals within GAP_REACH nucleotides that hold as many (where a gap of codons moves the
// threading), and a few more: time is linear in the sequence plus the residues times the
// band's width.
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
    void widen_to_codon_gaps(std::size_t& low, std::size_t& high) const;
    std::optional<ShiftedPlacement> thread(std::string_view residues, std::string_view text, Band band,
                                           bool anywhere, Strand strand);
    static void enter_after_gaps(const std::uint32_t* previous, std::uint32_t* entry, std::size_t width,
                                 std::uint32_t* gap_codons, bool gaps_allowed);
    ShiftedPlacement trace_back(std::string_view residues, std::string_view text, Band band, std::size_t end_column,
                                Strand strand) const;

    const CodonLookup& table_;
    AnchorAlphabet alphabet_;
    AnchorIndex index_;
    StretchMatcher matcher_;
    std::vector<std::uint8_t> codons_;      // the number of the codon at each nucleotide of the text; 64: none
    std::vector<std::uint32_t> votes_;      // by diagonal, shifted to start at 0
    std::vector<std::uint32_t> costs_;      // three rows of the band: the last, it after gaps, the next
    std::vector<std::uint8_t> steps_;       // by residue and column: how the residue was threaded
    std::vector<std::uint32_t> gap_codons_;  // by residue and column: the codons gained before it
    std::string reverse_strand_;
};

}  // namespace ntpepmap::locate
