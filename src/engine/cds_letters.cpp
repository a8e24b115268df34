#include "engine/cds_letters.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "locate/reverse_complement.hpp"

namespace ntpepmap::engine {
namespace {

constexpr bool is_plain_letter(char letter) noexcept {
    return (letter == 'A') | (letter == 'C') | (letter == 'G') | (letter == 'T') | (letter == 'N');
}

// Sixteen bytes at a time through the compiler's vector extension (SSE2 or NEON compares):
// the plain loop does not vectorise, and this scan runs over every CDS.
using Lanes = unsigned char __attribute__((vector_size(16)));
constexpr std::size_t LANES = sizeof(Lanes);

// What comparing lanes gives: -1 in the lanes where it holds, 0 elsewhere.
using LaneMask = signed char __attribute__((vector_size(16)));

bool all_set(const LaneMask& mask) noexcept {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
    std::memcpy(&low, &mask, sizeof low);
    std::memcpy(&high, reinterpret_cast<const char*>(&mask) + sizeof low, sizeof high);
    return (low & high) == ~std::uint64_t{0};
}

// Whether all sixteen bytes are plain letters; lanes holding N are set in `n_lanes`.
bool lanes_are_plain(const char* bytes, LaneMask& n_lanes) noexcept {
    Lanes lanes;
    std::memcpy(&lanes, bytes, LANES);
    const LaneMask n = lanes == 'N';
    n_lanes |= n;
    return all_set((lanes == 'A') | (lanes == 'C') | (lanes == 'G') | (lanes == 'T') | n);
}

// Upper-case plain bases and N: a CDS made only of them is read and written as it is.
// `holds_n` tells whether N is among them.
bool is_plain(std::string_view cds, bool& holds_n) noexcept {
    LaneMask n_lanes{};
    std::size_t offset = 0;
    for (; offset + LANES <= cds.size(); offset += LANES) {
        if (!lanes_are_plain(cds.data() + offset, n_lanes)) return false;
    }
    const std::string_view rest = cds.substr(offset);
    holds_n = !all_set(~n_lanes) || rest.find('N') != std::string_view::npos;
    return std::all_of(rest.begin(), rest.end(), is_plain_letter);
}

constexpr char ascii_upper(char letter) noexcept {
    return letter >= 'a' && letter <= 'z' ? static_cast<char>(letter - 'a' + 'A') : letter;
}

constexpr bool is_lower(char letter) noexcept { return letter >= 'a' && letter <= 'z'; }

constexpr char t_for_u(char letter) noexcept {
    if (letter == 'U') return 'T';
    if (letter == 'u') return 't';
    return letter;
}

}  // namespace

void CdsLetters::prepare(std::string_view cds, const LetterOptions& options, bool acgt) {
    written_same_as_checked_ = true;
    ambiguous_ = false;
    bool holds_n = false;
    if (acgt || is_plain(cds, holds_n)) {
        given_ = written_ = checked_ = cds;
        acgt_only_ = !holds_n;
        return;
    }
    acgt_only_ = false;
    prepare_unusual(cds, options);
}

void CdsLetters::prepare_unusual(std::string_view cds, const LetterOptions& options) {
    given_storage_.clear();
    written_storage_.clear();
    checked_storage_.clear();
    for (const char letter : cds) {
        if (letter == '-' || letter == '.') continue;
        given_storage_.push_back(letter);
        char written = options.t_for_u ? t_for_u(letter) : letter;
        if (options.upper_case) written = ascii_upper(written);
        written_storage_.push_back(written);
        const char checked = t_for_u(ascii_upper(letter));
        checked_storage_.push_back(checked);
        written_same_as_checked_ &= written == checked;
        ambiguous_ |= checked != 'A' && checked != 'C' && checked != 'G' && checked != 'T' && checked != 'N';
    }
    given_ = given_storage_;
    written_ = written_storage_;
    checked_ = checked_storage_;
}

void CdsLetters::replace_checked_triplet(std::size_t offset, std::string_view codon) {
    if (checked_.data() != checked_storage_.data()) checked_storage_.assign(checked_);
    checked_storage_.replace(offset, codon.size(), codon);
    checked_ = checked_storage_;
    acgt_only_ = acgt_only_ && codon.find_first_not_of("ACGT") == std::string_view::npos;
    written_same_as_checked_ = written_same_as_checked_ && written_.substr(offset, codon.size()) == codon;
}

void CdsLetters::drop_last_triplet() noexcept {
    given_.remove_suffix(3);
    written_.remove_suffix(3);
    checked_.remove_suffix(3);
}

void CdsLetters::complete_last_codon(std::size_t missing) {
    const bool lower = !given_.empty() && is_lower(given_.back());
    std::string given(given_);
    std::string written(written_);
    std::string checked(checked_);
    given.append(missing, lower ? 'n' : 'N');
    written.append(missing, !written_.empty() && is_lower(written_.back()) ? 'n' : 'N');
    checked.append(missing, 'N');
    written_same_as_checked_ = written_same_as_checked_ && !is_lower(written.back());
    given_storage_ = std::move(given);
    written_storage_ = std::move(written);
    checked_storage_ = std::move(checked);
    given_ = given_storage_;
    written_ = written_storage_;
    checked_ = checked_storage_;
    acgt_only_ = false;
}

void CdsLetters::keep_region(std::size_t begin, std::size_t end, bool reverse) {
    const auto keep = [&](std::string_view& view, std::string& storage, bool dna) {
        const std::string_view region = view.substr(begin, end - begin);
        if (reverse) {
            region_storage_.clear();
            if (dna) {
                locate::append_reverse_complement_dna(region, region_storage_);
            } else {
                locate::append_reverse_complement(region, region_storage_);
            }
            storage.swap(region_storage_);
            view = storage;
        } else if (view.data() == storage.data()) {
            // Moved to the front of its own storage, so that the view still starts it.
            storage.erase(0, begin);
            storage.resize(end - begin);
            view = storage;
        } else {
            view = region;
        }
    };
    // The three forms may share one text, so each is narrowed from its own view.
    keep(given_, given_storage_, false);
    keep(written_, written_storage_, false);
    keep(checked_, checked_storage_, true);
}

void CdsLetters::keep_pieces(const std::vector<CodonPiece>& pieces) {
    std::string given;
    std::string written;
    std::string checked;
    const std::size_t size = 3 * pieces.size();
    given.reserve(size);
    written.reserve(size);
    checked.reserve(size);
    // Whole codons that follow one another in the CDS are copied a run at a time: 5 % fewer
    // instructions for L with 5 % of its records frameshifted.
    for (std::size_t piece = 0; piece < pieces.size();) {
        const CodonPiece& first = pieces[piece];
        if (first.masked) {
            char masked[3];
            copy_case(given_.substr(first.begin, first.length), "NNN", masked);
            given.append(masked, 3);
            copy_case(written_.substr(first.begin, first.length), "NNN", masked);
            written.append(masked, 3);
            checked.append("NNN");
            written_same_as_checked_ = written_same_as_checked_ && std::memcmp(masked, "NNN", 3) == 0;
            ++piece;
            continue;
        }
        std::size_t end = piece + 1;
        while (end < pieces.size() && !pieces[end].masked && pieces[end].begin == first.begin + 3 * (end - piece)) ++end;
        const std::size_t length = 3 * (end - piece);
        given.append(given_.substr(first.begin, length));
        written.append(written_.substr(first.begin, length));
        checked.append(checked_.substr(first.begin, length));
        piece = end;
    }
    given_storage_.swap(given);
    written_storage_.swap(written);
    checked_storage_.swap(checked);
    given_ = given_storage_;
    written_ = written_storage_;
    checked_ = checked_storage_;
    // Ambiguity letters, if any, are as they were: fewer at most.
    acgt_only_ = false;
}

void copy_case(std::string_view model, const char* piece, char* out) noexcept {
    for (std::size_t i = 0; i < 3; ++i) {
        const char letter = piece[i];
        out[i] = i < model.size() && is_lower(model[i]) && letter >= 'A' && letter <= 'Z'
                     ? static_cast<char>(letter - 'A' + 'a')
                     : letter;
    }
}

}  // namespace ntpepmap::engine
