#include "engine/trim_signs.hpp"

#include "engine/locus_settings.hpp"

#include <optional>
#include <string>
#include <utility>

namespace ntpepmap::engine {
namespace {

// Unrelated residues are found in order too, when the translation is long enough: each costs
// about 20 letters of it (one per amino acid). A trim that keeps a tenth of the columns or more
// costs fewer than 10 per residue; a row too short to tell is no sign.
constexpr std::size_t MOST_LETTERS_PER_RESIDUE = 10;
constexpr std::size_t LEAST_RESIDUES = 10;
// Records looked at, spread over those left out: a failing run of 10,000 records should not
// take long to say why.
constexpr std::size_t MOST_LOOKED_AT = 100;
constexpr char32_t UNKNOWN = U'X';  // an ambiguous codon, or one the code lacks: any residue

bool is_gap(char letter) noexcept { return letter == '-' || letter == '.' || letter == '~'; }

char upper(char letter) noexcept { return letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 32) : letter; }

// The letters without gaps, upper case, and (for a CDS) U read as T.
std::string letters_of(std::string_view given, bool as_dna) {
    std::string letters;
    letters.reserve(given.size());
    for (const char letter : given) {
        if (is_gap(letter)) continue;
        const char up = upper(letter);
        letters.push_back(as_dna && up == 'U' ? 'T' : up);
    }
    return letters;
}

int tcag_rank(char base) noexcept {
    switch (base) {
        case 'T': return 0;
        case 'C': return 1;
        case 'A': return 2;
        case 'G': return 3;
        default: return -1;
    }
}

// The codon's TCAG number (read upper case, U as T); -1 for one of other letters.
int codon_number(std::string_view codon) noexcept {
    if (codon.size() != 3) return -1;
    int number = 0;
    for (const char base : codon) {
        const char up = upper(base);
        const int rank = tcag_rank(up == 'U' ? 'T' : up);
        if (rank < 0) return -1;
        number = 4 * number + rank;
    }
    return number;
}

char32_t letter_of(std::string_view codon, const CodonLetters& letters) noexcept {
    const int number = codon_number(codon);
    return number < 0 ? UNKNOWN : letters[static_cast<std::size_t>(number)];
}

std::u32string translation_of(std::string_view bases, std::size_t frame, const CodonLetters& letters) {
    std::u32string translation;
    for (std::size_t start = frame; start + 3 <= bases.size(); start += 3) {
        translation.push_back(letter_of(bases.substr(start, 3), letters));
    }
    return translation;
}

// Where the residue or an X is first found from place on; npos where neither is.
std::size_t first_of(const std::u32string& translation, char32_t residue, std::size_t place) {
    const std::size_t found = translation.find(residue, place);
    const std::size_t end = found == std::u32string::npos ? translation.size() : found;
    for (std::size_t at = place; at < end; ++at) {
        if (translation[at] == UNKNOWN) return at;
    }
    return found;
}

// How many stretches of the translation the residues are found in, in order, each at its first
// place (which keeps a stretch going wherever it can), and how many letters they span; none when
// they are not found so.
std::optional<std::pair<std::size_t, std::size_t>> stretches_of(std::string_view residues,
                                                               const std::u32string& translation) {
    std::size_t stretches = 0;
    std::size_t first = 0;
    std::size_t place = 0;
    for (const char letter : residues) {
        const auto residue = static_cast<char32_t>(static_cast<unsigned char>(letter));
        if (stretches != 0 && place < translation.size() &&
            (translation[place] == residue || translation[place] == UNKNOWN)) {
            ++place;
            continue;
        }
        const std::size_t found = first_of(translation, residue, place);
        if (found == std::u32string::npos) return std::nullopt;
        if (stretches == 0) first = found;
        ++stretches;
        place = found + 1;
    }
    return std::pair{stretches, place - first};
}

}  // namespace

CodonLetters codon_letters(std::string_view amino_acids) noexcept {
    CodonLetters letters;
    letters.fill(UNKNOWN);
    for (std::size_t codon = 0; codon < letters.size() && codon < amino_acids.size(); ++codon) {
        letters[codon] = static_cast<unsigned char>(amino_acids[codon]);
    }
    return letters;
}

void give_letter(CodonLetters& letters, std::string_view codon, char32_t letter) noexcept {
    const int number = codon_number(codon);
    if (number >= 0) letters[static_cast<std::size_t>(number)] = letter;
}

bool found_in_stretches(std::string_view row, std::string_view cds, const CodonLetters& letters) {
    const std::string residues = letters_of(row, false);
    if (residues.size() < LEAST_RESIDUES) return false;
    const std::string bases = letters_of(cds, true);
    for (std::size_t frame = 0; frame < 3; ++frame) {
        const auto found = stretches_of(residues, translation_of(bases, frame, letters));
        if (found && found->first >= 2 && found->second <= MOST_LETTERS_PER_RESIDUE * residues.size()) return true;
    }
    return false;
}

bool looks_trimmed(std::span<const LocusRecord> records, std::span<const std::size_t> left_out,
                   const CodonLetters& letters) {
    for (const std::size_t index : left_out) {
        if (index >= records.size()) throw SettingError("left_out names a record beyond the locus");
    }
    if (left_out.empty() || 2 * left_out.size() <= records.size()) return false;
    const std::size_t step = (left_out.size() + MOST_LOOKED_AT - 1) / MOST_LOOKED_AT;
    for (std::size_t at = 0; at < left_out.size(); at += step) {
        const LocusRecord& record = records[left_out[at]];
        if (!found_in_stretches(record.row, record.cds, letters)) return false;
    }
    return true;
}

}  // namespace ntpepmap::engine
