#include "reader/record_set.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <new>

#include "memory/huge_pages.hpp"

namespace ntpepmap::reader {

void RecordSet::start_file(std::size_t text_size) {
    ++files_;
    file_start_ = entries_.size();
    // A further file of the set that needs more room grows it by half at least: appended one by
    // one, eight species' files would otherwise move all the letters read so far eight times.
    const std::size_t needed = letters_size_ + text_size;
    if (needed > letters_capacity_) ensure_room(std::max(needed, letters_capacity_ + letters_capacity_ / 2));
}

void RecordSet::take(std::string_view identifier, std::string_view header, std::string_view sequence,
                     LetterFacts facts) {
    // Letters written through the room lie past those kept already.
    const bool in_place = letters_ != nullptr && sequence.data() == letters_.get() + letters_size_;
    if (!in_place && !sequence.empty()) std::memcpy(reserve_letters(sequence.size()), sequence.data(), sequence.size());
    add_placed(identifier, header, letters_size_, sequence.size(), facts);
}

void RecordSet::take_kept_columns(std::span<const std::size_t> columns) {
    kept_.emplace(columns.begin(), columns.end());
}

char* RecordSet::reserve_letters(std::size_t count) {
    if (letters_size_ + count > letters_capacity_) {
        ensure_room(std::max(letters_size_ + count, letters_capacity_ + letters_capacity_ / 2));
    }
    return letters_.get() + letters_size_;
}

void RecordSet::add_placed(std::string_view identifier, std::string_view header, std::size_t start,
                           std::size_t count, LetterFacts facts) {
    add_entry(identifier, header, start, count, facts);
    letters_size_ = std::max(letters_size_, start + count);
}

void RecordSet::add_entry(std::string_view identifier, std::string_view header, std::size_t start,
                          std::size_t count, LetterFacts facts) {
    constexpr std::size_t MOST = std::numeric_limits<std::uint32_t>::max();
    if (identifier.size() > MOST || header.size() > MOST) throw std::bad_alloc();
    if (files_ == 0) files_ = 1;  // records taken with no file started are a file's
    entries_.push_back({start, count, identifiers_.size(), headers_.size(),
                        static_cast<std::uint32_t>(identifier.size()), static_cast<std::uint32_t>(header.size()),
                        facts, files_ - 1});
    identifiers_.append(identifier);
    headers_.append(header);
}

void RecordSet::ensure_room(std::size_t capacity) {
    if (capacity <= letters_capacity_) return;
    char* grown = static_cast<char*>(std::realloc(letters_.get(), std::max<std::size_t>(capacity, 1)));
    if (grown == nullptr) throw std::bad_alloc();
    (void)letters_.release();
    letters_.reset(grown);
    letters_capacity_ = capacity;
    memory::advise_huge_pages(grown, capacity);
}

char* RecordSet::TailRoom::grow(std::size_t size, std::size_t) {
    set_.ensure_room(set_.letters_size_ + size);
    return set_.letters_.get() + set_.letters_size_;
}

std::string_view RecordSet::identifier(std::size_t index) const noexcept {
    const Entry& entry = entries_[index];
    return std::string_view(identifiers_).substr(entry.identifier, entry.identifier_size);
}

std::string_view RecordSet::header(std::size_t index) const noexcept {
    const Entry& entry = entries_[index];
    return std::string_view(headers_).substr(entry.header, entry.header_size);
}

std::string_view RecordSet::sequence(std::size_t index) const noexcept {
    const Entry& entry = entries_[index];
    if (entry.letter_count == 0) return {};
    return {letters_.get() + entry.letters, entry.letter_count};
}

std::string_view RecordSet::sequence_start(std::size_t index, std::size_t characters) const noexcept {
    const std::string_view letters = sequence(index);
    if (facts(index).ascii()) return letters.substr(0, characters);
    std::size_t end = 0;
    for (std::size_t seen = 0; end < letters.size(); ++end) {
        const bool starts_character = (static_cast<unsigned char>(letters[end]) & 0xC0U) != 0x80U;
        if (starts_character && seen++ == characters) break;
    }
    return letters.substr(0, end);
}

std::size_t RecordSet::width(std::size_t index) const noexcept {
    const std::string_view letters = sequence(index);
    if (facts(index).ascii()) return letters.size();
    return static_cast<std::size_t>(std::count_if(letters.begin(), letters.end(), [](char byte) {
        return (static_cast<unsigned char>(byte) & 0xC0) != 0x80;  // not a continuation byte
    }));
}

std::size_t RecordSet::max_width() const noexcept {
    std::size_t widest = 0;
    for (std::size_t index = 0; index < size(); ++index) widest = std::max(widest, width(index));
    return widest;
}

std::vector<std::size_t> RecordSet::marked(bool digits) const {
    std::vector<std::size_t> marked;
    for (std::size_t index = 0; index < size(); ++index) {
        if (digits ? facts(index).digits() : !facts(index).plain()) marked.push_back(index);
    }
    return marked;
}

}  // namespace ntpepmap::reader
