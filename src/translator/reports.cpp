#include "translator/reports.hpp"

#include <algorithm>

#include "translator/utf8.hpp"

namespace ntpepmap {

namespace {

constexpr std::size_t PEPTIDE_CONTEXT = 10;
constexpr std::size_t NUCLEOTIDE_CONTEXT = 30;

std::string concat(std::initializer_list<std::string_view> parts) {
    std::size_t size = 0;
    for (const std::string_view part : parts) size += part.size();
    std::string text;
    text.reserve(size);
    for (const std::string_view part : parts) text.append(part);
    return text;
}

std::string_view peptide_window(std::string_view aa_seq, std::size_t site) {
    const std::size_t start = site > PEPTIDE_CONTEXT ? site - PEPTIDE_CONTEXT : 0;
    const std::size_t end = std::min(site + PEPTIDE_CONTEXT, aa_seq.size());
    return aa_seq.substr(start, end > start ? end - start : 0);
}

// Centred on the position proportional to the peptide site (not on the failed triplet),
// widened so that it never cuts a character.
std::string_view nucleotide_window(std::string_view nt_seq, std::size_t site, std::size_t aa_len) {
    const double share = static_cast<double>(site) / static_cast<double>(aa_len);
    const auto centre = static_cast<std::size_t>(static_cast<double>(nt_seq.size()) * share);
    const std::size_t end = utf8::character_end(nt_seq, std::min(centre + NUCLEOTIDE_CONTEXT, nt_seq.size()));
    std::size_t start = centre > NUCLEOTIDE_CONTEXT ? centre - NUCLEOTIDE_CONTEXT : 0;
    start = utf8::character_start(nt_seq, std::min(start, end));
    return nt_seq.substr(start, end - start);
}

}  // namespace

std::string header_mismatch_message(std::string_view aa_header, std::string_view nt_header) {
    return concat({"AA header -> ", aa_header, " is not the same as NT header -> ", nt_header});
}

std::string length_mismatch_message(std::string_view aa_header, std::string_view nt_header, std::size_t expected,
                                    std::size_t nt_len) {
    const std::string peptide_part = concat({"(AA -> ", aa_header, ")"});
    const std::string nucleotide_part = concat({"(NT -> ", nt_header, ")"});
    if (expected > nt_len) {
        const std::string difference = std::to_string((expected - nt_len) / 3);
        return concat({peptide_part, " is larger than ", nucleotide_part, " with a difference of ", difference,
                       " PEP char(s)"});
    }
    const std::string difference = std::to_string((nt_len - expected) / 3);
    return concat({nucleotide_part, " is larger than ", peptide_part, " with a difference of ", difference,
                   " NT triplet(s)"});
}

std::string mismatch_message(std::string_view aa_seq, std::string_view nt_seq, std::size_t site) {
    const std::string site_text = std::to_string(site);
    return concat({" \n                ======\n                MISMATCH ERROR:\n                "
                   "The following Amino Acid failed to match with its source Nucleotide pair at aa site ",
                   site_text, ".\n                Amino Acid: `", peptide_window(aa_seq, site),
                   "`,\n                ======\n                Source Nucleotide: `",
                   nucleotide_window(nt_seq, site, aa_seq.size()), "`,\n                =======\n            "});
}

std::string framed_report(std::string_view file_steem, std::string_view aa_header, std::string_view message) {
    return concat({"\n===ERROR CAUGHT IN FILE ", file_steem, " AND HEADER ", aa_header, ":\n ", message, "\n===\n"});
}

}  // namespace ntpepmap
