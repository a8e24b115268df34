#pragma once

#include <string_view>

#include "reader/reader.hpp"

namespace ntpepmap::reader {

// Whether a first line (white space trimmed) is a NEXUS heading: '#NEXUS', in any case.
[[nodiscard]] bool is_nexus_heading(std::string_view line) noexcept;

// The matrix of a NEXUS file's first DATA or CHARACTERS block (MrBayes, PAUP*, Mesquite,
// IQ-TREE): NTAX (there, or in a TAXA block) rows of NCHAR columns, sequential or
// INTERLEAVE. Names may be quoted ('Homo sapiens', '' for a quote); white space in one
// becomes '_', as NEXUS reads it. Comments in [] are read past; the MATCHCHAR of FORMAT
// stands for the letter of the first row above it. Other blocks are read past.
void read_nexus(std::string_view text, const LetterClasses& classes, RecordSink& sink);

}  // namespace ntpepmap::reader
