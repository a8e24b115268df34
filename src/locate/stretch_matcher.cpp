#include "locate/stretch_matcher.hpp"

#include <algorithm>
#include <array>

#include "iupac/iupac.hpp"

namespace ntpepmap::locate {

namespace {

constexpr std::size_t TRIPLET = 3;

unsigned number_of(const char* triplet) noexcept {
    return codon_number(static_cast<unsigned char>(triplet[0]), static_cast<unsigned char>(triplet[1]),
                        static_cast<unsigned char>(triplet[2]));
}

// Bit r set: the byte can be read as the base of TCAG number r (empty for non-bases).
std::uint8_t readable_bases(char byte) noexcept {
    const auto letter = static_cast<unsigned char>(byte);
    if (BASE_NUMBER[letter] != NOT_A_BASE) return static_cast<std::uint8_t>(1u << BASE_NUMBER[letter]);
    std::uint8_t bases = 0;
    for (const char base : IUPAC_CODES[letter]) {
        bases = static_cast<std::uint8_t>(bases | 1u << BASE_NUMBER[static_cast<unsigned char>(base)]);
    }
    return bases;
}

// Every plain codon the triplet can be read as, one bit per TCAG codon number.
std::uint64_t plain_readings(const char* triplet) noexcept {
    const std::array<std::uint8_t, TRIPLET> bases{readable_bases(triplet[0]), readable_bases(triplet[1]),
                                                  readable_bases(triplet[2])};
    std::uint64_t readings = 0;
    for (unsigned first = 0; first < 4; ++first) {
        for (unsigned second = 0; second < 4; ++second) {
            for (unsigned third = 0; third < 4; ++third) {
                const unsigned readable =
                    (unsigned{bases[0]} >> first) & (unsigned{bases[1]} >> second) & (unsigned{bases[2]} >> third);
                if ((readable & 1u) != 0)
                    readings |= std::uint64_t{1} << (first << 4 | second << 2 | third);
            }
        }
    }
    return readings;
}

}  // namespace

StretchMatcher::StretchMatcher(const CodonLookup& table, std::uint64_t start_codons) noexcept
    : table_(table), start_codons_(start_codons), stop_codons_(table['*'].plain_codons) {}

std::size_t StretchMatcher::mismatches(std::string_view residues, const char* codons,
                                       std::size_t tolerance) const noexcept {
    std::size_t count = 0;
    for (std::size_t site = plain_run_end(residues, codons, 0); site < residues.size();
         site = plain_run_end(residues, codons, site + 1)) {
        const auto residue = static_cast<unsigned char>(residues[site]);
        const char* const triplet = codons + TRIPLET * site;
        // A plain codon of another residue matches only under X or as the initiator: most
        // mismatches are settled here, without the rules for ambiguity letters.
        const bool unusual = site == 0 || residue == 'X' || number_of(triplet) >= 64;
        if (unusual && matches_unusual(site, residue, table_[residue], triplet)) continue;
        if (++count > tolerance) break;
    }
    return count;
}

bool StretchMatcher::matches(std::size_t site, unsigned char residue, const char* triplet) const noexcept {
    const CodonLookupEntry& entry = table_[residue];
    const unsigned number = number_of(triplet);
    if (number < 64 && (entry.plain_codons >> number & 1u) != 0) return true;
    return matches_unusual(site, residue, entry, triplet);
}

// The first site from `site` on whose triplet is not a plain codon of its residue. Kept free
// of calls so that the whole loop stays in registers.
std::size_t StretchMatcher::plain_run_end(std::string_view residues, const char* codons,
                                          std::size_t site) const noexcept {
    const CodonLookup& table = table_;
    const char* triplet = codons + TRIPLET * site;
    for (; site < residues.size(); ++site, triplet += TRIPLET) {
        const unsigned number = number_of(triplet);
        if (number >= 64 || (table[static_cast<unsigned char>(residues[site])].plain_codons >> number & 1u) == 0) break;
    }
    return site;
}

// Everything but a plain codon of the residue, in the translator's order of rules.
bool StretchMatcher::matches_unusual(std::size_t site, unsigned char residue, const CodonLookupEntry& entry,
                                     const char* triplet) const noexcept {
    if (entry.codons == nullptr) return false;
    if (residue == 'X') return true;
    const unsigned number = number_of(triplet);
    if (number < 64) return site == 0 && residue == 'M' && (start_codons_ >> number & 1u) != 0;
    const std::string_view text(triplet, TRIPLET);
    if (text.find('N') != std::string_view::npos) return true;
    const CodonList& codons = *entry.codons;
    return std::find(codons.begin(), codons.end(), text) != codons.end() || first_candidate(text, codons) != nullptr;
}

bool StretchMatcher::is_stop(const char* triplet) const noexcept {
    const unsigned number = number_of(triplet);
    if (number < 64) return (stop_codons_ >> number & 1u) != 0;
    const std::uint64_t readings = plain_readings(triplet);
    return readings != 0 && (readings & ~stop_codons_) == 0;
}

}  // namespace ntpepmap::locate
