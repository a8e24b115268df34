#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "tables/genetic_codes.hpp"
#include "translator/codon_lookup.hpp"

namespace ntpepmap::engine {

// The genetic code in use: a built-in code by number, or a caller's table (which has no start codons).
class GeneticCode {
public:
    // nullptr when there is no built-in code of that number.
    static const CodonTable* built_in(TableNumber number) { return find_codon_table(number); }

    GeneticCode(const CodonTable& table, TableNumber number);  // a built-in code
    explicit GeneticCode(const CodonTable& table);             // a caller's table

    const CodonTable& table() const noexcept { return table_; }
    // The lookup of the check: the table's, with U over TGA and O over TAG unless it has its own.
    const CodonLookup& lookup() const noexcept { return lookup_; }
    // Bit k set: TCAG codon number k may stand for an initiator M.
    std::uint64_t start_codons() const noexcept { return start_codons_; }

    // The letters whose codons hold the triplet or one of its IUPAC readings, in code point order.
    // The built-in codes' two-residue letters (B, J, Z) and X are left out: they only repeat others.
    std::u32string letters_encoded_by(std::string_view triplet) const;

private:
    const CodonTable& table_;
    CodonTable checked_table_;  // table_, with U and O over their stop codons where it has neither
    CodonLookup lookup_;
    std::uint64_t start_codons_ = 0;
    bool built_in_ = false;
};

}  // namespace ntpepmap::engine
