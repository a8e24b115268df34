#include "locate/coding_region_locator.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <numeric>

#include "locate/reverse_complement.hpp"

namespace ntpepmap::locate {

namespace {

constexpr std::size_t TRIPLET = 3;
// A hit on a key is verified only when the two codons after the anchor match too: a chance
// hit rarely survives, and the anchors of a placement's exact run are counted as five long.
constexpr std::size_t CONFIRMED_RESIDUES = ANCHOR_RESIDUES + 2;

// Plain text is read a word at a time, bytes in little-endian order: bits 1 and 2 of the
// letters A, C, G and T tell them apart (A 0, C 1, T 2, G 3), and one multiplication
// gathers those of three bytes into a codon number from 0 to 63.
constexpr std::uint64_t BASE_BITS = 0x030303;
constexpr std::uint64_t GATHER = (1u << 20) | (1u << 10) | 1u;  // bytes 0, 1, 2 to bits 20, 18, 16

// The codon of bytes 0 to 2 of `letters`.
constexpr unsigned acgt_codon_number(std::uint64_t letters) noexcept {
    return static_cast<unsigned>((((letters >> 1) & BASE_BITS) * GATHER) >> 16) & 63u;
}

// The codons of bytes 0 to 2 and 3 to 5 as one number from 0 to 4095, first codon high: the
// same multiplication gathers the second codon to bits 40 to 45, clear of the first's terms.
constexpr unsigned acgt_codon_pair_number(std::uint64_t letters) noexcept {
    constexpr std::uint64_t PAIR_BITS = BASE_BITS | BASE_BITS << 24;
    const std::uint64_t gathered = ((letters >> 1) & PAIR_BITS) * GATHER;
    return static_cast<unsigned>((gathered >> 10 & 63u << 6) | (gathered >> 40 & 63u));
}

constexpr std::uint64_t letters_of(std::string_view codons) noexcept {
    std::uint64_t letters = 0;
    for (std::size_t k = 0; k < codons.size(); ++k) letters |= std::uint64_t{static_cast<unsigned char>(codons[k])} << 8 * k;
    return letters;
}

static_assert(acgt_codon_pair_number(letters_of("GGGGGG")) == 4095 && acgt_codon_pair_number(letters_of("AAATTT")) == 42 &&
              acgt_codon_pair_number(letters_of("TTTAAA")) == 42 << 6 && acgt_codon_number(letters_of("CAG")) == 19);

bool plain_base(unsigned char letter) noexcept {
    return letter == 'A' || letter == 'C' || letter == 'G' || letter == 'T';
}

// Counted in whole blocks of vector width small enough for one-byte counters, which
// vectorise well, then the rest one by one (one by one throughout: +9 % locator instructions).
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
    // A probe reads three codons and looks its key up: about one and a half times the work
    // of indexing one anchor, as measured.
    constexpr std::size_t ANCHOR_COST = 2;
    constexpr std::size_t PROBE_COST = 3;
    constexpr std::size_t WIDEST_PROTEIN_STRIDE = 8;
    // The widest text stride no more than `widest` that is coprime with 3 and the protein stride.
    const auto text_stride = [](std::size_t protein, std::size_t widest) {
        std::size_t text = widest;
        while (text % TRIPLET == 0 || std::gcd(protein, text) != 1) --text;
        return text;
    };
    ProbeStrides best{1, text_stride(1, anchors_per_run)};
    std::size_t best_cost = ANCHOR_COST * residues + PROBE_COST * probed_codons / best.text;
    for (std::size_t protein = 2; protein <= std::min(WIDEST_PROTEIN_STRIDE, anchors_per_run); ++protein) {
        const std::size_t text = text_stride(protein, anchors_per_run / protein);
        const std::size_t cost = ANCHOR_COST * residues / protein + PROBE_COST * probed_codons / text;
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
    bool acgt_only = false;
    std::size_t probe_stride = 1;  // in nucleotides
    std::size_t confirmed = 0;     // residues of a hit that must match exactly before it is verified
    bool leave_verification = false;
    std::optional<Placement> unread;  // the first hit, left unread under leave_verification
    Strand strand = Strand::forward;
    LocateResult result;
};

CodingRegionLocator::CodingRegionLocator(const CodonLookup& table, std::uint64_t start_codons)
    : alphabet_(table), index_(alphabet_), matcher_(table, start_codons) {
    // Codes of the plain codons, and key parts of codon pairs, by their numbers as plain text
    // gives them; a part of no_key() or more when a codon has no code. (Keys made codon by
    // codon instead: +14 % locator instructions.)
    const std::size_t alphabet_size = alphabet_.size();
    const std::size_t without_key = no_key(alphabet_size);
    // Keys are below 32^3, so no_key() and the parts fit 16 bits.
    static_assert(no_key(AnchorAlphabet::MAX_SIZE) <= std::numeric_limits<std::uint16_t>::max());
    std::array<std::uint16_t, 64> codes{};
    constexpr std::string_view BASES = "ACGT";
    for (const char first : BASES) {
        for (const char second : BASES) {
            for (const char third : BASES) {
                const std::uint8_t code = alphabet_.codon_code(codon_number(
                    static_cast<unsigned char>(first), static_cast<unsigned char>(second), static_cast<unsigned char>(third)));
                const std::size_t part = code == AnchorAlphabet::NO_CODE ? without_key : code;
                const char codon[] = {first, second, third};
                codes[acgt_codon_number(letters_of({codon, TRIPLET}))] = static_cast<std::uint16_t>(part);
            }
        }
    }
    acgt_codon_codes_ = codes;
    for (unsigned pair = 0; pair < acgt_pair_keys_.size(); ++pair) {
        const std::size_t first = codes[pair >> 6], second = codes[pair & 63u];
        const bool coded = first < alphabet_size && second < alphabet_size;
        acgt_pair_keys_[pair] =
            static_cast<std::uint16_t>(coded ? (first * alphabet_size + second) * alphabet_size : without_key);
    }
}

LocateResult CodingRegionLocator::locate(std::string_view protein, std::string_view check_copy,
                                         bool both_strands, bool leave_verification, bool acgt_only) {
    Search search;
    index_.read(protein);
    const std::string_view residues = index_.residues();
    if (residues.empty()) return search.result;
    search.residues = residues;
    search.tolerance = mismatch_tolerance(residues.size());
    search.leave_verification = leave_verification;
    const std::size_t not_acgt = acgt_only ? 0 : non_plain_bases(check_copy);
    // Their codons are read a word at a time, which takes the bytes in little-endian order.
    search.acgt_only = not_acgt == 0 && std::endian::native == std::endian::little;
    // Every position of a placement whose codon and residue codes differ is a mismatch, a
    // residue without a code, a triplet with a letter other than ACGT, or the initiator.
    const std::size_t breaks =
        search.tolerance + not_acgt + index_.uncoded() + (residues.front() == 'M' ? 1 : 0);
    const std::size_t probed = both_strands ? 2 * check_copy.size() : check_copy.size();
    plan_search(search, breaks, probed);
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

// Plans the search for a placement holding at most `breaks` positions whose codon and
// residue codes differ, and indexes the anchors if it uses them.
void CodingRegionLocator::plan_search(Search& search, std::size_t breaks, std::size_t probed) {
    const std::size_t residue_count = search.residues.size();
    // A placement holds an exact run at least this long, and so at least
    // shortest_run - confirmed + 1 exact stretches of `confirmed` residues on one diagonal.
    const std::size_t shortest_run = residue_count > breaks ? (residue_count - breaks) / (breaks + 1) : 0;
    // Unanchored, more breaks would change nothing.
    search.anchored = shortest_run >= ANCHOR_RESIDUES && index_.fits();
    if (!search.anchored) return;
    search.confirmed = std::min(CONFIRMED_RESIDUES, shortest_run);
    const ProbeStrides strides = probe_strides(residue_count, probed, shortest_run - search.confirmed + 1);
    search.probe_stride = strides.text;
    index_.build(strides.protein);
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
    if (stretch > text.size()) return;
    if (!search.anchored) {
        for (std::size_t offset = 0; offset + stretch <= text.size(); ++offset) verify(search, text, offset);
        return;
    }
    const std::size_t alphabet_size = alphabet_.size();
    const auto* const letters = reinterpret_cast<const unsigned char*>(text.data());
    if (search.acgt_only) {
        const std::uint16_t* const pair_keys = acgt_pair_keys_.data();
        const std::uint16_t* const codes = acgt_codon_codes_.data();
        const std::size_t without_key = no_key(alphabet_size);
        probe(search, text, [=](std::size_t nucleotide) {
            std::uint64_t first_two = 0;
            std::uint32_t last = 0;
            std::memcpy(&first_two, letters + nucleotide, sizeof first_two);
            std::memcpy(&last, letters + nucleotide + ANCHOR_RESIDUES * TRIPLET - sizeof last, sizeof last);
            const std::size_t key =
                std::size_t{pair_keys[acgt_codon_pair_number(first_two)]} + codes[acgt_codon_number(last >> 8)];
            return std::min(key, without_key);
        });
    } else {
        const AnchorAlphabet& alphabet = alphabet_;
        const auto code = [&](const unsigned char* triplet) {
            return alphabet.codon_code(codon_number(triplet[0], triplet[1], triplet[2]));
        };
        probe(search, text, [&](std::size_t nucleotide) {
            const unsigned char* const codons = letters + nucleotide;
            return anchor_key(alphabet_size, code(codons), code(codons + TRIPLET), code(codons + 2 * TRIPLET));
        });
    }
}

// key_at(n): the key of the anchor of three codons from nucleotide n on, or no_key().
template <typename KeyAt>
void CodingRegionLocator::probe(Search& search, std::string_view text, KeyAt key_at) {
    const std::size_t residue_count = search.residues.size();
    const std::size_t last_offset = text.size() - TRIPLET * residue_count;  // of a placement
    diagonal_seen_.assign(last_offset + 1, 0);
    // Locals: byte stores to diagonal_seen_ may alias any member.
    std::uint8_t* const seen = diagonal_seen_.data();
    const auto* const letters = reinterpret_cast<const unsigned char*>(text.data());
    const AnchorIndex& index = index_;
    const AnchorAlphabet& alphabet = alphabet_;
    // The residues after the anchor at `position` match the codons after nucleotide `probed`,
    // as far as confirmed; past the protein's end there is nothing to refuse the hit with.
    // The hit's placement lies inside the text, so every codon read is whole.
    const auto confirms = [&](std::size_t position, std::size_t probed) {
        const std::size_t end = std::min(position + search.confirmed, residue_count);
        for (std::size_t next = position + ANCHOR_RESIDUES; next < end; ++next) {
            const unsigned char* const triplet = letters + probed + TRIPLET * (next - position);
            if (alphabet.codon_code(codon_number(triplet[0], triplet[1], triplet[2])) != index.code(next)) return false;
        }
        return true;
    };
    // An anchor ends no later than the last placement's last residue.
    const std::size_t last_probe = last_offset + TRIPLET * (residue_count - ANCHOR_RESIDUES);
    for (std::size_t probed = 0; probed <= last_probe; probed += search.probe_stride) {
        index.for_each_position(key_at(probed), [&](std::size_t position) {
            const std::size_t shift = TRIPLET * position;
            if (shift > probed) return;
            const std::size_t offset = probed - shift;
            // A hit that is not confirmed leaves the diagonal to other probes.
            if (offset > last_offset || seen[offset] != 0 || !confirms(position, probed)) return;
            seen[offset] = 1;
            verify(search, text, offset);
        });
    }
}

void CodingRegionLocator::verify(Search& search, std::string_view text, std::size_t offset) {
    // Only anchored hits are likely placements: unanchored, every diagonal is a hit.
    if (search.anchored && search.leave_verification && !search.unread) {
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
