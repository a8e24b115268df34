#include "locate/frameshift_aligner.hpp"

#include <algorithm>
#include <array>
#include <limits>
#include <span>

#include "locate/reverse_complement.hpp"

namespace ntpepmap::locate {

namespace {

constexpr std::size_t TRIPLET = 3;
// Far above any cost, and far enough below the type's top that costs added to it never wrap.
constexpr std::uint32_t UNREACHED = std::numeric_limits<std::uint32_t>::max() / 2;

// How a residue is threaded: over a whole codon, broken by a frameshift of these shifts, or
// missing from the text (no nucleotide at all), in the order a tie prefers them.
constexpr std::uint8_t WHOLE_CODON = 0;
constexpr std::array<int, 5> SHIFTS = {+1, -1, +2, -2, -3};  // thread() reads them in this order
constexpr int MISSING_CODON = -3;
constexpr int WIDEST_SHIFT = 2;
// Diagonals with this many exact anchors are where a gap of codons may lead.
constexpr std::uint32_t GAP_VOTES = 3;

constexpr int shift_of(std::uint8_t step) noexcept { return step == WHOLE_CODON ? 0 : SHIFTS[step - 1u]; }

}  // namespace

std::size_t frameshift_limit(std::size_t residues) noexcept { return std::max<std::size_t>(2, (residues + 99) / 100); }

std::size_t ShiftedPlacement::cost() const noexcept {
    std::size_t gap_cost = 0;
    for (const CodonGap& gap : gaps) gap_cost += gap.codons > 0 ? 1 : static_cast<std::size_t>(-gap.codons);
    return mismatches + FRAMESHIFT_COST * frameshifts.size() + CODON_GAP_COST * gap_cost;
}

FrameshiftAligner::FrameshiftAligner(const CodonLookup& table, std::uint64_t start_codons)
    : table_(table), alphabet_(table), index_(alphabet_), matcher_(table, start_codons) {}

std::optional<ShiftedPlacement> FrameshiftAligner::align(std::string_view residues, std::string_view check_copy,
                                                         bool anywhere, bool both_strands) {
    if (residues.empty()) return std::nullopt;
    const std::size_t limit = frameshift_limit(residues.size());
    index_.read(residues);
    index_.build(1);
    std::optional<ShiftedPlacement> best;
    const auto consider = [&](std::string_view text, Strand strand) {
        const std::optional<Band> band = voted_band(residues, text, limit, anywhere);
        if (!band) return;
        std::optional<ShiftedPlacement> found = thread(residues, text, *band, anywhere, strand);
        if (found && (!best || found->cost() < best->cost())) best = std::move(found);
    };
    consider(check_copy, Strand::forward);
    if (both_strands) {
        reverse_strand_.clear();
        append_reverse_complement_dna(check_copy, reverse_strand_);
        consider(reverse_strand_, Strand::reverse);
    }
    return best;
}

// Each exact anchor of the protein in the text votes for its diagonal. Where the stretch may
// start anywhere, the window is the 2F + 1 diagonals with the most votes (the first such, on a
// tie); otherwise the 4F + 1 around diagonal 0, where the stretch starts. The band spans the
// window's diagonals that hold three votes or more (chance rarely gives a diagonal three), or
// as many as the most any holds, then the farthest diagonals within GAP_REACH on either side
// that hold three (a gap of codons leads there), and a shift more on either side, for a short
// stretch between frameshifts (the whole window took that L half as long again to thread).
std::optional<FrameshiftAligner::Band> FrameshiftAligner::voted_band(std::string_view residues, std::string_view text,
                                                                     std::size_t limit, bool anywhere) {
    const std::size_t span = ANCHOR_RESIDUES * TRIPLET;
    if (residues.size() < ANCHOR_RESIDUES || text.size() < span) return std::nullopt;
    const std::size_t drift = WIDEST_SHIFT * limit;
    const std::size_t codons = TRIPLET * residues.size();
    // Every diagonal an anchor falls on, from -codons to the text's length: diagonal 0 sits at `zero`.
    const std::size_t zero = codons;
    votes_.assign(text.size() + codons + 1, 0);
    const auto* const letters = reinterpret_cast<const unsigned char*>(text.data());
    codons_.resize(text.size() - TRIPLET + 1);
    for (std::size_t nucleotide = 0; nucleotide < codons_.size(); ++nucleotide) {
        const unsigned number = codon_number(letters[nucleotide], letters[nucleotide + 1], letters[nucleotide + 2]);
        codons_[nucleotide] = static_cast<std::uint8_t>(std::min(number, 64u));
    }
    const auto code = [&](std::size_t nucleotide) { return alphabet_.codon_code(codons_[nucleotide]); };
    for (std::size_t nucleotide = 0; nucleotide + span <= text.size(); ++nucleotide) {
        const std::size_t key =
            anchor_key(alphabet_.size(), code(nucleotide), code(nucleotide + TRIPLET), code(nucleotide + 2 * TRIPLET));
        index_.for_each_position(key, [&](std::size_t position) { ++votes_[zero + nucleotide - TRIPLET * position]; });
    }
    // Frameshifts alone keep a threading inside the text within diagonals -2F to the text's
    // length less the residues' codons, plus 2F: the window is found among those; where there
    // are none (the text is too short for that), among all.
    const bool shifts_fit = text.size() + 2 * drift >= codons;
    const std::size_t reach_first = shifts_fit ? zero - drift : 0;
    const std::size_t reach = shifts_fit ? text.size() + 2 * drift - codons + 1 : votes_.size();
    // From the start, diagonal 0 is in the window even where frameshifts alone could not end
    // the threading inside the text: residues without codons may.
    std::size_t first = zero - drift;
    std::size_t window = std::min(2 * drift + 1, votes_.size() - first);
    if (anywhere) {
        window = drift + 1;
        std::uint32_t sum = 0;
        std::uint32_t best_sum = 0;
        for (std::size_t diagonal = 0; diagonal < reach; ++diagonal) {
            sum += votes_[reach_first + diagonal];
            if (diagonal >= window) sum -= votes_[reach_first + diagonal - window];
            if (sum > best_sum) {
                best_sum = sum;
                first = reach_first + diagonal + 1 - std::min(window, diagonal + 1);
            }
        }
        if (best_sum == 0) return std::nullopt;
        window = std::min(window, reach_first + reach - first);
    }
    const auto voted = std::span(votes_).subspan(first, window);
    const std::uint32_t least = std::clamp<std::uint32_t>(*std::max_element(voted.begin(), voted.end()), 1, 3);
    const auto held = [&](std::uint32_t votes) { return votes >= least; };
    // No anchor of the protein on any diagonal near where the stretch starts: nothing to thread
    // (searched anywhere, the window holds a vote).
    if (std::none_of(voted.begin(), voted.end(), held)) return std::nullopt;
    std::size_t low = first + static_cast<std::size_t>(std::find_if(voted.begin(), voted.end(), held) - voted.begin());
    std::size_t high = first + window - 1 -
                       static_cast<std::size_t>(std::find_if(voted.rbegin(), voted.rend(), held) - voted.rbegin());
    if (!anywhere) {
        low = std::min(low, zero);
        high = std::max(high, zero);
    }
    widen_to_codon_gaps(low, high);
    constexpr std::size_t MARGIN = WIDEST_SHIFT;
    const auto band_low = static_cast<std::ptrdiff_t>(low) - static_cast<std::ptrdiff_t>(zero + MARGIN);
    return Band{band_low, high - low + 2 * MARGIN + 1};
}

// Out to the farthest diagonals within GAP_REACH of [low, high] that hold GAP_VOTES votes.
void FrameshiftAligner::widen_to_codon_gaps(std::size_t& low, std::size_t& high) const {
    const std::size_t lowest = low - std::min(low, GAP_REACH);
    const std::size_t highest = std::min(votes_.size() - 1, high + GAP_REACH);
    for (std::size_t diagonal = lowest; diagonal < low; ++diagonal) {
        if (votes_[diagonal] >= GAP_VOTES) {
            low = diagonal;
            break;
        }
    }
    for (std::size_t diagonal = highest; diagonal > high; --diagonal) {
        if (votes_[diagonal] >= GAP_VOTES) {
            high = diagonal;
            break;
        }
    }
}

// Row r of the programme holds the cheapest threading of the first r residues for each column
// of the band: residue r's codon starting at nucleotide 3r + the column's diagonal. Each row
// has PAD unreached columns on either side, so that no step needs a bounds check (10 % fewer
// instructions for L with 5 % of its records frameshifted).
std::optional<ShiftedPlacement> FrameshiftAligner::thread(std::string_view residues, std::string_view text, Band band,
                                                          bool anywhere, Strand strand) {
    constexpr std::size_t PAD = TRIPLET;  // a residue without a codon is reached from three columns on
    const std::size_t width = band.width;
    const std::size_t stride = width + 2 * PAD;
    const auto wide = static_cast<std::ptrdiff_t>(width);
    const auto length = static_cast<std::ptrdiff_t>(text.size());
    costs_.assign(3 * stride, UNREACHED);
    steps_.resize(residues.size() * width);
    gap_codons_.resize(residues.size() * width);
    std::uint32_t* previous = costs_.data() + PAD;
    std::uint32_t* const entry = previous + stride;  // `previous` after a gap of codons
    std::uint32_t* current = entry + stride;
    for (std::size_t column = 0; column < width; ++column) {
        const std::ptrdiff_t start = band.low + static_cast<std::ptrdiff_t>(column);
        if (start >= 0 && start <= length && (anywhere || start == 0)) previous[column] = 0;
    }
    for (std::size_t residue = 0; residue < residues.size(); ++residue) {
        const auto letter = static_cast<unsigned char>(residues[residue]);
        const std::uint64_t own = table_[letter].plain_codons;
        // Another residue's plain codon matches only under X or as the initiator.
        const bool plain_rules = residue != 0 && letter != 'X';
        std::uint8_t* const steps = steps_.data() + residue * width;
        enter_after_gaps(previous, entry, width, gap_codons_.data() + residue * width, residue != 0);
        const std::ptrdiff_t base = static_cast<std::ptrdiff_t>(TRIPLET * residue) + band.low;
        // The columns whose codon starts inside the text; a broken codon that ends inside it
        // starts where the row before was reached.
        const auto first = static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(-base, 0, wide));
        const auto end = static_cast<std::size_t>(std::clamp<std::ptrdiff_t>(length - 2 - base, 0, wide));
        std::fill(current, current + first, UNREACHED);
        std::fill(current + std::max(first, end), current + width, UNREACHED);
        for (std::size_t column = first; column < end; ++column) {
            const std::size_t at = static_cast<std::size_t>(base) + column;
            const unsigned number = codons_[at];
            // Plain codons settled here, without a call: 14 % fewer instructions for that L.
            const bool matched = number < 64 && plain_rules ? (own >> number & 1u) != 0
                                                            : matcher_.matches(residue, letter, text.data() + at);
            // A whole codon, one broken by a shift of +1, -1, +2, -2, or none: on a tie, the first.
            std::uint32_t best = entry[column] + (matched ? 0u : 1u);
            std::uint8_t step = WHOLE_CODON;
            const auto consider = [&](std::uint32_t before, std::size_t cost, std::uint8_t shift_step) {
                const std::uint32_t total = before + static_cast<std::uint32_t>(cost);
                step = total < best ? shift_step : step;
                best = std::min(best, total);
            };
            const auto here = static_cast<std::ptrdiff_t>(column);  // the padding lies before column 0
            consider(entry[here - 1], FRAMESHIFT_COST, 1);
            consider(entry[here + 1], FRAMESHIFT_COST, 2);
            consider(entry[here - 2], FRAMESHIFT_COST, 3);
            consider(entry[here + 2], FRAMESHIFT_COST, 4);
            consider(entry[here + 3], CODON_GAP_COST, 5);
            current[column] = std::min(best, UNREACHED);
            steps[column] = step;
        }
        std::swap(previous, current);
    }
    std::size_t end_column = width;
    for (std::size_t column = 0; column < width; ++column) {
        if (previous[column] < UNREACHED && (end_column == width || previous[column] < previous[end_column]))
            end_column = column;
    }
    if (end_column == width) return std::nullopt;
    return trace_back(residues, text, band, end_column, strand);
}

// `entry`: each column of `previous`, or, cheaper by more than a tie, a column whole codons
// before it plus CODON_GAP_COST, the farthest on a tie; `gap_codons`: how many codons back.
// No gap comes before the first residue: the stretch's start is found otherwise.
void FrameshiftAligner::enter_after_gaps(const std::uint32_t* previous, std::uint32_t* entry, std::size_t width,
                                         std::uint32_t* gap_codons, bool gaps_allowed) {
    if (!gaps_allowed) {
        std::copy(previous, previous + width, entry);
        std::fill(gap_codons, gap_codons + width, 0u);
        return;
    }
    std::array<std::uint32_t, TRIPLET> cheapest = {UNREACHED, UNREACHED, UNREACHED};  // by column modulo 3
    std::array<std::size_t, TRIPLET> from = {0, 0, 0};
    std::size_t phase = 0;
    for (std::size_t column = 0; column < width; ++column) {
        const std::uint32_t gapped = cheapest[phase] + static_cast<std::uint32_t>(CODON_GAP_COST);
        const bool gap = gapped < previous[column];
        entry[column] = gap ? gapped : previous[column];
        gap_codons[column] = gap ? static_cast<std::uint32_t>((column - from[phase]) / TRIPLET) : 0u;
        if (previous[column] < cheapest[phase]) {
            cheapest[phase] = previous[column];
            from[phase] = column;
        }
        phase = phase + 1 == TRIPLET ? 0 : phase + 1;
    }
}

ShiftedPlacement FrameshiftAligner::trace_back(std::string_view residues, std::string_view text, Band band,
                                               std::size_t end_column, Strand strand) const {
    ShiftedPlacement placement;
    placement.strand = strand;
    std::size_t column = end_column;
    const auto nucleotide = [&](std::size_t residue, std::size_t at_column) {
        return static_cast<std::size_t>(static_cast<std::ptrdiff_t>(TRIPLET * residue) + band.low +
                                        static_cast<std::ptrdiff_t>(at_column));
    };
    const std::size_t end = nucleotide(residues.size(), end_column);
    for (std::size_t residue = residues.size(); residue-- > 0;) {
        const int shift = shift_of(steps_[residue * band.width + column]);
        column = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(column) - shift);
        const std::size_t start = nucleotide(residue, column);
        if (shift == MISSING_CODON) {
            // Residues without codons, one after another, make one gap.
            const bool joined = !placement.gaps.empty() && placement.gaps.back().codons < 0 &&
                                placement.gaps.back().residue == residue + 1 && placement.gaps.back().offset == start;
            if (joined) {
                placement.gaps.back().residue = residue;
                --placement.gaps.back().codons;
            } else {
                placement.gaps.push_back({residue, start, -1});
            }
        } else if (shift != 0) {
            placement.frameshifts.push_back({residue, start, shift});
        } else if (!matcher_.matches(residue, static_cast<unsigned char>(residues[residue]), text.data() + start)) {
            ++placement.mismatches;
        }
        const std::uint32_t gained = gap_codons_[residue * band.width + column];
        if (gained != 0) {
            column -= TRIPLET * gained;
            placement.gaps.push_back({residue, nucleotide(residue, column), static_cast<int>(gained)});
        }
        placement.offset = nucleotide(residue, column);
    }
    std::reverse(placement.frameshifts.begin(), placement.frameshifts.end());
    std::reverse(placement.gaps.begin(), placement.gaps.end());
    placement.length = end - placement.offset;
    placement.within_limits = placement.events() <= frameshift_limit(residues.size()) &&
                              placement.mismatches <= mismatch_tolerance(residues.size());
    return placement;
}

}  // namespace ntpepmap::locate
