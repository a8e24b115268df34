#include "reader/text_lines.hpp"

#include <algorithm>

#include "reader/letters.hpp"

namespace ntpepmap::reader {

namespace {

constexpr std::string_view BYTE_ORDER_MARK = "\xEF\xBB\xBF";

bool is_space(char byte) noexcept { return is_white_space(static_cast<unsigned char>(byte)); }

}  // namespace

std::string_view without_byte_order_mark(std::string_view text) noexcept {
    if (text.starts_with(BYTE_ORDER_MARK)) text.remove_prefix(BYTE_ORDER_MARK.size());
    return text;
}

bool has_lone_carriage_return(std::string_view text) noexcept {
    for (std::size_t found = text.find('\r'); found != std::string_view::npos; found = text.find('\r', found + 1)) {
        if (found + 1 == text.size() || text[found + 1] != '\n') return true;
    }
    return false;
}

std::string with_line_feeds(std::string_view text) {
    std::string result(text);
    for (std::size_t index = 0; index < result.size(); ++index) {
        if (result[index] == '\r' && (index + 1 == result.size() || result[index + 1] != '\n')) result[index] = '\n';
    }
    return result;
}

std::size_t line_number_at(std::string_view text, std::size_t offset) noexcept {
    const std::string_view before = text.substr(0, std::min(offset, text.size()));
    return 1 + static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
}

bool is_blank(std::string_view line) noexcept { return std::all_of(line.begin(), line.end(), is_space); }

std::string_view trim_leading_white_space(std::string_view text) noexcept {
    const auto first = std::find_if_not(text.begin(), text.end(), is_space);
    return text.substr(static_cast<std::size_t>(first - text.begin()));
}

std::string_view trim_white_space(std::string_view text) noexcept {
    text = trim_leading_white_space(text);
    const auto last = std::find_if_not(text.rbegin(), text.rend(), is_space);
    return text.substr(0, text.size() - static_cast<std::size_t>(last - text.rbegin()));
}

Words first_word(std::string_view line) noexcept {
    line = trim_leading_white_space(line);
    const auto end = std::find_if(line.begin(), line.end(), is_space);
    const auto length = static_cast<std::size_t>(end - line.begin());
    return {line.substr(0, length), line.substr(length)};
}

bool TextLines::next(std::string_view& line) noexcept {
    if (done_) return false;
    ++number_;
    const std::size_t end = rest_.find('\n');
    if (end == std::string_view::npos) {
        line = rest_;
        rest_ = {};
        done_ = true;
    } else {
        line = rest_.substr(0, end);
        rest_.remove_prefix(end + 1);
        done_ = rest_.empty();  // a final line end opens no further line
    }
    if (line.ends_with('\r')) line.remove_suffix(1);
    return true;
}

bool TextLines::next_filled(std::string_view& line) noexcept {
    while (next(line)) {
        if (!is_blank(line)) return true;
    }
    return false;
}

}  // namespace ntpepmap::reader
