#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "locate/anchor_alphabet.hpp"
#include "locate/anchor_index.hpp"
#include "locate/stretch_matcher.hpp"
#include "translator/codon_lookup.hpp"

namespace ntpepmap::locate {

enum class Strand : std::uint8_t { forward, reverse };

// Where the protein lies, in the coordinates of the strand it was found on: the check
// copy itself (forward) or the check copy's reverse complement (reverse).
struct Placement {
    Strand strand = Strand::forward;
    std::size_t offset = 0;     // the first nucleotide of the first residue's codon
    std::size_t length = 0;     // three nucleotides per residue; a stop codon after it is not included
    bool stop_follows = false;  // the three nucleotides right after the stretch are a stop codon of the table
};

// A half-open interval of nucleotides of the check copy, counted on the forward strand.
struct NucleotideSpan {
    std::size_t begin = 0;
    std::size_t end = 0;
};

// The stretch of the check copy (forward coordinates) that a placement covers; for a
// reverse placement, the letters to reverse-complement (see reverse_complement.hpp).
NucleotideSpan forward_span(const Placement& placement, std::size_t check_copy_length) noexcept;

struct LocateResult {
    std::size_t placements = 0;         // placements within the tolerance, over every frame and strand searched
    std::optional<Placement> placement;  // set exactly when placements == 1
    // False when the placement was left for the caller to read against the protein: it is the
    // only one if it holds no more than the tolerance of mismatches, and there is none if not.
    bool verified = true;
};

// How sparsely the search reads: anchors are indexed at every `protein`-th position of the
// protein and probed at every `text`-th nucleotide of the strand, whatever its frame. Each is
// coprime with the other and the text stride with 3, and their product is at most the anchors
// of a shortest exact run, so on the diagonal of any placement some indexed anchor lies at a
// probed nucleotide: protein position i meets nucleotide o + 3i, for every placement offset o,
// once in every protein * text positions at a multiple of the protein stride.
struct ProbeStrides {
    std::size_t protein = 1;
    std::size_t text = 1;
};

// The strides that cost least for a protein of `residues` and `probed_codons` nucleotides
// over every strand searched, when an exact run of the placement holds
// `anchors_per_run` anchors (at least one).
ProbeStrides probe_strides(std::size_t residues, std::size_t probed_codons, std::size_t anchors_per_run) noexcept;

// Mismatched residues a placement may hold: max(2, 2 % of the residues, rounded down).
std::size_t mismatch_tolerance(std::size_t residues) noexcept;

// Finds the coding region of a protein inside a longer nucleotide sequence (an mRNA with
// UTRs, a partial first codon, poly-A, ...): the stretch that, read in one of the three
// frames of the forward strand (and of the reverse complement when asked), matches the
// whole protein without indels and with at most mismatch_tolerance() mismatched residues,
// reading codons as StretchMatcher does.
//
// Time is linear in the sequence for ordinary input: anchors of three residues of the
// protein are indexed and codons probed only as densely as needed for every placement
// within the tolerance to meet one (see ProbeStrides); the diagonals they hit are verified,
// each once. Input that matches almost anywhere (long runs of N, low-complexity repeats,
// proteins of a few residues) can cost one verification per diagonal, like a search
// without anchors.
//
// Build one locator per codon table and reuse it for every record; it keeps its buffers
// between records, so it is not for concurrent use.
class CodingRegionLocator {
public:
    // The table is borrowed and must outlive the locator. start_codons: bit k set when TCAG
    // codon k is a start codon of the table.
    CodingRegionLocator(const CodonLookup& table, std::uint64_t start_codons);

    CodingRegionLocator(const CodingRegionLocator&) = delete;
    CodingRegionLocator& operator=(const CodingRegionLocator&) = delete;

    // protein: the residues upper case, alignment gaps '-' left out. check_copy: the
    // nucleotides upper case, U written as T, '-' and '.' removed. A protein without residues
    // has no placement.
    //
    // With leave_verification, the one hit of the search that could be a placement while no
    // other is found is returned unread (verified false): a caller that reads the stretch anyway
    // saves reading it twice, and checks it with within_tolerance() when its own reading finds
    // more mismatches than the tolerance.
    //
    // acgt_only: the caller knows that the check copy holds nothing but A, C, G and T, which
    // saves counting its other letters.
    LocateResult locate(std::string_view protein, std::string_view check_copy, bool both_strands,
                        bool leave_verification = false, bool acgt_only = false);

    // Whether the protein of the last locate() matches `stretch` (its codons, three nucleotides
    // per residue, prepared like the check copy) within the tolerance.
    bool within_tolerance(std::string_view stretch) const noexcept;

private:
    struct Search;

    void plan_search(Search& search, std::size_t breaks, std::size_t probed);
    void search_strand(Search& search, Strand strand, std::string_view text);
    template <typename KeyAt>
    void probe(Search& search, std::string_view text, KeyAt key_at);
    void verify(Search& search, std::string_view text, std::size_t offset);
    void count_placement(Search& search, Strand strand, std::string_view text, std::size_t offset);

    AnchorAlphabet alphabet_;
    // For text of plain bases read a word at a time: the code of each codon and the key part
    // of each pair of codons, by their numbers there.
    std::array<std::uint16_t, 64> acgt_codon_codes_{};
    std::array<std::uint16_t, 64 * 64> acgt_pair_keys_{};
    AnchorIndex index_;
    StretchMatcher matcher_;
    std::vector<std::uint8_t> diagonal_seen_;
    std::string reverse_strand_;
};

}  // namespace ntpepmap::locate
