#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "reader/letters.hpp"
#include "reader/read_error.hpp"

namespace ntpepmap::reader {

enum class Format : std::uint8_t { fasta, clustal, phylip, stockholm, nexus };

// The names of the formats, in the order of Format: those --in-format takes.
inline constexpr std::array<std::string_view, 5> FORMAT_NAMES = {"fasta", "clustal", "phylip", "stockholm", "nexus"};

[[nodiscard]] std::string_view format_name(Format format) noexcept;
// The format of a name as format_name gives it; nothing for another name.
[[nodiscard]] std::optional<Format> format_named(std::string_view name) noexcept;

// Receives the records in file order. The texts are lent for the call only. It may
// throw to stop the reading; the exception comes out of read_records unchanged.
// `header` is the record's whole name line: in FASTA what follows '>', white space around
// it trimmed, bytes as they are (not always UTF-8); in the other formats the identifier.
class RecordSink;

// Room for the letters of a record that is put together as it comes, grown as they come.
class LetterRoom {
public:
    virtual ~LetterRoom() = default;
    // Room for at least `size` letters, the first `kept` as they were; throws where there is none.
    virtual char* grow(std::size_t size, std::size_t kept) = 0;
};

class RecordSink {
public:
    virtual ~RecordSink() = default;
    virtual void take(std::string_view identifier, std::string_view header, std::string_view sequence,
                      LetterFacts facts) = 0;
    // A room of the sink's own for such a record's letters, so that they are written where
    // they are to stay: the sequence it is handed then lies in it. Null: the reader's own.
    virtual LetterRoom* letter_room() noexcept { return nullptr; }
    // After the records, the columns (0-based, rising) that a CLUSTAL file's lines of '#'
    // mark to keep; not called for a file without such lines.
    virtual void take_kept_columns(std::span<const std::size_t> columns) { (void)columns; }
};

// Where a text lies in the file it is part of (a run of its records): the numbers of its
// first line and of its first record, so that messages name them as in the whole file.
struct TextStart {
    std::size_t line = 1;
    std::size_t record = 1;
};

// The format of a text by its first line that is not blank: '>' for FASTA, the name of a
// CLUSTAL-writing aligner, two counts for PHYLIP, '# STOCKHOLM' or '#NEXUS'. Throws
// ReadError, naming the formats known, for anything else.
[[nodiscard]] Format detect_format(std::string_view text);

// Reads every record of `text` in `format` (detected when not given) and hands each to
// `sink`: the identifier is the first word of the name, the sequence its letters with
// white space and position numbers left out. Identifiers and sequences are UTF-8. Lines
// end in LF, CRLF or CR alone; a byte-order mark is skipped.
// Throws ReadError, naming line and record, for text that is not in the format; `start`
// places a FASTA text in its file.
Format read_records(std::string_view text, std::optional<Format> format, const LetterClasses& classes,
                    RecordSink& sink, TextStart start = {});

}  // namespace ntpepmap::reader
