#include "locate/uncoded_residues.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace ntpepmap::locate {

namespace {

using Lanes = signed char __attribute__((vector_size(16)));
using Counts = unsigned char __attribute__((vector_size(16)));
constexpr std::size_t LANES = sizeof(Lanes);
// Blocks a lane's one-byte count can take before it is added up.
constexpr std::size_t BLOCKS_PER_TALLY = 255;

bool is_capital(unsigned byte) noexcept { return byte >= 'A' && byte <= 'Z'; }

}  // namespace

UncodedResidues::UncodedResidues(const AnchorAlphabet& alphabet) : alphabet_(alphabet) {
    std::vector<char> capitals;
    std::vector<char> others;
    for (unsigned byte = 0; byte < 256; ++byte) {
        const bool coded = alphabet.residue_code(static_cast<unsigned char>(byte)) != AnchorAlphabet::NO_CODE;
        if (is_capital(byte) && !coded) capitals.push_back(static_cast<char>(byte));
        if (!is_capital(byte) && coded) others.push_back(static_cast<char>(byte));
    }
    if (others.empty()) {
        // Padding must be coded: any coded capital does, as the capitals' test keeps it anyway.
        for (unsigned byte = 'A'; byte <= 'Z' && others.empty(); ++byte) {
            if (std::find(capitals.begin(), capitals.end(), static_cast<char>(byte)) == capitals.end())
                others.push_back(static_cast<char>(byte));
        }
    }
    by_blocks_ = capitals.size() <= MOST_CAPITALS && !others.empty() && others.size() <= MOST_OTHERS;
    if (!by_blocks_) return;
    capitals_without_code_.fill(capitals.empty() ? '\0' : capitals.front());
    std::copy(capitals.begin(), capitals.end(), capitals_without_code_.begin());
    others_with_code_.fill(others.front());
    std::copy(others.begin(), others.end(), others_with_code_.begin());
}

// Sixteen residues at a time: one at a time costs the locator 7 % more instructions.
std::size_t UncodedResidues::count(std::string_view residues) const noexcept {
    if (!by_blocks_) return count_each(residues);
    // Each letter in all lanes, once, outside the loop.
    std::array<Lanes, MOST_CAPITALS> capitals{};
    std::array<Lanes, MOST_OTHERS> others{};
    for (std::size_t k = 0; k < MOST_CAPITALS; ++k) capitals[k] = Lanes{} + capitals_without_code_[k];
    for (std::size_t k = 0; k < MOST_OTHERS; ++k) others[k] = Lanes{} + others_with_code_[k];
    std::size_t uncoded = 0;
    std::size_t offset = 0;
    const std::size_t whole_blocks = residues.size() - residues.size() % LANES;
    while (offset < whole_blocks) {
        Counts tally{};
        const std::size_t end = std::min(whole_blocks, offset + BLOCKS_PER_TALLY * LANES);
        for (; offset < end; offset += LANES) {
            Lanes block;
            std::memcpy(&block, residues.data() + offset, LANES);
            Lanes excluded = block == capitals[0];
            for (std::size_t k = 1; k < MOST_CAPITALS; ++k) excluded |= block == capitals[k];
            Lanes included = block == others[0];
            for (std::size_t k = 1; k < MOST_OTHERS; ++k) included |= block == others[k];
            const Lanes coded = ((block >= 'A') & (block <= 'Z') & ~excluded) | included;
            tally += __builtin_convertvector(~coded, Counts) & 1;
        }
        for (std::size_t lane = 0; lane < LANES; ++lane) uncoded += tally[lane];
    }
    return uncoded + count_each(residues.substr(offset));
}

std::size_t UncodedResidues::count_each(std::string_view residues) const noexcept {
    std::size_t uncoded = 0;
    for (const char residue : residues) {
        uncoded += alphabet_.residue_code(static_cast<unsigned char>(residue)) == AnchorAlphabet::NO_CODE;
    }
    return uncoded;
}

}  // namespace ntpepmap::locate
