#include "engine/alignment_rows.hpp"

#include <algorithm>

namespace ntpepmap::engine {
namespace {

constexpr bool is_other_gap(char letter) noexcept { return letter == '.' || letter == '~'; }

}  // namespace

bool holds_other_gaps(std::string_view row) noexcept { return std::any_of(row.begin(), row.end(), is_other_gap); }

std::string_view even_row(std::string_view row, std::size_t width, std::string& storage) {
    if (row.size() >= width && !holds_other_gaps(row)) return row;
    storage.assign(row);
    std::replace_if(storage.begin(), storage.end(), is_other_gap, '-');
    storage.resize(width, '-');
    return storage;
}

std::size_t widest_row(const std::vector<std::string_view>& rows) noexcept {
    std::size_t width = 0;
    for (const std::string_view row : rows) width = std::max(width, row.size());
    return width;
}

std::vector<std::pair<std::size_t, std::size_t>> narrower_rows(const std::vector<std::string_view>& rows,
                                                               std::size_t width) {
    std::vector<std::pair<std::size_t, std::size_t>> narrower;
    for (std::size_t index = 0; index < rows.size(); ++index) {
        if (rows[index].size() < width) narrower.emplace_back(index, rows[index].size());
    }
    return narrower;
}

AlignmentRows::AlignmentRows(const std::vector<std::string_view>& given)
    : rows_(given), padded_(narrower_rows(given, widest_row(given))), width_(widest_row(given)) {
    std::vector<std::size_t> changed;
    for (std::size_t index = 0; index < given.size(); ++index) {
        if (given[index].size() < width_ || holds_other_gaps(given[index])) changed.push_back(index);
    }
    // Made whole before any view of them is taken: the vector does not move them afterwards.
    copies_.resize(changed.size());
    for (std::size_t copy = 0; copy < changed.size(); ++copy) {
        rows_[changed[copy]] = even_row(given[changed[copy]], width_, copies_[copy]);
    }
}

}  // namespace ntpepmap::engine
