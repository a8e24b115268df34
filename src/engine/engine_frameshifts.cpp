// The engine's second try for a record that fits its CDS no other way: threading it with
// frameshifts allowed.
#include <algorithm>
#include <array>
#include <bit>

#include "engine/engine.hpp"
#include "engine/stop_codons.hpp"

namespace ntpepmap::engine {
namespace {

constexpr std::size_t TRIPLET = 3;
// Fewer residues fit almost any CDS once frameshifts are allowed: a few codons tell nothing.
constexpr std::size_t FEWEST_THREADED_RESIDUES = 10;

}  // namespace

// Runs for a record that is left out as a wrong pairing, unplaced or too short, unless the
// search found several places for it. Writes it when a threading within the limits holds a frameshift; a
// record still left out keeps the threading's frameshifts, so that their places can be told.
void Engine::retry_with_frameshifts(std::string_view file_stem, std::string_view name, std::string_view peptide,
                                    std::string_view cds, RecordOutcome& outcome) {
    if (outcome.residues < FEWEST_THREADED_RESIDUES || outcome.placements.value_or(0) > 1) return;
    residues_storage_.assign(peptide);
    std::erase(residues_storage_, '-');
    letters_.prepare(cds, options_.letters);
    if (!aligner_) aligner_.emplace(code_.lookup(), code_.start_codons());
    const std::optional<locate::ShiftedPlacement> threading =
        aligner_->align(residues_storage_, letters_.checked(), options_.locate, options_.both_strands);
    if (!threading || threading->frameshifts.empty()) return;
    const std::size_t nucleotides = letters_.checked().size();
    if (threading->strand == locate::Strand::reverse) letters_.keep_region(0, nucleotides, true);
    std::vector<FrameshiftSite> sites = plan_threading(peptide, *threading);
    if (threading->strand == locate::Strand::reverse) {
        for (FrameshiftSite& site : sites) site.cds_position = nucleotides + 1 - site.cds_position;
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
    decide_fate(outcome);
    if (outcome.fate == RecordFate::written) find_stop_codons(peptide, letters_, options_.stops, outcome);
}

// The piece of each residue (into pieces_) and the site of each frameshift.
std::vector<FrameshiftSite> Engine::plan_threading(std::string_view peptide,
                                                   const locate::ShiftedPlacement& threading) {
    std::vector<FrameshiftSite> sites;
    pieces_.clear();
    auto frameshift = threading.frameshifts.begin();
    std::size_t offset = threading.offset;
    std::size_t residue = 0;
    for (std::size_t column = 0; column < peptide.size(); ++column) {
        if (peptide[column] == '-') continue;
        if (frameshift != threading.frameshifts.end() && frameshift->residue == residue) {
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
    for (std::size_t shift = 0; shift < sites.size(); ++shift) {
        const std::size_t until =
            shift + 1 < sites.size() ? threading.frameshifts[shift + 1].residue : pieces_.size();
        mask_uncertain_codons(threading.frameshifts[shift], until, sites[shift]);
    }
    return sites;
}

// The threading breaks a codon as far 5' as it can; it could as well break the next one when
// the broken residue's first three nucleotides are a codon of it, and so on. Each residue that
// would then be read from other letters is masked: which letters are its own is not known.
// `until`: the next frameshift's residue, or the number of residues.
void Engine::mask_uncertain_codons(const locate::Frameshift& frameshift, std::size_t until, FrameshiftSite& site) {
    const std::string_view checked = letters_.checked();
    const CodonLookup& lookup = code_.lookup();
    for (std::size_t next = frameshift.residue + 1; next < until; ++next) {
        const std::size_t before = next - 1;
        const std::size_t unshifted = frameshift.offset + TRIPLET * (before - frameshift.residue);
        if (unshifted + TRIPLET > checked.size()) break;
        const unsigned number = codon_number(static_cast<unsigned char>(checked[unshifted]),
                                             static_cast<unsigned char>(checked[unshifted + 1]),
                                             static_cast<unsigned char>(checked[unshifted + 2]));
        const auto letter = static_cast<unsigned char>(residues_storage_[before]);
        if (number >= 64 || (lookup[letter].plain_codons >> number & 1u) == 0) break;
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
