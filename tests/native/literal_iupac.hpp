#pragma once

// The IUPAC expansion read literally, for the native checks to hold the allocation-free
// is_candidate and first_candidate against: every reading of a triplet in a set.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "iupac/iupac.hpp"

namespace ntpepmap::literal {

using TripletBuffer = std::array<char, MAX_TRIPLET_BYTES>;
using CandidateSet = std::unordered_set<std::string>;

// Keep branch first, then each letter; the buffer is deliberately not restored.
inline void recurse(std::string_view triplet, TripletBuffer& buffer, std::size_t position, CandidateSet& candidates) {
    if (position == triplet.size()) {
        candidates.emplace(buffer.data(), buffer.size());
        return;
    }
    recurse(triplet, buffer, position + 1, candidates);
    for (const char letter : IUPAC_CODES[static_cast<unsigned char>(triplet[position])]) {
        buffer[position] = letter;
        recurse(triplet, buffer, position + 1, candidates);
    }
}

// The whole candidate set of a triplet; empty for one longer than MAX_TRIPLET_BYTES.
inline CandidateSet candidate_set(std::string_view triplet) {
    if (triplet.size() > MAX_TRIPLET_BYTES) return {};
    TripletBuffer buffer{};
    std::copy(triplet.begin(), triplet.end(), buffer.begin());
    CandidateSet candidates;
    recurse(triplet, buffer, 0, candidates);
    return candidates;
}

// The earliest entry of `taxa` in the candidate set, or nothing.
inline std::optional<std::string> substitution(std::string_view triplet, const std::vector<std::string>& taxa) {
    const CandidateSet candidates = candidate_set(triplet);
    for (const std::string& entry : taxa) {
        if (candidates.contains(entry)) return entry;
    }
    return std::nullopt;
}

}  // namespace ntpepmap::literal
