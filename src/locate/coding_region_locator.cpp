#include "locate/coding_region_locator.hpp"

#include <algorithm>
#include <numeric>

#include "locate/reverse_complement.hpp"

namespace ntpepmap::locate {

namespace {

constexpr std::size_t TRIPLET = 3;
// A hit on a key is verified only when the two codons after the anchor match too: a chance
// hit rarely survives, and the anchors of a placement's exact run are counted as five long.
constexpr std::size_t CONFIRMED_RESIDUES = ANCHOR_RESIDUES + 2;

bool plain_base(unsigned char letter) noexcept {
    return letter == 'A' || letter == 'C' || letter == 'G' || letter == 'T';
}

// Counted in whole blocks of vector width small enough for one-byte counters, which
// vectorise well, then the rest one by one.
std::size_t non_plain_bases(std::string_view text) noexcept {
    constexpr std::size_t BLOCK = 128;
    const auto* const letters = reinterpret_cast<const unsigned char*>(text.data());
    std::size_t plain = 0;
    std::size_t offset = 0;
    for (; offset + BLOCK <= text.size(); offset += BLOCK) {
        unsigned char count = 0;
        for (std::size_t k = 0; k < BLOCK; ++k) {
            const unsigned char letter = letters[offset + k];
            count = static_cast<unsigned char>(count + (letter == 'A') + (letter == 'C') + (letter == 'G') +
                                               (letter == 'T'));
        }
        plain += count;
    }
    for (; offset < text.size(); ++offset) plain += plain_base(letters[offset]);
    return text.size() - plain;
}

}  // namespace

ProbeStrides probe_strides(std::size_t residues, std::size_t probed_codons, std::size_t anchors_per_run) noexcept {
    // A probe reads three codons and looks its key up: about three times the work of indexing
    // one anchor, as measured.
    constexpr std::size_t PROBE_COST = 3;
    constexpr std::size_t WIDEST_PROTEIN_STRIDE = 8;
    ProbeStrides best{1, anchors_per_run};
    std::size_t best_cost = residues + PROBE_COST * probed_codons / best.text;
    for (std::size_t protein = 2; protein <= std::min(WIDEST_PROTEIN_STRIDE, anchors_per_run); ++protein) {
        std::size_t text = anchors_per_run / protein;
        while (std::gcd(protein, text) != 1) --text;
        const std::size_t cost = residues / protein + PROBE_COST * probed_codons / text;
        if (cost < best_cost) {
            best = {protein, text};
            best_cost = cost;
        }
    }
    return best;
}

std::size_t mismatch_tolerance(std::size_t residues) noexcept { return std::max<std::size_t>(2, residues / 50); }

NucleotideSpan forward_span(const Placement& placement, std::size_t check_copy_length) noexcept {
    if (placement.strand == Strand::forward) return {placement.offset, placement.offset + placement.length};
    const std::size_t end = check_copy_length - placement.offset;
    return {end - placement.length, end};
}

struct CodingRegionLocator::Search {
    std::string_view residues;
    std::size_t tolerance = 0;
    bool anchored = false;
    std::size_t probe_stride = 1;  // in codons of a frame
    std::size_t confirmed = 0;     // residues of a hit that must match exactly before it is verified
    bool leave_verification = false;
    std::optional<Placement> unread;  // the first hit, left unread under leave_verification
    Strand strand = Strand::forward;
    LocateResult result;
};

CodingRegionLocator::CodingRegionLocator(const CodonLookup& table, std::uint64_t start_codons)
    : alphabet_(table), index_(alphabet_), matcher_(table, start_codons) {}

LocateResult CodingRegionLocator::locate(std::string_view protein, std::string_view check_copy,
                                         bool both_strands, bool leave_verification) {
    Search search;
    const std::size_t without_code = index_.read(protein);
    const std::string_view residues = index_.residues();
    if (residues.empty()) return search.result;
    search.residues = residues;
    search.tolerance = mismatch_tolerance(residues.size());
    // Every position of a placement whose codon and residue codes differ is a mismatch, a
    // residue without a code, a triplet with a letter other than ACGT, or the initiator.
    const std::size_t breaks =
        search.tolerance + without_code + non_plain_bases(check_copy) + (residues.front() == 'M' ? 1 : 0);
    // So a placement holds an exact run at least this long, and so at least
    // shortest_run - confirmed + 1 exact stretches of `confirmed` residues on one diagonal.
    const std::size_t shortest_run = residues.size() > breaks ? (residues.size() - breaks) / (breaks + 1) : 0;
    if (shortest_run >= ANCHOR_RESIDUES && index_.fits()) {
        const std::size_t probed_codons = both_strands ? 2 * check_copy.size() : check_copy.size();
        search.confirmed = std::min(CONFIRMED_RESIDUES, shortest_run);
        const ProbeStrides strides =
            probe_strides(residues.size(), probed_codons, shortest_run - search.confirmed + 1);
        index_.build(strides.protein);
        search.anchored = true;
        search.probe_stride = strides.text;
        // Only anchored hits are likely placements: unanchored, every diagonal is a hit.
        search.leave_verification = leave_verification;
    }
    search_strand(search, Strand::forward, check_copy);
    if (both_strands) {
        reverse_strand_.clear();
        append_reverse_complement_dna(check_copy, reverse_strand_);
        search_strand(search, Strand::reverse, reverse_strand_);
    }
    if (const std::optional<Placement> unread = search.unread) {
        const std::string_view text = unread->strand == Strand::forward ? check_copy : reverse_strand_;
        if (search.result.placements == 0) {
            count_placement(search, unread->strand, text, unread->offset);
            search.result.verified = false;
        } else if (within_tolerance(text.substr(unread->offset, unread->length))) {
            // Another placement was found: this one decides between one and several.
            count_placement(search, unread->strand, text, unread->offset);
        }
    }
    return search.result;
}

bool CodingRegionLocator::within_tolerance(std::string_view stretch) const noexcept {
    const std::string_view residues = index_.residues();
    const std::size_t tolerance = mismatch_tolerance(residues.size());
    return stretch.size() == TRIPLET * residues.size() &&
           matcher_.mismatches(residues, stretch.data(), tolerance) <= tolerance;
}

void CodingRegionLocator::search_strand(Search& search, Strand strand, std::string_view text) {
    search.strand = strand;
    const std::size_t stretch = TRIPLET * search.residues.size();
    for (std::size_t frame = 0; frame < TRIPLET; ++frame) {
        if (frame + stretch > text.size()) break;
        const std::size_t last_start = (text.size() - frame - stretch) / TRIPLET;  // in codons of this frame
        if (search.anchored) {
            probe_frame(search, text, frame, last_start);
        } else {
            for (std::size_t start = 0; start <= last_start; ++start) verify(search, text, frame + TRIPLET * start);
        }
    }
}

void CodingRegionLocator::probe_frame(Search& search, std::string_view text, std::size_t frame,
                                      std::size_t last_start) {
    diagonal_seen_.assign(last_start + 1, 0);
    // Locals: byte stores to diagonal_seen_ may alias any member.
    std::uint8_t* const seen = diagonal_seen_.data();
    const std::size_t alphabet_size = alphabet_.size();
    const std::size_t stride = search.probe_stride;
    const auto* const codons = reinterpret_cast<const unsigned char*>(text.data()) + frame;
    const std::size_t codon_count = (text.size() - frame) / TRIPLET;
    const auto code = [&](std::size_t codon) {
        const unsigned char* triplet = codons + TRIPLET * codon;
        return alphabet_.codon_code(codon_number(triplet[0], triplet[1], triplet[2]));
    };
    // The residues after the anchor at `position` match the codons after `codon`, as far as
    // confirmed; past the protein's end there is nothing to refuse the hit with. Inside the
    // text: the hit's diagonal holds the whole protein.
    const std::uint8_t* const residue_codes = index_.codes().data();
    const std::size_t residue_count = search.residues.size();
    const auto confirms = [&](std::size_t position, std::size_t codon) {
        const std::size_t end = std::min(position + search.confirmed, residue_count);
        for (std::size_t next = position + ANCHOR_RESIDUES; next < end; ++next) {
            if (code(codon + (next - position)) != residue_codes[next]) return false;
        }
        return true;
    };
    for (std::size_t codon = 0; codon + ANCHOR_RESIDUES <= codon_count; codon += stride) {
        const std::size_t key = anchor_key(alphabet_size, code(codon), code(codon + 1), code(codon + 2));
        if (key == NO_KEY) continue;
        index_.for_each_position(key, [&](std::size_t position) {
            if (position > codon) return;
            const std::size_t start = codon - position;
            // A hit that is not confirmed leaves the diagonal to other probes.
            if (start > last_start || seen[start] != 0 || !confirms(position, codon)) return;
            seen[start] = 1;
            verify(search, text, frame + TRIPLET * start);
        });
    }
}

void CodingRegionLocator::verify(Search& search, std::string_view text, std::size_t offset) {
    if (search.leave_verification && !search.unread) {
        search.unread = Placement{search.strand, offset, TRIPLET * search.residues.size(), false};
        return;
    }
    if (matcher_.mismatches(search.residues, text.data() + offset, search.tolerance) > search.tolerance) return;
    count_placement(search, search.strand, text, offset);
}

void CodingRegionLocator::count_placement(Search& search, Strand strand, std::string_view text, std::size_t offset) {
    if (++search.result.placements != 1) {
        search.result.placement.reset();
        return;
    }
    const std::size_t length = TRIPLET * search.residues.size();
    const std::size_t end = offset + length;
    const bool stop_follows = end + TRIPLET <= text.size() && matcher_.is_stop(text.data() + end);
    search.result.placement = Placement{strand, offset, length, stop_follows};
}

}  // namespace ntpepmap::locate
