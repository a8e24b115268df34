#include "writer/fasta_text.hpp"

#include <algorithm>
#include <cstring>

namespace ntpepmap::writer {
namespace {

std::size_t row_lines(std::size_t row_size, std::size_t wrap) noexcept {
    if (row_size == 0 || wrap == 0) return 1;
    return (row_size + wrap - 1) / wrap;
}

char* put(char* out, std::string_view text) noexcept {
    std::memcpy(out, text.data(), text.size());
    return out + text.size();
}

}  // namespace

std::size_t fasta_record_size(std::size_t name_size, std::size_t row_size, std::size_t wrap) noexcept {
    return 2 + name_size + row_size + row_lines(row_size, wrap);
}

char* put_fasta_record(char* out, std::string_view name, std::string_view row, std::size_t wrap) noexcept {
    *out++ = '>';
    out = put(out, name);
    *out++ = '\n';
    const std::size_t line = wrap == 0 ? row.size() : wrap;
    do {
        out = put(out, row.substr(0, line));
        *out++ = '\n';
        row.remove_prefix(std::min(line, row.size()));
    } while (!row.empty());
    return out;
}

}  // namespace ntpepmap::writer
