#pragma once

#include <string_view>

#include "reader/reader.hpp"

namespace ntpepmap::reader {

// Whether a first line (white space trimmed) is a Stockholm heading: '# STOCKHOLM'.
[[nodiscard]] bool is_stockholm_heading(std::string_view line) noexcept;

// Stockholm, as hmmalign writes it and Pfam serves it: the heading, then blocks of lines
// "name  letters", every name again in each block; lines starting with '#' (#=GF, #=GS,
// #=GR, #=GC) annotate and are read past; '//' ends the alignment. '.' and '-' are gaps,
// lower-case letters (hmmalign's insertions) residues like the others.
void read_stockholm(std::string_view text, const LetterClasses& classes, RecordSink& sink);

}  // namespace ntpepmap::reader
