#pragma once

#include <array>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/locus_settings.hpp"
#include "module/call_wrapper.hpp"
#include "module/conversions.hpp"
#include "module/python_text.hpp"
#include "reader/read_error.hpp"

// Every function and method of the tool's extension enters through the public module's door: a
// noexcept METH_FASTCALL | METH_KEYWORDS entry matches its arguments by name, converts them and
// calls its _impl under guarded_call, which turns whatever is thrown into the Python error it
// stands for.
namespace ntpepmap::tool_extension {

using module::as_method;
using module::checked;
using module::described;
using module::PyRef;
using Slots = std::span<PyObject* const>;

// The parts of the module, added in this order: their functions, then their types and names.
void add_reader_functions(PyObject* module);
void add_locus_functions(PyObject* module);
void add_locus_results(PyObject* module);

// The interpreter lock let go for the life of the object, so that native work on several
// threads, and other Python threads, run meanwhile. Nothing of Python is touched until it ends.
class WithoutInterpreterLock {
public:
    WithoutInterpreterLock() noexcept : state_(PyEval_SaveThread()) {}
    WithoutInterpreterLock(const WithoutInterpreterLock&) = delete;
    WithoutInterpreterLock& operator=(const WithoutInterpreterLock&) = delete;
    ~WithoutInterpreterLock() { PyEval_RestoreThread(state_); }

private:
    PyThreadState* state_;
};

// What work() returns, done with the lock let go: it must touch nothing of Python.
template <class Work>
auto without_lock(Work work) {
    const WithoutInterpreterLock unlocked;
    return work();
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

// An int argument of 0 or more; ValueError with the refusal otherwise.
inline std::size_t count_of(PyObject* given, const std::string& refusal) {
    const Py_ssize_t value = ssize_of(given);
    if (value < 0) module::raise(PyExc_ValueError, refusal);
    return static_cast<std::size_t>(value);
}

// Native values as Python objects, one overload per kind, so that results convert alike.
inline PyRef to_python(std::size_t value) { return checked(PyLong_FromSize_t(value)); }
inline PyRef to_python(int value) { return checked(PyLong_FromLong(value)); }
inline PyRef to_python(bool value) { return PyRef::new_reference(value ? Py_True : Py_False); }
inline PyRef to_python(std::string_view utf8) { return module::to_python_str(utf8); }
template <class Item>
PyRef to_python(const std::optional<Item>& value) {
    return value ? to_python(*value) : PyRef::new_reference(Py_None);
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

inline PyRef to_python(const std::vector<std::size_t>& numbers) {
    return new_list(numbers.size(), [&](std::size_t index) { return to_python(numbers[index]); });
}

// A sequence of (str, str) tuples as their UTF-8 texts, which a list copied from it holds
// whatever the caller does meanwhile; TypeError with the refusal for anything else in it.
struct TextPairs {
    PyRef held;
    std::vector<std::pair<std::string_view, std::string_view>> texts;
};

inline TextPairs text_pairs(PyObject* given, const char* refusal) {
    TextPairs pairs{checked(PySequence_List(given)), {}};
    pairs.texts.reserve(static_cast<std::size_t>(PyList_GET_SIZE(pairs.held.get())));
    for (Py_ssize_t index = 0; index < PyList_GET_SIZE(pairs.held.get()); ++index) {
        PyObject* pair = PyList_GET_ITEM(pairs.held.get(), index);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2 || !PyUnicode_Check(PyTuple_GET_ITEM(pair, 0)) ||
            !PyUnicode_Check(PyTuple_GET_ITEM(pair, 1))) {
            module::raise(PyExc_TypeError, refusal);
        }
        pairs.texts.emplace_back(module::borrow_text(PyTuple_GET_ITEM(pair, 0)),
                                 module::borrow_text(PyTuple_GET_ITEM(pair, 1)));
    }
    return pairs;
}

// A reader's refusal as ValueError with its one-line message, never an error of its own.
[[noreturn]] inline void raise_read_error(const reader::ReadError& error) {
    PyErr_SetObject(PyExc_ValueError, replaced_str(error.what()).get());
    throw module::PythonErrorSet{};
}

// The entry of a function or method whose arguments Body(self, slots, convert) converts and
// hands to its _impl: the new reference it returns, or nullptr with the Python error set.
template <const module::FunctionDescription& Description, PyRef (*Body)(PyObject*, Slots, module::ArgumentConversion&)>
PyObject* entry(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return module::matched_call<Description>(args, nargs, kwnames,
                                             [self](Slots slots, module::ArgumentConversion& convert) -> PyRef {
        try {
            return Body(self, slots, convert);
        } catch (const reader::ReadError& error) {
            raise_read_error(error);
        } catch (const engine::SettingError& error) {
            module::raise(PyExc_ValueError, error.what());
        }
    });
}

// The tp_new of a type whose objects only the extension makes: TypeError saying where they come from.
template <const char* Refusal>
PyObject* refuse_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
    return module::guarded_call([](module::ArgumentConversion&) -> PyRef { module::raise(PyExc_TypeError, Refusal); });
}

// Adds the object to the module, which holds it from then on.
inline void add_to_module(PyObject* module, const char* name, PyRef object) {
    if (PyModule_AddObject(module, name, object.get()) != 0) module::throw_python_error();
    (void)object.release();
}

// Makes the type once (it lives as long as the process) and adds it to the module under the
// last part of its name.
inline void add_type(PyObject* module, PyType_Spec& spec, PyTypeObject*& type) {
    if (type == nullptr) type = reinterpret_cast<PyTypeObject*>(checked(PyType_FromSpec(&spec)).release());
    add_to_module(module, std::strrchr(spec.name, '.') + 1, PyRef::new_reference(reinterpret_cast<PyObject*>(type)));
}

}  // namespace ntpepmap::tool_extension
