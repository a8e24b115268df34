#include "engine/stop_codons.hpp"

#include <algorithm>
#include <array>

#include "engine/cds_letters.hpp"
#include "engine/engine.hpp"
#include "translator/codon_lookup.hpp"

namespace ntpepmap::engine {
namespace {

constexpr std::size_t TRIPLET = 3;

std::size_t residues_in(std::string_view peptide) noexcept {
    return peptide.size() - static_cast<std::size_t>(std::count(peptide.begin(), peptide.end(), '-'));
}

// Whether a problem was told at the 1-based column; `next` walks the problems in column order.
bool failed_at(const std::vector<SiteProblem>& problems, std::size_t& next, std::size_t column) noexcept {
    while (next < problems.size() && problems[next].column < column) ++next;
    return next < problems.size() && problems[next].column == column;
}

}  // namespace

std::optional<std::uint64_t> codon_bits(std::span<const std::string> codons) noexcept {
    std::uint64_t bits = 0;
    for (const std::string& codon : codons) {
        const auto letter = [&](std::size_t at) { return static_cast<unsigned char>(codon[at]); };
        const unsigned number = codon.size() == TRIPLET ? codon_number(letter(0), letter(1), letter(2)) : 64;
        if (number >= 64) return std::nullopt;
        bits |= std::uint64_t{1} << number;
    }
    return bits;
}

namespace {

// The sites of '*', X, U and O in a peptide, in order: each letter's next site kept, so that
// each is searched for once along the peptide.
class StopSites {
public:
    explicit StopSites(std::string_view peptide) : peptide_(peptide) {
        for (std::size_t letter = 0; letter < LETTERS.size(); ++letter) next_[letter] = peptide.find(LETTERS[letter]);
    }

    // The next site, npos at the end; moves past it.
    std::size_t take() noexcept {
        const auto* const first = std::min_element(next_.begin(), next_.end());
        const std::size_t site = *first;
        if (site != std::string_view::npos) {
            const auto letter = static_cast<std::size_t>(first - next_.begin());
            next_[letter] = peptide_.find(LETTERS[letter], site + 1);
        }
        return site;
    }

private:
    static constexpr std::string_view LETTERS = "*XUO";
    std::string_view peptide_;
    std::array<std::size_t, 4> next_{};
};

}  // namespace

void find_stop_codons(std::string_view peptide, const CdsLetters& letters, const CodonLookup& lookup,
                      StopPolicy policy, RecordOutcome& outcome) {
    StopSites sites(peptide);
    std::size_t site = sites.take();
    if (site == std::string_view::npos) return;
    const std::string_view given = letters.given();
    const std::string_view written = letters.written();
    const std::string_view checked = letters.checked();
    const std::uint64_t stop_codons = lookup['*'].plain_codons;
    const std::size_t last_residue = peptide.find_last_not_of('-');
    // Most proteins hold one '*', their last residue: its number is known without a count.
    std::size_t residues_before =
        site == last_residue ? outcome.residues - 1 : residues_in(peptide.substr(0, site));
    std::size_t next_problem = 0;
    while (site != std::string_view::npos) {
        const std::size_t cursor = TRIPLET * residues_before;
        const std::size_t piece = TRIPLET * site;
        const char residue = peptide[site];
        const auto reads_stop = [&] {
            if (residue != 'X') return true;  // '*' failed as a mismatch otherwise, U and O likewise
            const unsigned number = codon_number(static_cast<unsigned char>(checked[cursor]),
                                                 static_cast<unsigned char>(checked[cursor + 1]),
                                                 static_cast<unsigned char>(checked[cursor + 2]));
            return number < 64 && (stop_codons >> number & 1u) != 0;
        };
        if (cursor + TRIPLET <= given.size() && piece + TRIPLET <= outcome.row.size() &&
            !failed_at(outcome.problems, next_problem, site + 1) && reads_stop()) {
            outcome.stops.push_back(StopCodon{site + 1, residues_before + 1, std::string(given.substr(cursor, TRIPLET)),
                                              site == last_residue && residue != 'U' && residue != 'O', residue});
            if (policy == StopPolicy::mask) {
                copy_case(written.substr(cursor, TRIPLET), "NNN", outcome.row.data() + piece);
            }
        }
        const std::size_t following = sites.take();
        if (following != std::string_view::npos) {
            residues_before += 1 + residues_in(peptide.substr(site + 1, following - site - 1));
        }
        site = following;
    }
}

}  // namespace ntpepmap::engine

namespace ntpepmap::engine {

std::string_view with_read_through_residues(std::string_view row, std::string_view peptide, std::string& storage) {
    // A row streamlined as it is holds neither; nor does one whose letters took more or fewer places.
    if (peptide.data() != storage.data() || peptide.size() != storage.size()) return peptide;
    const std::size_t start = row.find_first_not_of(" \t\n\v\f\r");
    if (start == std::string_view::npos || row.size() - start < storage.size()) return peptide;
    for (std::size_t site = 0; site < storage.size(); ++site) {
        const char letter = static_cast<char>(row[start + site] & ~0x20);  // upper case
        if (letter == 'U' || letter == 'O') storage[site] = letter;
    }
    return storage;
}

}  // namespace ntpepmap::engine
