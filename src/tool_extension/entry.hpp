#pragma once

#include <array>
#include <span>
#include <string>
#include <string_view>

#include "module/call_wrapper.hpp"
#include "module/conversions.hpp"
#include "module/python_text.hpp"
#include "reader/read_error.hpp"

// Every function and method of the tool's extension enters through the public module's door: a
// noexcept METH_FASTCALL | METH_KEYWORDS entry matches its arguments by name, converts them and
// calls its _impl under guarded_call, which turns whatever is thrown into the Python error it
// stands for.
namespace ntpepmap::tool_extension {

using module::checked;
using module::PyRef;
using FastCall = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept;
using Slots = std::span<PyObject* const>;

// A reference made by a C-API call, or the Python error when it failed.
inline PyRef checked(PyRef made) {
    if (made.is_null()) module::throw_python_error();
    return made;
}

// PyMethodDef stores every calling convention under the one PyCFunction type.
inline PyCFunction as_method(FastCall function) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

// A function (a method, given its class) whose parameters may all be given by position or by name.
constexpr module::FunctionDescription described(std::string_view name, std::span<const std::string_view> parameters,
                                                std::size_t required, std::string_view class_name = {}) noexcept {
    return {.function_name = name, .positional_parameter_names = parameters, .positional_only_parameters = 0,
            .required_positional_parameters = required, .keyword_only_parameters = {}, .class_name = class_name};
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

// A str of UTF-8 text in which bytes that are not UTF-8 (in a name from a file) are replaced.
inline PyRef replaced_str(std::string_view utf8) {
    if (module::is_ascii(utf8)) return module::to_python_str(utf8);
    return checked(PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "replace"));
}

// A list of `size` items, make(index) each.
template <class Make>
PyRef new_list(std::size_t size, Make make) {
    PyRef list = checked(PyList_New(static_cast<Py_ssize_t>(size)));
    for (std::size_t index = 0; index < size; ++index) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(index), make(index).release());
    }
    return list;
}

// A reader's refusal as ValueError with its one-line message, never an error of its own.
[[noreturn]] inline void raise_read_error(const reader::ReadError& error) {
    PyErr_SetObject(PyExc_ValueError, replaced_str(error.what()).get());
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

// The entry of a function or method whose arguments Body(self, slots, convert) converts and
// hands to its _impl.
template <const module::FunctionDescription& Description, PyRef (*Body)(PyObject*, Slots, module::ArgumentConversion&)>
PyObject* entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return enter<Description>(args, nargs, kwnames, [self](Slots slots, module::ArgumentConversion& convert) {
        return Body(self, slots, convert);
    });
}

// The tp_new of a type whose objects only the extension makes: TypeError saying where they come from.
template <const char* Refusal>
PyObject* refuse_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
    return module::guarded_call([](module::ArgumentConversion&) -> PyRef { module::raise(PyExc_TypeError, Refusal); });
}

// Makes the type once (it lives as long as the process) and adds it to the module under the
// last part of its name.
inline void add_type(PyObject* module, PyType_Spec& spec, PyTypeObject*& type) {
    if (type == nullptr) type = reinterpret_cast<PyTypeObject*>(checked(PyType_FromSpec(&spec)).release());
    const std::string_view name = spec.name;
    const std::string short_name(name.substr(name.rfind('.') + 1));
    PyRef added = PyRef::new_reference(reinterpret_cast<PyObject*>(type));
    if (PyModule_AddObject(module, short_name.c_str(), added.get()) != 0) module::throw_python_error();
    (void)added.release();  // the module holds it now
}

}  // namespace ntpepmap::tool_extension
