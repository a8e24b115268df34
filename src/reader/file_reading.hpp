#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "reader/fasta_pieces.hpp"
#include "reader/reader.hpp"
#include "reader/record_set.hpp"

// A whole input file read into a record set as a file of its own: given whole, or in pieces
// as it is decompressed. No Python here: the binding lets the interpreter lock go around it.
namespace ntpepmap::reader {

// Reads the file's text into the set; a large FASTA text side by side, on several threads.
// `room`: bytes to reserve at once when more is to come (files still to be read into the set),
// so that the letters read so far are never moved to make room for the next file's.
void read_file(std::string_view text, std::optional<Format> format, const LetterClasses& classes,
               RecordSet& set, std::size_t room = 0);

// A file given whole, as the bytes read from it: inflated here where they are gzip data and
// gzip_inflated_here(), read as text otherwise (`room` as for read_file).
void read_whole_file(std::string_view bytes, std::optional<Format> format, const LetterClasses& classes,
                     RecordSet& set, std::size_t room = 0);

// A file that comes in pieces. FASTA is read a run of whole records at a time as the pieces
// come, a long record's letters written straight into the set's buffer; another format (or
// one to be found) needs the whole text, kept until the end.
class FileInPieces {
public:
    // `expected_size`: about how many bytes the pieces hold, reserved in the set at once.
    FileInPieces(std::optional<Format> format, const LetterClasses& classes, RecordSet& set,
                 std::size_t expected_size);

    // Whether each piece is read as it comes (worth doing without the interpreter lock).
    [[nodiscard]] bool reads_as_it_comes() const noexcept { return by_runs_; }
    void take(std::string_view piece);
    // After the last piece: the records not read yet are.
    void finish();

private:
    std::optional<Format> format_;
    const LetterClasses& classes_;
    RecordSet& set_;
    bool by_runs_;
    std::string whole_;
    FastaPieces fasta_;
};

}  // namespace ntpepmap::reader
