#pragma once

#include "module/py_ref.hpp"

#include <optional>
#include <string>
#include <string_view>

namespace ntpepmap::module {

// Python 3.9 and 3.10 spell these two str accessors as macros whose C casts -Wold-style-cast
// reports even from a system header; they are expanded here only.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wold-style-cast"

// The character buffer of a str made by PyUnicode_New for ASCII (one byte per character).
[[nodiscard]] inline char* ascii_data(PyObject* text) noexcept { return static_cast<char*>(PyUnicode_DATA(text)); }

// The character buffer of any str, in its own kind (PyUnicode_KIND).
[[nodiscard]] inline const void* str_data(PyObject* text) noexcept { return PyUnicode_DATA(text); }

// Whether a str holds only ASCII: CPython keeps a flag, so asking costs nothing.
[[nodiscard]] inline bool is_ascii_str(PyObject* text) noexcept { return PyUnicode_IS_ASCII(text); }

#pragma GCC diagnostic pop

// Whether every byte is below 0x80.
[[nodiscard]] bool is_ascii(std::string_view text) noexcept;

// A new str holding the UTF-8 text; pure ASCII is copied without a decode pass.
[[nodiscard]] PyRef to_python_str(std::string_view utf8);

// The text as a new str, or None when there is none.
[[nodiscard]] PyRef to_python_str_or_none(const std::optional<std::string>& utf8);

}  // namespace ntpepmap::module
