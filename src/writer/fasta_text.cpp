#include "writer/fasta_text.hpp"

#include <algorithm>
#include <cstring>

namespace ntpepmap::writer {
namespace {

constexpr bool is_continuation(char byte) noexcept { return (static_cast<unsigned char>(byte) & 0xC0u) == 0x80u; }

std::size_t row_lines(std::size_t letters, std::size_t wrap) noexcept {
    if (letters == 0 || wrap == 0) return 1;
    return (letters + wrap - 1) / wrap;
}

char* put(char* out, std::string_view text) noexcept {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

// The bytes of the first `letters` characters of the text (all of it when it has fewer).
std::size_t prefix_bytes(std::string_view text, std::size_t letters) noexcept {
    std::size_t end = 0;
    for (std::size_t seen = 0; end < text.size(); ++end) {
        if (!is_continuation(text[end]) && seen++ == letters) break;
    }
    return end;
}

}  // namespace

std::size_t letter_count(std::string_view utf8) noexcept {
    return utf8.size() - static_cast<std::size_t>(std::count_if(utf8.begin(), utf8.end(), is_continuation));
}

std::size_t fasta_record_size(std::size_t name_size, std::size_t row_bytes, std::size_t row_letters,
                              std::size_t wrap) noexcept {
    return 2 + name_size + row_bytes + row_lines(row_letters, wrap);
}

char* put_fasta_record(char* out, std::string_view name, std::string_view row, std::size_t wrap) noexcept {
    *out++ = '>';
    out = put(out, name);
    *out++ = '\n';
    do {
        const std::size_t line = wrap == 0 ? row.size() : prefix_bytes(row, wrap);
        out = put(out, row.substr(0, line));
        *out++ = '\n';
        row.remove_prefix(line);
    } while (!row.empty());
    return out;
}

std::size_t fasta_text_size(std::span<const NamedRow> records, std::size_t wrap) noexcept {
    std::size_t size = 0;
    for (const auto& [name, row] : records) size += fasta_record_size(name.size(), row.size(), letter_count(row), wrap);
    return size;
}

void put_fasta_text(char* out, std::span<const NamedRow> records, std::size_t wrap) noexcept {
    for (const auto& [name, row] : records) out = put_fasta_record(out, name, row, wrap);
}

}  // namespace ntpepmap::writer
