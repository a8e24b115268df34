#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace ntpepmap::module {

// Owns exactly one strong reference to a Python object (or nothing).
// Move-only; every transfer of ownership is spelled out at the call site:
// `steal` adopts a reference the caller already owns, `new_reference` takes a
// fresh one, `release` hands the reference back to the C API.
class PyRef {
public:
    PyRef() noexcept = default;

    [[nodiscard]] static PyRef steal(PyObject* owned) noexcept { return PyRef(owned); }
    [[nodiscard]] static PyRef new_reference(PyObject* borrowed) noexcept {
        Py_XINCREF(borrowed);
        return PyRef(borrowed);
    }

    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) {
            PyObject* old = std::exchange(object_, std::exchange(other.object_, nullptr));
            Py_XDECREF(old);
        }
        return *this;
    }
    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    ~PyRef() { Py_XDECREF(object_); }

    [[nodiscard]] PyObject* get() const noexcept { return object_; }
    [[nodiscard]] PyObject* release() noexcept { return std::exchange(object_, nullptr); }
    [[nodiscard]] bool is_null() const noexcept { return object_ == nullptr; }

private:
    explicit PyRef(PyObject* owned) noexcept : object_(owned) {}

    PyObject* object_ = nullptr;
};

}  // namespace ntpepmap::module
