#pragma once

#include "module/errors.hpp"
#include "module/py_ref.hpp"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// One conversion per native type. Each returns the native value or throws
// PythonErrorSet (or Abort, for a dict that changes under iteration).
namespace ntpepmap::module {

// The UTF-8 form of a str, borrowed: valid while `object` lives (CPython caches it there).
[[nodiscard]] std::string_view borrow_text(PyObject* object);

[[nodiscard]] std::int32_t to_int32(PyObject* object);

// A str of exactly one code point.
[[nodiscard]] char32_t to_char(PyObject* object);

// Any sequence of str except a str itself, in iteration order.
[[nodiscard]] std::vector<std::string> to_text_list(PyObject* object);

// The items of a tuple (or subclass) of exactly `Length` items, borrowed from it.
template <std::size_t Length>
[[nodiscard]] std::array<PyObject*, Length> tuple_items(PyObject* object);

// Throws the 'PyDict' downcast error unless `object` is a dict (or subclass).
void expect_dict(PyObject* object);

// Calls visit(key, value) with strong references for every entry of a dict, in dict
// order. Conversions may run Python code that mutates the dict, so the size is
// re-checked before each step, as Python's own dict iterator does.
template <typename Visit>
void for_each_dict_entry(PyObject* dict, Visit&& visit);

// ---------------------------------------------------------------------------

[[noreturn]] void raise_tuple_length_error(std::size_t expected, Py_ssize_t actual);

template <std::size_t Length>
std::array<PyObject*, Length> tuple_items(PyObject* object) {
    if (!PyTuple_Check(object)) {
        raise_downcast_error(object, "PyTuple");
    }
    const Py_ssize_t size = PyTuple_GET_SIZE(object);
    if (size != static_cast<Py_ssize_t>(Length)) {
        raise_tuple_length_error(Length, size);
    }
    std::array<PyObject*, Length> items{};
    for (std::size_t i = 0; i < Length; ++i) {
        items[i] = PyTuple_GET_ITEM(object, static_cast<Py_ssize_t>(i));
    }
    return items;
}

template <typename Visit>
void for_each_dict_entry(PyObject* dict, Visit&& visit) {
    const Py_ssize_t start_size = PyDict_Size(dict);
    Py_ssize_t remaining = start_size;
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    for (;;) {
        if (PyDict_Size(dict) != start_size) {
            throw Abort("dictionary changed size during iteration");
        }
        if (remaining == -1) {
            throw Abort("dictionary keys changed during iteration");
        }
        if (!PyDict_Next(dict, &position, &key, &value)) {
            return;
        }
        --remaining;
        visit(PyRef::new_reference(key), PyRef::new_reference(value));
    }
}

}  // namespace ntpepmap::module
