#pragma once

#include <array>
#include <cstddef>
#include <string_view>

#include "locate/anchor_alphabet.hpp"

namespace ntpepmap::locate {

// Counts the residues of a protein that have no code in an alphabet. Genetic codes give a
// code to the capitals but a few, and to a few other bytes (the stop '*'): for such an
// alphabet the count is taken sixteen residues at a time with a handful of compares, not one
// table look-up per residue.
class UncodedResidues {
public:
    explicit UncodedResidues(const AnchorAlphabet& alphabet);

    std::size_t count(std::string_view residues) const noexcept;

private:
    static constexpr std::size_t MOST_CAPITALS = 8;
    static constexpr std::size_t MOST_OTHERS = 2;

    std::size_t count_each(std::string_view residues) const noexcept;

    const AnchorAlphabet& alphabet_;
    bool by_blocks_ = false;
    // Lists padded by repeating a member, or, for the capitals, with a byte that is none.
    std::array<char, MOST_CAPITALS> capitals_without_code_{};
    std::array<char, MOST_OTHERS> others_with_code_{};
};

}  // namespace ntpepmap::locate
