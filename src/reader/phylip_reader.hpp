#pragma once

#include <string_view>

#include "reader/reader.hpp"

namespace ntpepmap::reader {

// Whether a first line (white space trimmed) is a PHYLIP heading: two counts.
[[nodiscard]] bool is_phylip_heading(std::string_view line) noexcept;

// Relaxed PHYLIP, sequential or interleaved: a heading with the numbers of sequences and
// columns, then each sequence led by its name (any length, ended by white space).
// Sequential files give a sequence's lines one after the other; interleaved ones give the
// first piece of every sequence with its name, then blocks of further pieces in the same
// order. Either reading must give every sequence exactly the announced columns; where
// both fail, the one that got further says what is wrong, unless strict PHYLIP (names of
// ten characters, maybe glued to the letters) reads the file.
void read_phylip(std::string_view text, const LetterClasses& classes, RecordSink& sink);

}  // namespace ntpepmap::reader
