#pragma once

#include <cstddef>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "reader/reader.hpp"

namespace ntpepmap::reader {

// A FASTA text that comes in pieces (as it is decompressed), read as the pieces come.
// Runs of whole records are handed on where they lie in a piece, placed in the whole text,
// so that a reading of a run says where a fault is as a reading of the whole text would.
// A record cut across pieces is carried over as text while it is short; a long one is put
// together as it comes, its letters copied into a buffer that grows in place, so that a
// record of any length costs linear time and about its letters' room.
class FastaPieces {
public:
    // Reads a run of whole records placed at `start` in the text; returns how many it read.
    using ReadRun = std::function<std::size_t(std::string_view run, TextStart start)>;

    FastaPieces(const LetterClasses& classes, RecordSink& sink, ReadRun read_run)
        : classes_(classes), sink_(sink), read_run_(std::move(read_run)),
          room_(sink.letter_room() != nullptr ? *sink.letter_room() : own_room_) {}

    // The next piece: every record it completes is read before it returns.
    void take(std::string_view piece);
    // The end of the text: the last record is read, or the text as it is where nothing was
    // read (white space alone, say, which a reading refuses as it would the whole text).
    void finish();

private:
    void cut(std::string_view piece, std::size_t from);
    void read(std::string_view run);
    bool start_long_record();
    [[nodiscard]] std::size_t long_record_end(std::string_view piece) const noexcept;
    void add_to_long_record(std::string_view text);
    void check_long_record_lines(std::string_view text);
    void end_long_record();
    [[nodiscard]] ReadError not_utf8(std::size_t line) const;

    const LetterClasses& classes_;
    RecordSink& sink_;
    ReadRun read_run_;
    std::string carried_;        // the start of the text, or of the record the pieces so far end in
    bool carried_plain_ = true;  // it may yet be put together as a long record
    bool started_ = false;       // the first record has begun
    bool read_any_ = false;
    TextStart next_{};           // where the carried text, or the long record, starts

    // The reader's own room: grown by realloc, which moves a large block's pages rather
    // than copying them.
    class HeapRoom final : public LetterRoom {
    public:
        char* grow(std::size_t size, std::size_t kept) override;
        void clear() noexcept { letters_.reset(); }

    private:
        struct FreeBytes {
            void operator()(char* bytes) const noexcept { std::free(bytes); }
        };
        std::unique_ptr<char, FreeBytes> letters_;
    };

    // The long record being put together.
    HeapRoom own_room_;
    LetterRoom& room_;
    bool long_record_ = false;
    std::string name_line_;
    char* letters_ = nullptr;
    std::size_t letter_count_ = 0;
    std::size_t letter_room_ = 0;
    LetterFacts facts_;
    std::size_t lines_ = 0;          // line ends of the record so far
    std::size_t column_ = 0;         // bytes of the record's last line so far: where a message's column starts
    bool after_line_end_ = false;    // its text so far ends a line: a '>' next starts a record
    bool after_carriage_return_ = false;
    std::string cut_character_;      // bytes of a character the last piece cut, where UTF-8 is checked
};

}  // namespace ntpepmap::reader
