#pragma once

#include "module/py_ref.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace ntpepmap::module {

// Whether every byte is below 0x80.
[[nodiscard]] bool is_ascii(std::string_view text) noexcept;

// A new str holding the UTF-8 text; pure ASCII is copied without a decode pass.
[[nodiscard]] PyRef to_python_str(std::string_view utf8);

// The text as a new str, or None when there is none.
[[nodiscard]] PyRef to_python_str_or_none(const std::optional<std::string>& utf8);

}  // namespace ntpepmap::module
