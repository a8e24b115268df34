// Exhaustive check that the allocation-free candidate test agrees with the
// reference expansion for every triplet of up to three bytes over a mixed alphabet.
#include <cstdio>
#include <string>
#include <vector>

#include "iupac/iupac.hpp"
#include "literal_iupac.hpp"

namespace {

using ntpepmap::literal::candidate_set;

// Keys, plain bases, lower case, NUL-free oddities and the bytes of a two-byte character.
constexpr std::string_view ALPHABET = "RSBNACGTUn-\xc3\xa9";

std::string padded(std::string_view text) {
    std::string result(text);
    result.resize(3, '\0');
    return result;
}

int check_triplet(const std::string& triplet, const std::vector<std::string>& entries) {
    const ntpepmap::literal::CandidateSet candidates = candidate_set(triplet);
    int failures = 0;
    for (const std::string& entry : entries) {
        const bool expected = candidates.contains(entry);
        if (ntpepmap::is_candidate(triplet, entry) != expected) {
            std::fprintf(stderr, "mismatch: triplet '%s' entry '%s' expected %d\n", triplet.c_str(), entry.c_str(),
                         expected);
            ++failures;
        }
    }
    for (const std::string& candidate : candidates) {
        if (!ntpepmap::is_candidate(triplet, candidate)) ++failures;
    }
    return failures;
}

}  // namespace

int main() {
    std::vector<std::string> triplets{""};
    for (std::size_t length = 1; length <= 3; ++length) {
        const std::size_t previous = triplets.size();
        for (std::size_t i = 0; i < previous; ++i) {
            if (triplets[i].size() != length - 1) continue;
            for (char byte : ALPHABET) triplets.push_back(triplets[i] + byte);
        }
    }
    std::vector<std::string> entries;
    for (const std::string& triplet : triplets) {
        if (triplet.size() == 3) entries.push_back(triplet);
        entries.push_back(padded(triplet));
    }
    entries.push_back("AC");
    entries.push_back("ACGT");

    int failures = 0;
    for (const std::string& triplet : triplets) failures += check_triplet(triplet, entries);
    std::printf("%zu triplets x %zu entries, %d disagreements\n", triplets.size(), entries.size(), failures);

    const bool counts_hold = candidate_set("NNN").size() == 85 && candidate_set("ANN").size() == 21 &&
                             candidate_set("RRA").size() == 7;
    if (!counts_hold) std::fprintf(stderr, "candidate counts of NNN, ANN, RRA are wrong\n");
    return failures == 0 && counts_hold ? 0 : 1;
}
