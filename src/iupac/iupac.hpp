#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

namespace ntpepmap {

// IUPAC_CODES: the plain bases an ambiguity letter stands for, in trial order;
// empty for every byte that is not one of the eleven upper-case keys.
std::string_view iupac_letters(unsigned char byte) noexcept;

using TripletBuffer = std::array<char, 3>;
using CandidateSet = std::unordered_set<std::string>;

// Reference expansion of a triplet (at most 3 bytes) into its candidate variants:
// keep branch first, then each letter; the buffer is deliberately not restored.
void recurse(std::string_view triplet, TripletBuffer& buffer, std::size_t position, CandidateSet& candidates);

// The whole candidate set of a triplet of at most 3 bytes.
CandidateSet candidate_set(std::string_view triplet);

// Allocation-free membership test, identical to `candidate_set(triplet).contains(entry)`.
bool is_candidate(std::string_view triplet, std::string_view entry) noexcept;

// The earliest entry of `taxa` that is a candidate of `triplet`, or nullptr.
const std::string* first_candidate(std::string_view triplet, std::span<const std::string> taxa) noexcept;

// Raised for a triplet longer than three bytes.
class TripletTooLong : public std::invalid_argument {
public:
    explicit TripletTooLong(std::size_t byte_length);
};

// The earliest entry of `taxa` that the triplet can be read as, or nothing.
// Throws TripletTooLong before any expansion when the triplet has more than 3 bytes.
std::optional<std::string> attempt_iupac_substitution(std::string_view original_triplet,
                                                      std::vector<std::string> taxa);

}  // namespace ntpepmap
