#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "reader/reader.hpp"

namespace ntpepmap::reader {

// Every record of one or more files, kept whole: the letters of all sequences in one buffer,
// identifiers and whole header lines in buffers of their own, and per record where its texts
// lie, its LetterFacts and the file it came from. Records are looked at by index; a reading
// can write a record's letters straight into the buffer (letter_room, reserve_letters) so
// that they are copied once. It stays where it was made: the room it lends points to it.
class RecordSet final : public RecordSink {
public:
    RecordSet() = default;
    RecordSet(const RecordSet&) = delete;
    RecordSet& operator=(const RecordSet&) = delete;
    ~RecordSet() override = default;

    // The records taken from now on are those of another file, about `text_size` bytes long:
    // room for its letters is reserved at once.
    void start_file(std::size_t text_size);

    void take(std::string_view identifier, std::string_view header, std::string_view sequence,
              LetterFacts facts) override;
    LetterRoom* letter_room() noexcept override { return &room_; }
    void take_kept_columns(std::span<const std::size_t> columns) override;

    // Room for `count` more letters past those kept, where a reading may write letters to place
    // them with `add_placed`: a pointer to the first byte past the letters kept.
    [[nodiscard]] char* reserve_letters(std::size_t count);
    [[nodiscard]] std::size_t letters_size() const noexcept { return letters_size_; }
    // A record whose letters were written at letters[start, start + count) after reserve_letters.
    void add_placed(std::string_view identifier, std::string_view header, std::size_t start, std::size_t count,
                    LetterFacts facts);

    [[nodiscard]] std::size_t size() const noexcept { return entries_.size(); }
    [[nodiscard]] std::string_view identifier(std::size_t index) const noexcept;
    [[nodiscard]] std::string_view header(std::size_t index) const noexcept;
    [[nodiscard]] std::string_view sequence(std::size_t index) const noexcept;
    // The sequence's first `characters` characters (all, where it has fewer), a character of
    // several bytes kept whole.
    [[nodiscard]] std::string_view sequence_start(std::size_t index, std::size_t characters) const noexcept;
    [[nodiscard]] LetterFacts facts(std::size_t index) const noexcept { return entries_[index].facts; }
    [[nodiscard]] std::size_t file(std::size_t index) const noexcept { return entries_[index].file; }
    [[nodiscard]] std::size_t files() const noexcept { return files_; }
    // The records of the file last started, so far.
    [[nodiscard]] std::size_t records_in_file() const noexcept { return entries_.size() - file_start_; }
    // The sequence's width in characters: its letters, a character of several bytes counted once.
    [[nodiscard]] std::size_t width(std::size_t index) const noexcept;
    [[nodiscard]] std::size_t max_width() const noexcept;
    // The records holding frameshift digits (`digits`), or else letters outside the plain set.
    [[nodiscard]] std::vector<std::size_t> marked(bool digits) const;

    [[nodiscard]] Format format() const noexcept { return format_; }
    void set_format(Format format) noexcept { format_ = format; }
    // The columns a CLUSTAL file's lines of '#' mark to keep; nothing without such lines.
    [[nodiscard]] const std::optional<std::vector<std::size_t>>& kept_columns() const noexcept { return kept_; }

private:
    struct Entry {
        std::size_t letters;
        std::size_t letter_count;
        std::size_t identifier;
        std::size_t header;
        std::uint32_t identifier_size;
        std::uint32_t header_size;
        LetterFacts facts;
        std::uint32_t file;
    };

    // The letters' buffer, grown by realloc: a large block's pages are moved, not copied.
    struct FreeBytes {
        void operator()(char* bytes) const noexcept { std::free(bytes); }
    };

    // A long record read in pieces writes its letters past those kept, in the buffer itself.
    class TailRoom final : public LetterRoom {
    public:
        explicit TailRoom(RecordSet& set) noexcept : set_(set) {}
        char* grow(std::size_t size, std::size_t kept) override;

    private:
        RecordSet& set_;
    };

    void ensure_room(std::size_t capacity);
    void add_entry(std::string_view identifier, std::string_view header, std::size_t start, std::size_t count,
                   LetterFacts facts);

    std::unique_ptr<char, FreeBytes> letters_;
    std::size_t letters_size_ = 0;
    std::size_t letters_capacity_ = 0;
    std::string identifiers_;
    std::string headers_;
    std::vector<Entry> entries_;
    std::optional<std::vector<std::size_t>> kept_;
    Format format_ = Format::fasta;
    std::uint32_t files_ = 0;
    std::size_t file_start_ = 0;  // the first record of the file last started
    TailRoom room_{*this};
};

}  // namespace ntpepmap::reader
