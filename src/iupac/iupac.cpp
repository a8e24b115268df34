#include "iupac/iupac.hpp"

#include <algorithm>

namespace ntpepmap {
namespace {

// IUPAC_CODES, indexed by byte; the letters stand in the order in which they are tried.
constexpr std::array<std::string_view, 256> IUPAC_CODES = [] {
    std::array<std::string_view, 256> codes{};
    codes['R'] = "AG";
    codes['Y'] = "CT";
    codes['S'] = "GC";
    codes['W'] = "AT";
    codes['K'] = "GT";
    codes['M'] = "AC";
    codes['B'] = "CGT";
    codes['D'] = "AGT";
    codes['H'] = "ACT";
    codes['V'] = "ACG";
    codes['N'] = "ACGT";
    return codes;
}();

constexpr unsigned char byte_at(std::string_view text, std::size_t position) noexcept {
    return static_cast<unsigned char>(text[position]);
}

// A byte at a resolved position: a key must become one of its letters, any other byte stays.
bool resolves_to(unsigned char original, char replacement) noexcept {
    const std::string_view letters = IUPAC_CODES[original];
    if (letters.empty()) return static_cast<char>(original) == replacement;
    return letters.find(replacement) != std::string_view::npos;
}

}  // namespace

std::string_view iupac_letters(unsigned char byte) noexcept { return IUPAC_CODES[byte]; }

void recurse(std::string_view triplet, TripletBuffer& buffer, std::size_t position, CandidateSet& candidates) {
    if (position == triplet.size()) {
        candidates.emplace(buffer.data(), buffer.size());
        return;
    }
    recurse(triplet, buffer, position + 1, candidates);
    for (char letter : IUPAC_CODES[byte_at(triplet, position)]) {
        buffer[position] = letter;
        recurse(triplet, buffer, position + 1, candidates);
    }
}

CandidateSet candidate_set(std::string_view triplet) {
    if (triplet.size() > 3) throw TripletTooLong(triplet.size());
    TripletBuffer buffer{};
    std::copy(triplet.begin(), triplet.end(), buffer.begin());
    CandidateSet candidates;
    recurse(triplet, buffer, 0, candidates);
    return candidates;
}

// The candidates of a triplet are: its first k bytes kept as they are (k = 0..length),
// every later byte fully resolved, and NUL padding up to three bytes. So an entry is a
// candidate when every position from its first difference on is a resolution.
bool is_candidate(std::string_view triplet, std::string_view entry) noexcept {
    if (entry.size() != 3 || triplet.size() > 3) return false;
    TripletBuffer padded{};
    std::copy(triplet.begin(), triplet.end(), padded.begin());
    std::size_t position = 0;
    while (position < 3 && entry[position] == padded[position]) ++position;
    if (position == 3) return true;
    if (position >= triplet.size()) return false;
    for (; position < triplet.size(); ++position) {
        if (!resolves_to(byte_at(triplet, position), entry[position])) return false;
    }
    for (; position < 3; ++position) {
        if (entry[position] != '\0') return false;
    }
    return true;
}

const std::string* first_candidate(std::string_view triplet, std::span<const std::string> taxa) noexcept {
    for (const std::string& entry : taxa) {
        if (is_candidate(triplet, entry)) return &entry;
    }
    return nullptr;
}

TripletTooLong::TripletTooLong(std::size_t byte_length)
    : std::invalid_argument("original_triplet must be at most 3 bytes of UTF-8, got " + std::to_string(byte_length)) {}

std::optional<std::string> attempt_iupac_substitution(std::string_view original_triplet,
                                                      std::vector<std::string> taxa) {
    if (original_triplet.size() > 3) throw TripletTooLong(original_triplet.size());
    if (const std::string* match = first_candidate(original_triplet, taxa)) return *match;
    return std::nullopt;
}

}  // namespace ntpepmap
