#pragma once

#include <cstddef>
#include <string_view>

namespace ntpepmap::writer {

// A FASTA record as the tool writes it: '>' and the name on a line, then the row on lines of
// at most `wrap` letters (0: one line, however long), every line ended by a line feed. An empty
// row is an empty line.

// The bytes that record takes.
[[nodiscard]] std::size_t fasta_record_size(std::size_t name_size, std::size_t row_size, std::size_t wrap) noexcept;

// Writes the record at `out`, which has room for fasta_record_size; returns the end of it.
char* put_fasta_record(char* out, std::string_view name, std::string_view row, std::size_t wrap) noexcept;

}  // namespace ntpepmap::writer
