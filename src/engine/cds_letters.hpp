#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ntpepmap::engine {

// How the codon row writes the CDS's letters; by default exactly as the CDS has them.
struct LetterOptions {
    bool upper_case = false;         // upper-case the whole row
    bool resolve_ambiguity = false;  // ambiguous triplets as the codon the check chose
    bool t_for_u = false;            // RNA's U written as T
};

// One residue's nucleotides when a threading with frameshifts is written: its codon, the
// three from `begin`; or, masked (a codon a frameshift broke, or one it leaves in doubt), NNN
// in the case of its `length` letters.
struct CodonPiece {
    std::size_t begin = 0;
    std::size_t length = 3;
    bool masked = false;
};

// The three forms of one CDS, position for position alike (alignment gaps '-' and '.' removed):
// as given, as the row writes it, and as the codon check reads it (upper case, T for U).
class CdsLetters {
public:
    // `acgt`: the CDS is known to hold upper-case A, C, G and T alone, read in place unscanned.
    void prepare(std::string_view cds, const LetterOptions& options, bool acgt = false);

    std::string_view given() const noexcept { return given_; }
    std::string_view written() const noexcept { return written_; }
    std::string_view checked() const noexcept { return checked_; }
    // Whether the row may be the check's own pieces: written and checked alike, nothing to resolve.
    bool check_row_is_written_row(const LetterOptions& options) const noexcept {
        return written_same_as_checked_ && (options.resolve_ambiguity || !ambiguous_);
    }

    // Whether the checked letters are known to be A, C, G and T only (false: not known).
    bool acgt_only() const noexcept { return acgt_only_; }

    // Replaces the checked triplet at `offset` (the start codon read as the table's M).
    void replace_checked_triplet(std::size_t offset, std::string_view codon);
    // Completes a 3'-partial last codon with `missing` N, in the case of the letter before them.
    void complete_last_codon(std::size_t missing);
    // Leaves out the last three nucleotides (a terminal stop codon).
    void drop_last_triplet() noexcept;
    // Keeps the nucleotides from `begin` to `end` (not included), as their reverse complement
    // when `reverse`: case and ambiguity letters kept.
    void keep_region(std::size_t begin, std::size_t end, bool reverse);
    // Keeps the pieces, one after another.
    void keep_pieces(const std::vector<CodonPiece>& pieces);

private:
    void prepare_unusual(std::string_view cds, const LetterOptions& options);

    std::string_view given_, written_, checked_;
    std::string given_storage_, written_storage_, checked_storage_;
    std::string region_storage_;  // where a reverse complement is made, kept for its capacity
    bool written_same_as_checked_ = true;
    bool ambiguous_ = false;
    bool acgt_only_ = false;
};

// `piece` (three letters) in the case of the letters of `model`, letter by letter.
void copy_case(std::string_view model, const char* piece, char* out) noexcept;

}  // namespace ntpepmap::engine
