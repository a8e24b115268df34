#pragma once

#include <array>
#include <span>
#include <string_view>

#include "module/call_wrapper.hpp"
#include "module/conversions.hpp"
#include "reader/read_error.hpp"

// Every function of the tool's extension enters through the public module's door: a noexcept
// METH_FASTCALL | METH_KEYWORDS entry matches its arguments by name, converts them and calls its
// _impl under guarded_call, which turns whatever is thrown into the Python error it stands for.
namespace ntpepmap::tool_extension {

using module::checked;
using module::PyRef;
using FastCall = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept;

// A reference made by a C-API call, or the Python error when it failed.
inline PyRef checked(PyRef made) {
    if (made.is_null()) module::throw_python_error();
    return made;
}

// PyMethodDef stores every calling convention under the one PyCFunction type.
inline PyCFunction as_method(FastCall function) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// A module-level function whose parameters may all be given by position or by name.
constexpr module::FunctionDescription described(std::string_view name, std::span<const std::string_view> parameters,
                                                std::size_t required) noexcept {
    return {.function_name = name, .positional_parameter_names = parameters, .positional_only_parameters = 0,
            .required_positional_parameters = required, .keyword_only_parameters = {}, .class_name = {}};
}

// An argument's truth, as Python reads it.
inline bool truth_of(PyObject* given) {
    const int truth = PyObject_IsTrue(given);
    if (truth < 0) module::throw_python_error();
    return truth == 1;
}

// An int argument.
inline Py_ssize_t ssize_of(PyObject* given) {
    const Py_ssize_t value = PyLong_AsSsize_t(given);
    if (value == -1 && PyErr_Occurred()) module::throw_python_error();
    return value;
}

// A reader's refusal as ValueError with its one-line message: a name in it that is not UTF-8 is
// replaced, never an error of its own.
[[noreturn]] inline void raise_read_error(const reader::ReadError& error) {
    const std::string_view message = error.what();
    const auto length = static_cast<Py_ssize_t>(message.size());
    const PyRef text = checked(PyUnicode_DecodeUTF8(message.data(), length, "replace"));
    PyErr_SetObject(PyExc_ValueError, text.get());
    throw module::PythonErrorSet{};
}

// Runs body(slots, convert) on the matched arguments: the new reference it returns, or nullptr
// with the Python error set.
template <const module::FunctionDescription& Description, class Body>
PyObject* enter(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Body&& body) noexcept {
    return module::guarded_call([&](module::ArgumentConversion& convert) -> PyRef {
        std::array<PyObject*, Description.parameter_count()> slots{};
        module::extract_arguments_fastcall(Description, args, nargs, kwnames, slots);
        try {
            return body(slots, convert);
        } catch (const reader::ReadError& error) {
            raise_read_error(error);
        }
    });
}

}  // namespace ntpepmap::tool_extension
