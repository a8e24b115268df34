#pragma once

#include <string_view>

#include "reader/reader.hpp"

namespace ntpepmap::reader {

// Whether a first line (white space trimmed) is the heading of a CLUSTAL file: the name
// of the program that wrote it.
[[nodiscard]] bool is_clustal_heading(std::string_view line) noexcept;

// CLUSTAL: a heading, then blocks of lines "name  sequence  [count]", each block ended by a
// blank or a conservation line. Every block lists the records in the order of the first,
// so that repeated names keep their places. A line of '#' under a block marks the block's
// columns to keep; the sink gets them after the records.
void read_clustal(std::string_view text, const LetterClasses& classes, RecordSink& sink);

}  // namespace ntpepmap::reader
