// The engine's second try for a record that fits its CDS no other way: threading it with
// frameshifts allowed.
#include <algorithm>
#include <array>

#include "engine/engine.hpp"

namespace ntpepmap::engine {
namespace {

constexpr std::size_t TRIPLET = 3;

}  // namespace

// Runs for a record that is left out as a wrong pairing or unplaced, unless the search found
// several places for it. Writes it when a threading within the limits holds a frameshift; a
// record still left out keeps the threading's frameshifts, so that their places can be told.
void Engine::retry_with_frameshifts(std::string_view file_stem, std::string_view name, std::string_view peptide,
                                    std::string_view cds, RecordOutcome& outcome) {
    if (outcome.residues == 0 || outcome.placements.value_or(0) > 1) return;
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
}

// The piece of each residue (into pieces_) and the site of each frameshift.
std::vector<FrameshiftSite> Engine::plan_threading(std::string_view peptide, const locate::ShiftedPlacement& threading) {
    std::vector<FrameshiftSite> sites;
    pieces_.clear();
    auto frameshift = threading.frameshifts.begin();
    std::size_t offset = threading.offset;
    std::size_t residue = 0;
    for (std::size_t column = 0; column < peptide.size(); ++column) {
        if (peptide[column] == '-') continue;
        if (frameshift != threading.frameshifts.end() && frameshift->residue == residue) {
            FrameshiftSite& site = sites.emplace_back(FrameshiftSite{column + 1, residue + 1, frameshift->shift, 0, {}, true});
            pieces_.push_back(broken_codon(offset, peptide[column], frameshift->shift, site));
            offset += static_cast<std::size_t>(static_cast<int>(TRIPLET) + frameshift->shift);
            ++frameshift;
        } else {
            pieces_.push_back({offset, TRIPLET});
            offset += TRIPLET;
        }
        ++residue;
    }
    return sites;
}

// A codon of 3 + shift nucleotides from `offset`. Extra nucleotides are those whose removal
// leaves a codon of the residue: after the codon, before it, or inside it, tried in this
// order; after it when none does. Beside the codon they leave it whole.
CodonPiece Engine::broken_codon(std::size_t offset, char residue, int shift, FrameshiftSite& site) const {
    const std::string_view checked = letters_.checked();
    const std::size_t span = static_cast<std::size_t>(static_cast<int>(TRIPLET) + shift);
    if (shift < 0) {
        site.cds_position = offset + 1;
        site.letters.assign(letters_.given().substr(offset, span));
        return {offset, span};
    }
    const auto extra = static_cast<std::size_t>(shift);
    const std::uint64_t codons = code_.lookup()[static_cast<unsigned char>(residue)].plain_codons;
    std::size_t found = TRIPLET;
    for (const std::size_t at : std::array<std::size_t, 4>{TRIPLET, 0, 1, 2}) {
        std::string triplet(checked.substr(offset, span));
        triplet.erase(at, extra);
        const unsigned number = codon_number(static_cast<unsigned char>(triplet[0]), static_cast<unsigned char>(triplet[1]),
                                             static_cast<unsigned char>(triplet[2]));
        if (number < 64 && (codons >> number & 1u) != 0) {
            found = at;
            site.masked = at != TRIPLET && at != 0;
            break;
        }
    }
    site.cds_position = offset + found + 1;
    site.letters.assign(letters_.given().substr(offset + found, extra));
    if (site.masked) return {offset, span};
    return {found == 0 ? offset + extra : offset, TRIPLET};
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
