#include "reader/nexus_reader.hpp"

#include <algorithm>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "reader/aligned_records.hpp"
#include "reader/text_lines.hpp"

namespace ntpepmap::reader {

namespace {

constexpr std::size_t MAX_COUNT_DIGITS = 9;

char upper(char byte) noexcept { return byte >= 'a' && byte <= 'z' ? static_cast<char>(byte - 'a' + 'A') : byte; }

bool same_word(std::string_view word, std::string_view keyword) noexcept {
    return word.size() == keyword.size() &&
           std::equal(word.begin(), word.end(), keyword.begin(), [](char a, char b) { return upper(a) == b; });
}

bool is_space(char byte) noexcept { return is_white_space(static_cast<unsigned char>(byte)); }

// The text with each comment ([...], nested) made spaces, line ends kept, so that offsets
// and line numbers stay those of the file. A bracket inside a quoted name is no comment.
std::string without_comments(std::string_view text) {
    std::string clean(text);
    std::size_t depth = 0;
    std::size_t opened = 0;
    bool quoted = false;
    for (std::size_t at = 0; at < clean.size(); ++at) {
        const char byte = clean[at];
        if (depth == 0 && byte == '\'') quoted = !quoted;
        if (quoted) continue;
        if (byte == '[') {
            if (depth++ == 0) opened = at;
        } else if (byte == ']' && depth > 0) {
            --depth;
        } else if (depth == 0) {
            continue;
        }
        if (clean[at] != '\n') clean[at] = ' ';
    }
    if (depth > 0) throw ReadError(line_number_at(text, opened), 0, {}, "a comment '[' that is never closed");
    return clean;
}

// A command's words: '=' is a word of its own; a quoted word keeps its quotes.
std::vector<std::string_view> words_of(std::string_view command) {
    std::vector<std::string_view> words;
    std::size_t at = 0;
    while (at < command.size()) {
        if (is_space(command[at])) {
            ++at;
            continue;
        }
        std::size_t end = at + 1;
        if (command[at] == '\'') {
            end = command.find('\'', end);
            end = end == std::string_view::npos ? command.size() : end + 1;
        } else if (command[at] != '=') {
            while (end < command.size() && !is_space(command[end]) && command[end] != '=') ++end;
        }
        words.push_back(command.substr(at, end - at));
        at = end;
    }
    return words;
}

// The value of `key = value` among a command's words; nothing where the key is absent.
std::optional<std::string_view> value_of(const std::vector<std::string_view>& words, std::string_view key) {
    for (std::size_t at = 0; at + 2 < words.size(); ++at) {
        if (same_word(words[at], key) && words[at + 1] == "=") return words[at + 2];
    }
    return std::nullopt;
}

bool has_word(const std::vector<std::string_view>& words, std::string_view key) {
    return std::any_of(words.begin(), words.end(), [key](std::string_view word) { return same_word(word, key); });
}

// A symbol as FORMAT gives it: the character, quoted or not.
char symbol_of(std::string_view word) noexcept { return word.size() > 1 && word.front() == '\'' ? word[1] : word.front(); }

// The name at the start of a row and the offset of what follows it; a quoted name unquoted.
struct RowName {
    std::string name;
    std::size_t rest = 0;
};

std::optional<RowName> row_name(std::string_view line) {
    RowName found;
    if (!line.starts_with('\'')) {
        const Words words = first_word(line);
        found.name = words.first;
        found.rest = line.size() - words.rest.size();
        return found;
    }
    std::size_t at = 1;
    while (at < line.size()) {
        if (line[at] == '\'' && at + 1 < line.size() && line[at + 1] == '\'') {
            found.name += '\'';
            at += 2;
        } else if (line[at] == '\'') {
            found.rest = at + 1;
            return found;
        } else {
            found.name += line[at++];
        }
    }
    return std::nullopt;
}

struct Dimensions {
    std::optional<std::size_t> taxa;
    std::optional<std::size_t> columns;
};

class NexusReader {
public:
    NexusReader(std::string_view text, const LetterClasses& classes)
        : text_(text), clean_(without_comments(text)), records_(classes) {}

    void read(RecordSink& sink) {
        std::size_t start = after_heading();
        bool in_characters = false;
        while (start < clean_.size()) {
            const std::size_t end = command_end(start);
            const std::string_view command = std::string_view(clean_).substr(start, end - start);
            const std::vector<std::string_view> words = words_of(command);
            if (!words.empty()) {
                if (in_characters && same_word(words[0], "MATRIX")) return read_matrix(start, command, sink);
                in_characters = take_command(words, start, in_characters);
            }
            start = end + 1;
        }
        throw ReadError(line_number_at(text_, text_.size()), 0, {}, "no DATA or CHARACTERS block with a MATRIX");
    }

private:
    [[nodiscard]] std::size_t after_heading() const noexcept {
        const std::size_t heading = clean_.find_first_not_of(" \t\n\v\f\r");
        const std::size_t end = clean_.find('\n', heading);
        return end == std::string::npos ? clean_.size() : end + 1;
    }

    // Where the command from `start` ends: its ';' (not one inside a quoted name), or the end.
    [[nodiscard]] std::size_t command_end(std::size_t start) const noexcept {
        bool quoted = false;
        for (std::size_t at = start; at < clean_.size(); ++at) {
            if (clean_[at] == '\'') quoted = !quoted;
            if (clean_[at] == ';' && !quoted) return at;
        }
        return clean_.size();
    }

    // Takes what a command outside the matrix says; whether a character block goes on.
    bool take_command(const std::vector<std::string_view>& words, std::size_t offset, bool in_characters) {
        if (same_word(words[0], "BEGIN")) {
            return words.size() > 1 && (same_word(words[1], "DATA") || same_word(words[1], "CHARACTERS"));
        }
        if (same_word(words[0], "END") || same_word(words[0], "ENDBLOCK")) return false;
        if (same_word(words[0], "DIMENSIONS")) {
            if (const auto taxa = value_of(words, "NTAX")) dimensions_.taxa = count(*taxa, "NTAX", offset);
            if (const auto columns = value_of(words, "NCHAR")) dimensions_.columns = count(*columns, "NCHAR", offset);
        }
        if (in_characters && same_word(words[0], "FORMAT")) {
            const auto interleave = value_of(words, "INTERLEAVE");
            interleaved_ = interleave ? !same_word(*interleave, "NO") : has_word(words, "INTERLEAVE");
            if (const auto match = value_of(words, "MATCHCHAR")) match_ = symbol_of(*match);
        }
        return in_characters;
    }

    std::size_t count(std::string_view word, std::string_view key, std::size_t offset) const {
        if (word.empty() || word.size() > MAX_COUNT_DIGITS ||
            !std::all_of(word.begin(), word.end(), [](char c) { return is_digit(static_cast<unsigned char>(c)); })) {
            throw ReadError(line_of(offset), 0, {}, std::string(key) + " is not a count: '" + shown_identifier(word) + "'");
        }
        std::size_t value = 0;
        for (const char digit : word) value = 10 * value + static_cast<std::size_t>(digit - '0');
        return value;
    }

    void read_matrix(std::size_t offset, std::string_view command, RecordSink& sink) {
        if (!dimensions_.taxa || !dimensions_.columns) {
            throw ReadError(line_of(offset), 0, {}, "the MATRIX comes without NTAX and NCHAR in a DIMENSIONS command");
        }
        if (*dimensions_.taxa == 0) throw ReadError(line_of(offset), 0, {}, "no sequences");
        const std::size_t words_at = command.find_first_not_of(" \t\n\v\f\r");
        const std::size_t after_keyword = words_at + std::string_view("MATRIX").size();
        const std::size_t first_line = line_of(offset + after_keyword) - 1;
        TextLines lines(command.substr(after_keyword));
        std::string_view line;
        lines.next(line);  // the rest of the line of MATRIX
        read_row_line(trim_white_space(line), first_line + 1);
        while (lines.next(line)) read_row_line(trim_white_space(line), first_line + lines.number());
        const std::size_t end_line = line_of(offset + command.size());
        check_complete(end_line);
        if (match_) records_.match_first(*match_);
        records_.hand_over(sink);
    }

    void read_row_line(std::string_view line, std::size_t number) {
        if (line.empty()) return;
        if (!interleaved_ && records_.size() > 0 && short_of_columns(records_.size())) {
            return records_.append(records_.size(), line, number);
        }
        const std::optional<RowName> named = row_name(line);
        if (!named) throw ReadError(number, records_.size() + 1, {}, "a quoted name that is never closed");
        const auto found = numbers_.find(named->name);
        if (found != numbers_.end() && interleaved_) {
            return records_.append(found->second, line.substr(named->rest), number);
        }
        if (records_.size() == *dimensions_.taxa) {
            throw ReadError(number, 0, {}, "more rows than NTAX=" + std::to_string(*dimensions_.taxa));
        }
        records_.start_named(named->name, line.substr(named->rest), number);
        numbers_.emplace(named->name, records_.size());
    }

    [[nodiscard]] bool short_of_columns(std::size_t number) const noexcept {
        return records_[number].sequence.size() < *dimensions_.columns;
    }

    void check_complete(std::size_t line) const {
        if (records_.size() < *dimensions_.taxa) {
            throw ReadError(line, 0, {}, "the MATRIX ends after " + std::to_string(records_.size()) +
                                             " of NTAX=" + std::to_string(*dimensions_.taxa) + " rows");
        }
        for (std::size_t number = 1; number <= records_.size(); ++number) {
            const std::size_t columns = records_[number].sequence.size();
            if (columns != *dimensions_.columns) {
                throw ReadError(line, number, records_[number].identifier,
                                std::to_string(columns) + " columns where NCHAR=" + std::to_string(*dimensions_.columns));
            }
        }
    }

    [[nodiscard]] std::size_t line_of(std::size_t offset) const noexcept { return line_number_at(text_, offset); }

    std::string_view text_;
    std::string clean_;
    AlignedRecords records_;
    std::unordered_map<std::string, std::size_t> numbers_;
    Dimensions dimensions_;
    bool interleaved_ = false;
    std::optional<char> match_;
};

}  // namespace

bool is_nexus_heading(std::string_view line) noexcept {
    return line.size() >= 6 && same_word(line.substr(0, 6), "#NEXUS");
}

void read_nexus(std::string_view text, const LetterClasses& classes, RecordSink& sink) {
    std::string_view line;
    TextLines lines(text);
    if (!lines.next_filled(line)) throw ReadError("empty file");
    if (!is_nexus_heading(trim_leading_white_space(line))) {
        throw ReadError(lines.number(), 0, {}, "not NEXUS: the first line is not '#NEXUS'");
    }
    NexusReader(text, classes).read(sink);
}

}  // namespace ntpepmap::reader
