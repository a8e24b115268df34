#pragma once

#include <cstddef>
#include <span>
#include <string_view>
#include <utility>

namespace ntpepmap::writer {

// A FASTA record as the tool writes it: '>' and the name on a line, then the row on lines of
// at most `wrap` letters (0: one line, however long), every line ended by a line feed. An empty
// row is an empty line. Rows are UTF-8: a letter is a character, never cut between lines.

// The bytes that record takes, for a row of `row_bytes` bytes holding `row_letters` characters.
[[nodiscard]] std::size_t fasta_record_size(std::size_t name_size, std::size_t row_bytes, std::size_t row_letters,
                                            std::size_t wrap) noexcept;

// The characters of UTF-8 text.
[[nodiscard]] std::size_t letter_count(std::string_view utf8) noexcept;

// Writes the record at `out`, which has room for fasta_record_size; returns the end of it.
char* put_fasta_record(char* out, std::string_view name, std::string_view row, std::size_t wrap) noexcept;

// (name, row) records as a FASTA file's text: the bytes it takes, and the text written at `out`.
using NamedRow = std::pair<std::string_view, std::string_view>;
[[nodiscard]] std::size_t fasta_text_size(std::span<const NamedRow> records, std::size_t wrap) noexcept;
void put_fasta_text(char* out, std::span<const NamedRow> records, std::size_t wrap) noexcept;

}  // namespace ntpepmap::writer
