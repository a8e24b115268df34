#include "engine/alignment_rows.hpp"

#include <algorithm>

namespace ntpepmap::engine {
namespace {

constexpr bool is_other_gap(char letter) noexcept { return letter == '.' || letter == '~'; }

}  // namespace

AlignmentRows::AlignmentRows(const std::vector<std::string_view>& given) : rows_(given) {
    for (const std::string_view row : given) width_ = std::max(width_, row.size());
    std::vector<std::size_t> changed;
    for (std::size_t index = 0; index < given.size(); ++index) {
        const std::string_view row = given[index];
        const bool other_gaps = std::any_of(row.begin(), row.end(), is_other_gap);
        if (row.size() < width_) padded_.emplace_back(index, row.size());
        if (other_gaps || row.size() < width_) changed.push_back(index);
    }
    // Made whole before any view of them is taken: the vector does not move them afterwards.
    copies_.reserve(changed.size());
    for (const std::size_t index : changed) {
        std::string& copy = copies_.emplace_back(given[index]);
        std::replace_if(copy.begin(), copy.end(), is_other_gap, '-');
        copy.resize(width_, '-');
        rows_[index] = copy;
    }
}

}  // namespace ntpepmap::engine
