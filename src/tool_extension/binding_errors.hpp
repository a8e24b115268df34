#pragma once

#include "module/py_ref.hpp"

#include <string>

// How the tool's extension functions unwind: a Python error is set, then PythonError is thrown
// up to the function's boundary, which returns nullptr.
namespace ntpepmap::tool_extension {

struct PythonError {};

[[noreturn]] inline void fail(PyObject* type, const std::string& message) {
    PyErr_SetString(type, message.c_str());
    throw PythonError{};
}

// A new reference from the C API, or the unwinding when it failed (its error is set).
inline module::PyRef checked(PyObject* made) {
    if (made == nullptr) throw PythonError{};
    return module::PyRef::steal(made);
}

inline module::PyRef checked(module::PyRef made) {
    if (made.is_null()) throw PythonError{};
    return made;
}

}  // namespace ntpepmap::tool_extension
