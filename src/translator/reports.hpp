#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ntpepmap {

inline constexpr std::string_view MISSING_RESIDUE_MESSAGE =
    "Genetic table does not have the pep. Perhaps you've chosen the wrong table index?";

std::string header_mismatch_message(std::string_view aa_header, std::string_view nt_header);

// `expected` is three nucleotides per residue; the two lengths must differ.
std::string length_mismatch_message(std::string_view aa_header, std::string_view nt_header, std::size_t expected,
                                    std::size_t nt_len);

// The residue at `site` of `aa_seq` failed to match its triplet; shows both sequences around it.
std::string mismatch_message(std::string_view aa_seq, std::string_view nt_seq, std::size_t site);

// The whole framed report of one record, as printed.
std::string framed_report(std::string_view file_steem, std::string_view aa_header, std::string_view message);

}  // namespace ntpepmap
