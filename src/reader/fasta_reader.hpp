#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "reader/reader.hpp"

namespace ntpepmap::reader {

// FASTA: '>' and a name at the start of a line, then sequence lines up to the next such
// line. Wrapped lines, CRLF line ends, blank lines and white space before the first
// record are all read; the identifier is the name's first word.
// `start` places the text in its file.
void read_fasta(std::string_view text, const LetterClasses& classes, RecordSink& sink, TextStart start = {});

// A large FASTA text can be read side by side: split into runs of whole records, each run laid
// out on its own, then every record's letters copied with copy_letters wherever the caller
// wants them. What read_fasta would refuse is left to it, so that it says why.

// A record as it lies in the text: its identifier, its name line (as RecordSink's header),
// and its sequence lines as they are.
struct FastaRecordText {
    std::string_view identifier;
    std::string_view header;
    std::string_view body;
};

// The records of a file's text (byte-order mark and all) in about `parts` runs of whole
// records, in order; nothing when the text is not FASTA as it lies: no record first, or
// line ends read_records must first rewrite.
[[nodiscard]] std::optional<std::vector<std::string_view>> fasta_runs(std::string_view text, std::size_t parts);

// The records of one run, in order; false at an identifier that read_fasta refuses.
[[nodiscard]] bool lay_out_fasta(std::string_view run, std::vector<FastaRecordText>& records);

}  // namespace ntpepmap::reader
