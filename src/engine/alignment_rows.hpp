#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ntpepmap::engine {

// The rows of a protein alignment as the engine reads them: the gap letters '.' and '~' as '-',
// and every row as wide as the widest, trailing gaps added. A row that needs neither is read in
// place; only the others are copied.
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

}  // namespace ntpepmap::engine
