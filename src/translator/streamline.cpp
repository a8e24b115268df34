#include "translator/streamline.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "translator/unicode_case_table.hpp"
#include "translator/utf8.hpp"

namespace ntpepmap {

namespace {

constexpr bool is_ascii_white_space(unsigned char byte) noexcept {
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

// Bytes that streamline to themselves, as arithmetic so that a scan vectorises:
// the capital letters but O and U, the stop and the gap.
constexpr bool is_kept(unsigned char byte) noexcept {
    const bool capital = static_cast<unsigned char>(byte - 'A') < 26;
    return (capital & (byte != 'O') & (byte != 'U')) | (byte == '*') | (byte == '-');
}

static_assert([] {
    for (unsigned byte = 0; byte < 256; ++byte) {
        const bool maps_to_itself = byte < 0x80 && ASCII_STREAMLINED[byte] == static_cast<char>(byte);
        if (is_kept(static_cast<unsigned char>(byte)) != maps_to_itself) return false;
    }
    return true;
}());

bool all_kept(std::string_view text) noexcept {
    unsigned char kept = 1;
    for (const char letter : text) kept &= static_cast<unsigned char>(is_kept(static_cast<unsigned char>(letter)));
    return kept != 0;
}

// Sixteen bytes at a time through the compiler's vector extension, the gaps tallied per lane:
// the one scan over every row, in the share that translates it, that tells whether it needs
// streamlining or making even, and counts its residues. L: 650 M instructions for the whole run
// against 737 M when each row was scanned for '.' and '~' before the threads started, then
// streamlined, then its residues counted.
using Lanes = unsigned char __attribute__((vector_size(16)));
constexpr std::size_t LANES = sizeof(Lanes);
constexpr std::size_t MOST_PER_LANE = 255;  // a lane's tally of gaps is one byte

}  // namespace

bool is_streamlined(std::string_view text, std::size_t& gaps) noexcept {
    Lanes kept = ~Lanes{};
    std::size_t offset = 0;
    gaps = 0;
    while (offset + LANES <= text.size()) {
        const std::size_t end = std::min(text.size(), offset + MOST_PER_LANE * LANES);
        Lanes tally{};
        for (; offset + LANES <= end; offset += LANES) {
            Lanes lanes;
            std::memcpy(&lanes, text.data() + offset, LANES);
            const Lanes gap = reinterpret_cast<Lanes>(lanes == '-');
            const Lanes capital = reinterpret_cast<Lanes>(static_cast<Lanes>(lanes - 'A') < 26);
            kept &= (capital & reinterpret_cast<Lanes>((lanes != 'O') & (lanes != 'U'))) |
                    reinterpret_cast<Lanes>(lanes == '*') | gap;
            tally -= gap;  // a set lane is 0xFF: one more
        }
        for (std::size_t lane = 0; lane < LANES; ++lane) gaps += tally[lane];
    }
    std::uint64_t halves[2];
    std::memcpy(halves, &kept, sizeof halves);
    const std::string_view rest = text.substr(offset);
    gaps += static_cast<std::size_t>(std::count(rest.begin(), rest.end(), '-'));
    return (halves[0] & halves[1]) == ~std::uint64_t{0} && all_kept(rest);
}

namespace {

bool is_ascii(std::string_view text) noexcept {
    unsigned char bits = 0;
    for (const char letter : text) bits |= static_cast<unsigned char>(letter);
    return bits < 0x80u;
}

std::string_view trim_ascii_white_space(std::string_view text) noexcept {
    while (!text.empty() && is_ascii_white_space(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
    while (!text.empty() && is_ascii_white_space(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
    return text;
}

std::string_view trim_white_space(std::string_view text) noexcept {
    std::size_t first = text.size();
    std::size_t end = 0;
    for (std::size_t position = 0; position < text.size();) {
        const utf8::DecodedChar decoded = utf8::decode(text, position);
        if (!is_white_space(decoded.code_point)) {
            first = std::min(first, position);
            end = position + decoded.length;
        }
        position += decoded.length;
    }
    return first < end ? text.substr(first, end - first) : std::string_view{};
}

// Any text: decode character by character; non-ASCII goes through the generated table.
void streamline_unicode(std::string_view row, std::string& storage) {
    const std::string_view trimmed = trim_white_space(row);
    storage.clear();
    storage.reserve(trimmed.size());
    for (std::size_t position = 0; position < trimmed.size();) {
        const auto byte = static_cast<unsigned char>(trimmed[position]);
        if (byte < 0x80u) {
            storage.push_back(ASCII_STREAMLINED[byte]);
            ++position;
            continue;
        }
        const utf8::DecodedChar decoded = utf8::decode(trimmed, position);
        storage.append(streamlined_residues(decoded.code_point));
        position += decoded.length;
    }
}

}  // namespace

bool is_white_space(char32_t code_point) noexcept {
    return std::binary_search(unicode::WHITE_SPACE.begin(), unicode::WHITE_SPACE.end(), code_point);
}

std::string_view streamlined_residues(char32_t code_point) noexcept {
    if (code_point < 0x80) return {&ASCII_STREAMLINED[code_point], 1};
    const auto& table = unicode::STREAMLINED_NON_ASCII;
    const auto found = std::lower_bound(table.begin(), table.end(), code_point,
                                        [](const unicode::StreamlinedCodePoint& row, char32_t wanted) {
                                            return row.code_point < wanted;
                                        });
    if (found != table.end() && found->code_point == code_point) return found->residues;
    return "X";
}

std::string_view streamline_peptide(std::string_view row, std::string& storage) {
    const std::string_view trimmed = trim_ascii_white_space(row);
    if (all_kept(trimmed)) return trimmed;
    if (!is_ascii(trimmed)) {
        streamline_unicode(trimmed, storage);
        return storage;
    }
    storage.resize(trimmed.size());
    std::transform(trimmed.begin(), trimmed.end(), storage.begin(),
                   [](char letter) { return ASCII_STREAMLINED[static_cast<unsigned char>(letter)]; });
    return storage;
}

std::string_view streamline_peptide(std::string_view row, std::string& storage, std::optional<std::size_t>& gaps) {
    const std::string_view trimmed = trim_ascii_white_space(row);
    std::size_t counted = 0;
    if (!is_streamlined(trimmed, counted)) return streamline_peptide(trimmed, storage);
    gaps = counted;
    return trimmed;
}

std::string_view streamline_nucleotides(std::string_view sequence, std::string& storage) {
    if (sequence.empty()) return sequence;
    const bool has_gap = std::memchr(sequence.data(), '-', sequence.size()) != nullptr;
    if (!has_gap && std::memchr(sequence.data(), '.', sequence.size()) == nullptr) return sequence;
    storage.clear();
    storage.reserve(sequence.size());
    std::copy_if(sequence.begin(), sequence.end(), std::back_inserter(storage),
                 [](char letter) { return letter != '-' && letter != '.'; });
    return storage;
}

}  // namespace ntpepmap
