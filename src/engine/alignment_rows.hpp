#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ntpepmap::engine {

// Whether the row holds the gap letters '.' or '~'.
[[nodiscard]] bool holds_other_gaps(std::string_view row) noexcept;

// The row as the engine reads it: '.' and '~' as '-', trailing gaps up to `width`. The row itself
// when it needs neither, else made in `storage`.
[[nodiscard]] std::string_view even_row(std::string_view row, std::size_t width, std::string& storage);

// The rows of a protein alignment as the engine reads them (see even_row), every row as wide as
// the widest. A row that needs no change is read in place; only the others are copied.
class AlignmentRows {
public:
    explicit AlignmentRows(const std::vector<std::string_view>& given);

    [[nodiscard]] std::size_t width() const noexcept { return width_; }
    [[nodiscard]] std::size_t size() const noexcept { return rows_.size(); }
    [[nodiscard]] std::string_view operator[](std::size_t index) const noexcept { return rows_[index]; }
    // The records whose rows were narrower than the alignment, each with its own width.
    [[nodiscard]] const std::vector<std::pair<std::size_t, std::size_t>>& padded() const noexcept { return padded_; }

private:
    std::vector<std::string_view> rows_;
    std::vector<std::string> copies_;  // the rows that were changed, in order
    std::vector<std::pair<std::size_t, std::size_t>> padded_;
    std::size_t width_ = 0;
};

// The widest row's width, and (index, own width) of each narrower row: from the rows' sizes alone.
[[nodiscard]] std::size_t widest_row(const std::vector<std::string_view>& rows) noexcept;
[[nodiscard]] std::vector<std::pair<std::size_t, std::size_t>> narrower_rows(const std::vector<std::string_view>& rows,
                                                                             std::size_t width);

}  // namespace ntpepmap::engine
