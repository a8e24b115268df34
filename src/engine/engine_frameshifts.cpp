// The engine's second try for a record that fits its CDS no other way, or only over a run of
// failures: threading it with frameshifts and gaps of whole codons allowed.
#include <algorithm>
#include <array>
#include <bit>
#include <cstdlib>

#include "engine/engine.hpp"
#include "engine/stop_codons.hpp"

namespace ntpepmap::engine {
namespace {

constexpr std::size_t TRIPLET = 3;
// Fewer residues fit almost any CDS once frameshifts are allowed: a few codons tell nothing.
constexpr std::size_t FEWEST_THREADED_RESIDUES = 10;

}  // namespace

// Runs for a record that is left out as a wrong pairing, unplaced or too short, unless the
// search found several places for it, and for one written over a run of failures (see
// shows_shifted_run). Writes it when a threading within the limits holds a frameshift or a gap
// of codons (a record written already: only when that threading costs less than its failures);
// a record still left out keeps the threading's events, so that their places can be told.
void Engine::retry_with_frameshifts(std::string_view file_stem, std::string_view name, std::string_view peptide,
                                    std::string_view cds, RecordOutcome& outcome) {
    if (outcome.residues < FEWEST_THREADED_RESIDUES || outcome.placements.value_or(0) > 1) return;
    // Read straight (written, or dropped for its failures): the threading replaces that reading
    // only when it is better.
    const bool read_straight = outcome.fate == RecordFate::written || outcome.fate == RecordFate::dropped;
    if (read_straight && options_.frameshifts == FrameshiftPolicy::drop) return;
    residues_storage_.assign(peptide);
    std::erase(residues_storage_, '-');
    const std::size_t failed = outcome.failed;
    letters_.prepare(cds, options_.letters);
    if (!aligner_) aligner_.emplace(code_.lookup(), code_.start_codons());
    const std::optional<locate::ShiftedPlacement> threading =
        aligner_->align(residues_storage_, letters_.checked(), options_.locate, options_.both_strands);
    // A record read straight stays as it is, its letters aside: nothing reads them again.
    const bool better = threading && threading->events() > 0 &&
                        (!read_straight || (threading->within_limits && threading->cost() < failed));
    if (!better) return;
    const std::size_t nucleotides = letters_.checked().size();
    if (threading->strand == locate::Strand::reverse) letters_.keep_region(0, nucleotides, true);
    std::vector<FrameshiftSite> sites = plan_threading(peptide, *threading);
    if (threading->strand == locate::Strand::reverse) {
        for (FrameshiftSite& site : sites) site.cds_position = on_forward_strand(site, nucleotides);
    }
    if (!threading->within_limits || options_.frameshifts == FrameshiftPolicy::drop) {
        outcome.frameshifts = std::move(sites);
        return;
    }
    const std::optional<std::size_t> placements = outcome.placements;
    letters_.keep_pieces(pieces_);
    accept_start_codon(peptide);
    outcome.fate = RecordFate::written;
    back_translate(file_stem, name, peptide, outcome);
    outcome.located = options_.locate;
    outcome.placements = placements;
    outcome.frameshifts = std::move(sites);
    outcome.stops.clear();
    decide_fate(outcome);
    if (outcome.fate == RecordFate::written) {
        find_stop_codons(peptide, letters_, code_.lookup(), options_.stops, outcome);
    }
}

// A record read straight whose failures hold a run: 6 of 8 residues in a row or more, as
// after a codon gained or lost, where each residue reads its neighbour's codon. Scattered
// failures (a diverged ortholog) do not ask for the threading.
bool Engine::shows_shifted_run(const RecordOutcome& outcome) noexcept {
    constexpr std::size_t RUN_FAILURES = 6;
    constexpr std::size_t RUN_RESIDUES = 8;
    const std::vector<SiteProblem>& problems = outcome.problems;
    if (outcome.failed < RUN_FAILURES) return false;
    for (std::size_t last = RUN_FAILURES - 1, first = 0; last < problems.size(); ++last, ++first) {
        if (problems[last].residue_number - problems[first].residue_number < RUN_RESIDUES) return true;
    }
    return false;
}

// 1-based, on the forward strand, of a site found on the reverse one: a frameshift's
// nucleotide, the first of codons gained, or the one that codons missing follow.
std::size_t Engine::on_forward_strand(const FrameshiftSite& site, std::size_t nucleotides) noexcept {
    if (site.shift <= -static_cast<int>(TRIPLET)) return nucleotides - site.cds_position;
    if (site.shift >= static_cast<int>(TRIPLET)) return nucleotides + 2 - site.cds_position - site.letters.size();
    return nucleotides + 1 - site.cds_position;
}

// The piece of each residue (into pieces_) and the site of each frameshift and gap of codons.
std::vector<FrameshiftSite> Engine::plan_threading(std::string_view peptide,
                                                   const locate::ShiftedPlacement& threading) {
    std::vector<FrameshiftSite> sites;
    std::vector<ThreadingEvent> events;
    pieces_.clear();
    auto frameshift = threading.frameshifts.begin();
    auto gap = threading.gaps.begin();
    std::size_t offset = threading.offset;
    std::size_t residue = 0;
    std::size_t missing = 0;  // residues still to come without a codon
    for (std::size_t column = 0; column < peptide.size(); ++column) {
        if (peptide[column] == '-') continue;
        if (gap != threading.gaps.end() && gap->residue == residue) {
            const auto length = TRIPLET * static_cast<std::size_t>(std::abs(gap->codons));
            const int shift = gap->codons > 0 ? static_cast<int>(length) : -static_cast<int>(length);
            events.push_back({residue, gap->offset, shift});
            if (gap->codons > 0) {
                sites.push_back({column + 1, residue + 1, shift, gap->offset + 1,
                                 std::string(letters_.given().substr(gap->offset, length)), false, 0});
                offset += length;
            } else {
                sites.push_back({column + 1, residue + 1, shift, gap->offset, {}, true, 0});
                missing = static_cast<std::size_t>(-gap->codons);
            }
            ++gap;
        }
        if (missing > 0) {
            pieces_.push_back({offset, TRIPLET, true});  // NNN, in the case of the codon that follows
            --missing;
        } else if (frameshift != threading.frameshifts.end() && frameshift->residue == residue) {
            events.push_back({residue, frameshift->offset, frameshift->shift});
            FrameshiftSite& site =
                sites.emplace_back(FrameshiftSite{column + 1, residue + 1, frameshift->shift, 0, {}, true, 0});
            pieces_.push_back(broken_codon(offset, peptide[column], frameshift->shift, site));
            offset += static_cast<std::size_t>(static_cast<int>(TRIPLET) + frameshift->shift);
            ++frameshift;
        } else {
            pieces_.push_back({offset, TRIPLET});
            offset += TRIPLET;
        }
        ++residue;
    }
    for (std::size_t event = 0; event < sites.size(); ++event) {
        const std::size_t until = event + 1 < events.size() ? events[event + 1].residue : pieces_.size();
        mask_uncertain_codons(events[event], until, sites[event]);
    }
    return sites;
}

// The threading puts each event as far 5' as it can; it could as well put it a residue or more
// further when the letters it leaves there are codons of those residues. Each residue that
// would then be read from other letters is masked: which letters are its own is not known.
// `until`: the next event's residue, or the number of residues.
void Engine::mask_uncertain_codons(const ThreadingEvent& event, std::size_t until, FrameshiftSite& site) {
    const auto encodes = [&](std::size_t at, std::size_t residue) {
        const std::string_view checked = letters_.checked();
        if (at + TRIPLET > checked.size()) return false;
        const unsigned number = codon_number(static_cast<unsigned char>(checked[at]),
                                             static_cast<unsigned char>(checked[at + 1]),
                                             static_cast<unsigned char>(checked[at + 2]));
        const auto letter = static_cast<unsigned char>(residues_storage_[residue]);
        return number < 64 && (code_.lookup()[letter].plain_codons >> number & 1u) != 0;
    };
    const auto mask = [&](std::size_t residue) {
        if (residue >= pieces_.size() || pieces_[residue].masked) return;
        pieces_[residue].masked = true;
        ++site.masked_after;
    };
    if (event.shift >= static_cast<int>(TRIPLET)) {
        // Codons gained before residue r: r, r + 1, ... may as well be read before them.
        for (std::size_t next = event.residue; next < until; ++next) {
            if (!encodes(event.offset + TRIPLET * (next - event.residue), next)) break;
            mask(next);
        }
        return;
    }
    if (event.shift <= -static_cast<int>(TRIPLET)) {
        // Residues r to r + k - 1 without codons: r may as well read the codon r + k reads, and so on.
        const std::size_t gap = static_cast<std::size_t>(-event.shift) / TRIPLET;
        for (std::size_t next = event.residue; next + gap < until; ++next) {
            if (!encodes(event.offset + TRIPLET * (next - event.residue), next)) break;
            mask(next + gap);
        }
        return;
    }
    for (std::size_t next = event.residue + 1; next < until; ++next) {
        const std::size_t before = next - 1;
        const std::size_t unshifted = event.offset + TRIPLET * (before - event.residue);
        if (!encodes(unshifted, before)) break;
        if (!pieces_[before].masked && pieces_[before].begin != unshifted) {
            pieces_[before].masked = true;
            site.masked = true;
        }
        pieces_[next].masked = true;
        ++site.masked_after;
    }
}

// A codon of 3 + shift nucleotides from `offset`. Its extra nucleotides are those whose removal
// leaves a codon of the residue, tried after the codon, before it, then inside it; after it when
// none does. The codon is written whole only when the extra nucleotides are beside it and no
// other removal leaves another codon of the residue: a synonymous codon made of the wrong
// letters would pass for the residue's own.
CodonPiece Engine::broken_codon(std::size_t offset, char residue, int shift, FrameshiftSite& site) const {
    const std::string_view checked = letters_.checked();
    const std::size_t span = static_cast<std::size_t>(static_cast<int>(TRIPLET) + shift);
    if (shift < 0) {
        site.cds_position = offset + 1;
        site.letters.assign(letters_.given().substr(offset, span));
        return {offset, span, true};
    }
    const auto extra = static_cast<std::size_t>(shift);
    const std::uint64_t codons = code_.lookup()[static_cast<unsigned char>(residue)].plain_codons;
    std::size_t found = TRIPLET;
    std::uint64_t readings = 0;  // the residue's codons that some removal leaves
    for (const std::size_t at : std::array<std::size_t, 4>{TRIPLET, 0, 1, 2}) {
        std::string triplet(checked.substr(offset, span));
        triplet.erase(at, extra);
        const unsigned number =
            codon_number(static_cast<unsigned char>(triplet[0]), static_cast<unsigned char>(triplet[1]),
                         static_cast<unsigned char>(triplet[2]));
        if (number >= 64 || (codons >> number & 1u) == 0) continue;
        if (readings == 0) found = at;
        readings |= std::uint64_t{1} << number;
    }
    site.masked = (found != TRIPLET && found != 0) || std::popcount(readings) != 1;
    site.cds_position = offset + found + 1;
    site.letters.assign(letters_.given().substr(offset + found, extra));
    if (site.masked) return {offset, span, true};
    return {found == 0 ? offset + extra : offset, TRIPLET, false};
}

// False, having done nothing, for a row without digits.
bool Engine::translate_frameshift_digits(std::string_view file_stem, std::string_view name, std::string_view row,
                                         std::string_view cds, RecordOutcome& outcome) {
    constexpr std::string_view DIGITS = "123";
    if (row.find_first_of(DIGITS) == std::string_view::npos) return false;
    letters_.prepare(cds, options_.letters);
    const std::string_view given = letters_.given();
    const std::string_view written = letters_.written();
    digit_row_.assign(row);
    digit_cds_.clear();
    digit_columns_.clear();
    std::size_t cursor = 0;
    for (std::size_t column = 0; column < row.size(); ++column) {
        const char letter = row[column];
        if (DIGITS.find(letter) != std::string_view::npos) {
            const auto count = static_cast<std::size_t>(letter - '0');
            digit_columns_.push_back({column, std::string(written.substr(std::min(cursor, written.size()), count))});
            digit_row_[column] = '-';
            cursor += count;
        } else if (letter != '-') {
            digit_cds_.append(given.substr(std::min(cursor, given.size()), TRIPLET));
            cursor += TRIPLET;
        }
    }
    digit_cds_.append(given.substr(std::min(cursor, given.size())));
    // The digits place the codons from the first nucleotide on: no coding region is looked for.
    const bool locate = options_.locate;
    options_.locate = false;
    translate(file_stem, name, digit_row_, digit_cds_, outcome);
    options_.locate = locate;
    for (const DigitColumn& digits : digit_columns_) {
        if (TRIPLET * (digits.column + 1) > outcome.row.size()) break;
        char* const piece = outcome.row.data() + TRIPLET * digits.column;
        std::fill(piece, piece + TRIPLET, '-');
        std::copy(digits.letters.begin(), digits.letters.end(), piece);
    }
    return true;
}

}  // namespace ntpepmap::engine
