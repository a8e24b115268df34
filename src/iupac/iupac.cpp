#include "iupac/iupac.hpp"

#include <algorithm>

namespace ntpepmap {
namespace {

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

// An entry is a candidate when every position from its first difference on is a resolution.
bool is_candidate(std::string_view triplet, std::string_view entry) noexcept {
    if (entry.size() != MAX_TRIPLET_BYTES || triplet.size() > MAX_TRIPLET_BYTES) return false;
    std::array<char, MAX_TRIPLET_BYTES> padded{};
    std::copy(triplet.begin(), triplet.end(), padded.begin());
    std::size_t position = 0;
    while (position < MAX_TRIPLET_BYTES && entry[position] == padded[position]) ++position;
    if (position == MAX_TRIPLET_BYTES) return true;
    if (position >= triplet.size()) return false;
    for (; position < triplet.size(); ++position) {
        if (!resolves_to(byte_at(triplet, position), entry[position])) return false;
    }
    for (; position < MAX_TRIPLET_BYTES; ++position) {
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

std::optional<std::string> attempt_iupac_substitution(std::string_view original_triplet,
                                                      std::vector<std::string> taxa) {
    if (const std::string* match = first_candidate(original_triplet, taxa)) return *match;
    return std::nullopt;
}

}  // namespace ntpepmap
