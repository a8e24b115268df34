#include "reader/fasta_pieces.hpp"

#include <algorithm>
#include <new>

#include "reader/record_checks.hpp"
#include "reader/text_lines.hpp"
#include "translator/utf8.hpp"

namespace ntpepmap::reader {

namespace {

constexpr std::string_view WHITE_SPACE = " \t\n\v\f\r";
constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";
constexpr std::string_view RECORD_START = "\n>";
// A record carried over that grows past this is put together as it comes: shorter ones,
// the common cut record, are read with their run as they lie.
constexpr std::size_t LONG_RECORD_BYTES = std::size_t{1} << 20;

// Where the last record that starts at `from` or later begins, or npos.
std::size_t last_record_start(std::string_view text, std::size_t from) noexcept {
    const std::size_t found = text.rfind(RECORD_START);
    return found == std::string_view::npos || found + 1 < from ? std::string_view::npos : found + 1;
}

// Where the first record that starts at `from` or later begins, or npos.
std::size_t first_record_start(std::string_view text, std::size_t from) noexcept {
    const std::size_t found = text.find(RECORD_START, from == 0 ? 0 : from - 1);
    return found == std::string_view::npos ? found : found + 1;
}

// The first byte of the text that is neither white space nor its byte-order mark, or npos.
std::size_t first_text(std::string_view text) noexcept {
    return text.find_first_not_of(WHITE_SPACE, text.starts_with(BYTE_ORDER_MARK) ? BYTE_ORDER_MARK.size() : 0);
}

}  // namespace

void FastaPieces::take(std::string_view piece) {
    if (long_record_) {
        const std::size_t end = long_record_end(piece);
        add_to_long_record(piece.substr(0, end));
        if (end == std::string_view::npos) return;
        end_long_record();
        piece.remove_prefix(end);
    }
    if (started_) return cut(piece, 0);
    if (carried_.empty() && piece.size() >= BYTE_ORDER_MARK.size()) {  // the text starts in the piece
        if (const std::size_t first = first_text(piece); first != std::string_view::npos) {
            started_ = true;
            return cut(piece, first + 1);
        }
    }
    // The text's start, up to its first letter that is not white space, is kept with the
    // record it leads to: a run of white space alone would be read as an empty file.
    carried_.append(piece);
    if (carried_.size() < BYTE_ORDER_MARK.size() && BYTE_ORDER_MARK.starts_with(carried_)) return;
    const std::size_t first = first_text(carried_);
    if (first == std::string::npos) return;
    started_ = true;
    const std::string start = std::move(carried_);
    carried_.clear();
    cut(start, first + 1);
}

// Cuts the piece after its last complete record; a record starts at `from` or later.
void FastaPieces::cut(std::string_view piece, std::size_t from) {
    const std::size_t last = last_record_start(piece, from);
    if (last == std::string_view::npos) {
        carried_.append(piece);
        if (carried_.size() >= LONG_RECORD_BYTES && carried_plain_ && start_long_record()) carried_ = std::string();
        return;
    }
    std::size_t first = 0;
    if (!carried_.empty()) {
        first = first_record_start(piece, from);
        carried_.append(piece.substr(0, first));
        read(carried_);
    }
    if (first < last) read(piece.substr(first, last - first));
    carried_.assign(piece.substr(last));
    carried_plain_ = true;
}

void FastaPieces::finish() {
    if (long_record_) {
        end_long_record();
    } else if (!carried_.empty() || !read_any_) {
        read(carried_);
    }
    carried_ = std::string();
}

void FastaPieces::read(std::string_view run) {
    next_.record += read_run_(run, next_);
    read_any_ = true;
    next_.line += line_end_count(run);
}

// Starts putting the carried record together as it comes. False leaves it carried as text,
// for a run's reading to read or refuse: where it does not start with a name line that
// ends in a line feed, or holds a lone carriage return, which would end a line.
bool FastaPieces::start_long_record() {
    carried_plain_ = false;
    std::size_t start = first_text(carried_);
    if (start == std::string::npos || carried_[start] != '>' || has_lone_carriage_return(carried_)) return false;
    // Records before it, carried with it where a piece was cut just after a line end, are read first.
    if (const std::size_t last = last_record_start(carried_, start + 1); last != std::string_view::npos) {
        read(std::string_view(carried_).substr(0, last));
        carried_.erase(0, last);
        start = 0;
    }
    const std::size_t name_end = carried_.find('\n', start);
    if (name_end == std::string::npos) return false;
    next_.line += line_end_count(std::string_view(carried_).substr(0, start));  // blank lines first
    name_line_.assign(carried_, start + 1, name_end - start - 1);
    if (const auto problem = identifier_problem(first_word(name_line_).first)) {
        throw ReadError(next_.line, next_.record, {}, *problem);
    }
    long_record_ = true;
    lines_ = 1;
    add_to_long_record(std::string_view(carried_).substr(name_end + 1));
    return true;
}

// Where the next record starts in the piece: a '>' that starts a line, or npos.
std::size_t FastaPieces::long_record_end(std::string_view piece) const noexcept {
    for (std::size_t marker = piece.find('>'); marker != std::string_view::npos; marker = piece.find('>', marker + 1)) {
        if (marker == 0 ? after_line_end_ : piece[marker - 1] == '\n' || piece[marker - 1] == '\r') return marker;
    }
    return std::string_view::npos;
}

void FastaPieces::add_to_long_record(std::string_view text) {
    if (text.empty()) return;
    if (letter_count_ + text.size() > letter_room_) {
        const std::size_t room = std::max({letter_count_ + text.size(), 2 * letter_room_, LONG_RECORD_BYTES});
        letters_ = room_.grow(room, letter_count_);
        letter_room_ = room;
    }
    LetterFacts facts;
    letter_count_ += copy_letters(text, classes_, letters_ + letter_count_, facts);
    facts_.bits |= facts.bits;
    if (facts.lines_to_check() || !cut_character_.empty()) check_long_record_lines(text);
    const bool crlf_cut = after_carriage_return_ && text.front() == '\n';  // counted at the '\r'
    lines_ += line_end_count(text) - (crlf_cut ? 1 : 0);
    const std::size_t last_line_end = text.rfind('\n');
    column_ = last_line_end == std::string_view::npos ? column_ + text.size() : text.size() - last_line_end - 1;
    after_line_end_ = text.back() == '\n' || text.back() == '\r';
    after_carriage_return_ = text.back() == '\r';
}

char* FastaPieces::HeapRoom::grow(std::size_t size, std::size_t) {
    char* grown = static_cast<char*>(std::realloc(letters_.get(), size));
    if (grown == nullptr) throw std::bad_alloc();
    (void)letters_.release();
    letters_.reset(grown);
    return grown;
}

// The lines of text beyond ASCII must be UTF-8, as a reading of the whole text checks them;
// a character the text's end cuts is checked with the next text.
void FastaPieces::check_long_record_lines(std::string_view text) {
    std::size_t line = next_.line + lines_ - (after_carriage_return_ && text.front() == '\n' ? 1 : 0);
    const std::string joined = cut_character_ + std::string(text);
    cut_character_.clear();
    std::string_view rest = joined;
    std::size_t first_column = column_ - (joined.size() - text.size()) + 1;  // the cut character's bytes are the last line's
    for (std::size_t end = rest.find_first_of("\r\n"); end != std::string_view::npos;
         end = rest.find_first_of("\r\n"), first_column = 1) {
        if (const auto problem = sequence_line_problem(rest.substr(0, end), first_column)) {
            throw ReadError(line, next_.record, first_word(name_line_).first, *problem);
        }
        const bool pair = rest[end] == '\r' && end + 1 < rest.size() && rest[end + 1] == '\n';
        rest.remove_prefix(end + (pair ? 2 : 1));
        ++line;
    }
    std::size_t whole = rest.size();
    if (!rest.empty()) {
        const std::size_t last = utf8::character_start(rest, rest.size() - 1);
        if (last + utf8::sequence_length(static_cast<unsigned char>(rest[last])) > rest.size()) whole = last;
    }
    if (const auto problem = sequence_line_problem(rest.substr(0, whole), first_column)) {
        throw ReadError(line, next_.record, first_word(name_line_).first, *problem);
    }
    cut_character_.assign(rest.substr(whole));
}

ReadError FastaPieces::not_utf8(std::size_t line) const {
    return ReadError(line, next_.record, first_word(name_line_).first, "the sequence is not UTF-8 text");
}

void FastaPieces::end_long_record() {
    if (!cut_character_.empty()) throw not_utf8(next_.line + lines_);
    // Frameshift digits are told from position numbers line by line, which a record read in
    // pieces is not: refused rather than lost.
    if (facts_.digits_to_read(classes_)) {
        throw ReadError(next_.line, next_.record, first_word(name_line_).first,
                        "digits in a record this long are read as frameshifts only from an uncompressed file");
    }
    sink_.take(first_word(name_line_).first, trim_white_space(name_line_),
               std::string_view(letters_, letter_count_), facts_);
    read_any_ = true;
    next_.record += 1;
    next_.line += lines_;
    long_record_ = false;
    own_room_.clear();
    letters_ = nullptr;
    letter_count_ = letter_room_ = lines_ = column_ = 0;
    facts_ = {};
    after_line_end_ = after_carriage_return_ = false;
}

}  // namespace ntpepmap::reader
