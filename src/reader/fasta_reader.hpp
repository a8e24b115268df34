#pragma once

#include <string_view>

#include "reader/reader.hpp"

namespace ntpepmap::reader {

// FASTA: '>' and a name at the start of a line, then sequence lines up to the next such
// line. Wrapped lines, CRLF line ends, blank lines and white space before the first
// record are all read; the identifier is the name's first word.
void read_fasta(std::string_view text, const LetterClasses& classes, RecordSink& sink);

}  // namespace ntpepmap::reader
