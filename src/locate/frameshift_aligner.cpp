#include "locate/frameshift_aligner.hpp"

#include <algorithm>
#include <array>
#include <limits>

#include "locate/reverse_complement.hpp"

namespace ntpepmap::locate {

namespace {

constexpr std::size_t TRIPLET = 3;
constexpr std::uint32_t UNREACHED = std::numeric_limits<std::uint32_t>::max();

// How a residue is threaded: over a whole codon, or broken by a frameshift of these shifts, in
// the order a tie prefers them.
constexpr std::uint8_t WHOLE_CODON = 0;
constexpr std::array<int, 4> SHIFTS = {+1, -1, +2, -2};
constexpr int WIDEST_SHIFT = 2;

constexpr int shift_of(std::uint8_t step) noexcept { return step == WHOLE_CODON ? 0 : SHIFTS[step - 1u]; }

}  // namespace

std::size_t frameshift_limit(std::size_t residues) noexcept { return std::max<std::size_t>(2, (residues + 99) / 100); }

FrameshiftAligner::FrameshiftAligner(const CodonLookup& table, std::uint64_t start_codons)
    : alphabet_(table), index_(alphabet_), matcher_(table, start_codons) {}

std::optional<ShiftedPlacement> FrameshiftAligner::align(std::string_view residues, std::string_view check_copy,
                                                         bool anywhere, bool both_strands) {
    if (residues.empty()) return std::nullopt;
    const std::size_t limit = frameshift_limit(residues.size());
    const auto drift = static_cast<std::ptrdiff_t>(WIDEST_SHIFT * limit);
    if (!anywhere) return thread(residues, check_copy, {-drift, static_cast<std::size_t>(2 * drift + 1)}, false,
                                 Strand::forward);
    index_.read(residues);
    index_.build(1);
    std::optional<ShiftedPlacement> best;
    const auto consider = [&](std::string_view text, Strand strand) {
        const std::optional<Band> band = voted_band(residues, text, limit);
        if (!band) return;
        std::optional<ShiftedPlacement> found = thread(residues, text, *band, true, strand);
        const auto cost = [](const ShiftedPlacement& placement) {
            return placement.mismatches + FRAMESHIFT_COST * placement.frameshifts.size();
        };
        if (found && (!best || cost(*found) < cost(*best))) best = std::move(found);
    };
    consider(check_copy, Strand::forward);
    if (both_strands) {
        reverse_strand_.clear();
        append_reverse_complement_dna(check_copy, reverse_strand_);
        consider(reverse_strand_, Strand::reverse);
    }
    return best;
}

// Each exact anchor of the protein in the text votes for its diagonal; the band holds the
// 2F + 1 diagonals with the most votes (the first such, on a tie) and 2F more on either side.
std::optional<FrameshiftAligner::Band> FrameshiftAligner::voted_band(std::string_view residues, std::string_view text,
                                                                     std::size_t limit) {
    const std::size_t span = ANCHOR_RESIDUES * TRIPLET;
    if (residues.size() < ANCHOR_RESIDUES || text.size() < span) return std::nullopt;
    const std::size_t lowest = TRIPLET * residues.size();  // diagonal 0 sits here
    votes_.assign(lowest + text.size() + 1, 0);
    const auto* const letters = reinterpret_cast<const unsigned char*>(text.data());
    const auto code = [&](std::size_t nucleotide) {
        return alphabet_.codon_code(
            codon_number(letters[nucleotide], letters[nucleotide + 1], letters[nucleotide + 2]));
    };
    for (std::size_t nucleotide = 0; nucleotide + span <= text.size(); ++nucleotide) {
        const std::size_t key =
            anchor_key(alphabet_.size(), code(nucleotide), code(nucleotide + TRIPLET), code(nucleotide + 2 * TRIPLET));
        index_.for_each_position(key,
                                 [&](std::size_t position) { ++votes_[lowest + nucleotide - TRIPLET * position]; });
    }
    const std::size_t window = 2 * limit + 1;
    std::uint32_t sum = 0;
    std::uint32_t best_sum = 0;
    std::size_t best_start = 0;
    for (std::size_t diagonal = 0; diagonal < votes_.size(); ++diagonal) {
        sum += votes_[diagonal];
        if (diagonal >= window) sum -= votes_[diagonal - window];
        if (sum > best_sum) {
            best_sum = sum;
            best_start = diagonal + 1 - std::min(window, diagonal + 1);
        }
    }
    if (best_sum == 0) return std::nullopt;
    const auto drift = static_cast<std::ptrdiff_t>(WIDEST_SHIFT * limit);
    const std::ptrdiff_t low = static_cast<std::ptrdiff_t>(best_start) - static_cast<std::ptrdiff_t>(lowest) - drift;
    return Band{low, window + static_cast<std::size_t>(2 * drift)};
}

// Row r of the programme holds the cheapest threading of the first r residues for each column
// of the band: residue r's codon starting at nucleotide 3r + the column's diagonal.
std::optional<ShiftedPlacement> FrameshiftAligner::thread(std::string_view residues, std::string_view text, Band band,
                                                          bool anywhere, Strand strand) {
    const std::size_t width = band.width;
    const auto length = static_cast<std::ptrdiff_t>(text.size());
    costs_.assign(2 * width, UNREACHED);
    steps_.resize(residues.size() * width);
    std::uint32_t* previous = costs_.data();
    std::uint32_t* current = previous + width;
    const auto start_of = [&](std::size_t residue, std::size_t column) {
        return static_cast<std::ptrdiff_t>(TRIPLET * residue) + band.low + static_cast<std::ptrdiff_t>(column);
    };
    for (std::size_t column = 0; column < width; ++column) {
        const std::ptrdiff_t start = start_of(0, column);
        if (start >= 0 && start <= length && (anywhere || start == 0)) previous[column] = 0;
    }
    for (std::size_t residue = 0; residue < residues.size(); ++residue) {
        const auto letter = static_cast<unsigned char>(residues[residue]);
        std::uint8_t* const steps = steps_.data() + residue * width;
        for (std::size_t column = 0; column < width; ++column) {
            std::uint32_t best = UNREACHED;
            std::uint8_t best_step = WHOLE_CODON;
            const std::ptrdiff_t start = start_of(residue, column);
            if (previous[column] != UNREACHED && start >= 0 && start + 3 <= length) {
                const char* const triplet = text.data() + start;
                best = previous[column] + (matcher_.matches(residue, letter, triplet) ? 0u : 1u);
            }
            for (std::uint8_t step = 1; step <= SHIFTS.size(); ++step) {
                const int shift = shift_of(step);
                const std::ptrdiff_t from = static_cast<std::ptrdiff_t>(column) - shift;
                if (from < 0 || from >= static_cast<std::ptrdiff_t>(width)) continue;
                const std::uint32_t before = previous[from];
                const std::ptrdiff_t broken = start - shift;  // where the broken codon starts
                if (before == UNREACHED || broken < 0 || broken + 3 + shift > length) continue;
                if (before + FRAMESHIFT_COST < best) {
                    best = before + static_cast<std::uint32_t>(FRAMESHIFT_COST);
                    best_step = step;
                }
            }
            current[column] = best;
            steps[column] = best_step;
        }
        std::swap(previous, current);
    }
    std::size_t end_column = width;
    for (std::size_t column = 0; column < width; ++column) {
        if (previous[column] != UNREACHED && (end_column == width || previous[column] < previous[end_column]))
            end_column = column;
    }
    if (end_column == width) return std::nullopt;
    return trace_back(residues, text, band, end_column, strand);
}

ShiftedPlacement FrameshiftAligner::trace_back(std::string_view residues, std::string_view text, Band band,
                                               std::size_t end_column, Strand strand) const {
    ShiftedPlacement placement;
    placement.strand = strand;
    std::size_t column = end_column;
    const auto end = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(TRIPLET * residues.size()) + band.low +
                                              static_cast<std::ptrdiff_t>(end_column));
    for (std::size_t residue = residues.size(); residue-- > 0;) {
        const int shift = shift_of(steps_[residue * band.width + column]);
        column = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(column) - shift);
        const auto start = static_cast<std::size_t>(static_cast<std::ptrdiff_t>(TRIPLET * residue) + band.low +
                                                    static_cast<std::ptrdiff_t>(column));
        if (shift != 0) {
            placement.frameshifts.push_back({residue, start, shift});
        } else if (!matcher_.matches(residue, static_cast<unsigned char>(residues[residue]), text.data() + start)) {
            ++placement.mismatches;
        }
        placement.offset = start;
    }
    std::reverse(placement.frameshifts.begin(), placement.frameshifts.end());
    placement.length = end - placement.offset;
    placement.within_limits = placement.frameshifts.size() <= frameshift_limit(residues.size()) &&
                              placement.mismatches <= mismatch_tolerance(residues.size());
    return placement;
}

}  // namespace ntpepmap::locate
