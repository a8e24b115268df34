#include "module/conversions.hpp"

#include <algorithm>
#include <limits>

namespace ntpepmap::module {
namespace {

// A sequence's reported length only sizes the first allocation; a lying __len__
// must not be able to demand gigabytes up front.
constexpr Py_ssize_t MAX_LIST_RESERVATION = 1 << 12;

}  // namespace

std::string_view borrow_text(PyObject* object) {
    if (!PyUnicode_Check(object)) {
        raise_downcast_error(object, "PyString");
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(object, &size);
    if (utf8 == nullptr) {
        throw_python_error();
    }
    return {utf8, static_cast<std::size_t>(size)};
}

std::int32_t to_int32(PyObject* object) {
    PyRef index = checked(PyNumber_Index(object));
    const long value = PyLong_AsLong(index.get());
    if (value == -1 && PyErr_Occurred()) {
        throw_python_error();
    }
    if (value < std::numeric_limits<std::int32_t>::min() || value > std::numeric_limits<std::int32_t>::max()) {
        raise(PyExc_OverflowError, "out of range integral type conversion attempted");
    }
    return static_cast<std::int32_t>(value);
}

char32_t to_char(PyObject* object) {
    // The UTF-8 form first, so that a lone surrogate fails like any other text.
    static_cast<void>(borrow_text(object));
    if (PyUnicode_GET_LENGTH(object) != 1) {
        raise(PyExc_ValueError, "expected a string of length 1");
    }
    return static_cast<char32_t>(PyUnicode_READ_CHAR(object, 0));
}

std::vector<std::string> to_text_list(PyObject* object) {
    if (PyUnicode_Check(object)) {
        raise(PyExc_ValueError, "Can't extract `str` to `Vec`");
    }
    if (!PySequence_Check(object)) {
        raise_downcast_error(object, "Sequence");
    }
    std::vector<std::string> texts;
    const Py_ssize_t reported_length = PySequence_Size(object);
    if (reported_length < 0) {
        PyErr_Clear();
    } else {
        texts.reserve(static_cast<std::size_t>(std::min(reported_length, MAX_LIST_RESERVATION)));
    }
    PyRef iterator = checked(PyObject_GetIter(object));
    while (PyObject* next = PyIter_Next(iterator.get())) {
        PyRef item = PyRef::steal(next);
        texts.emplace_back(borrow_text(item.get()));
    }
    if (PyErr_Occurred()) {
        throw_python_error();
    }
    return texts;
}

void expect_dict(PyObject* object) {
    if (!PyDict_Check(object)) {
        raise_downcast_error(object, "PyDict");
    }
}

void raise_tuple_length_error(std::size_t expected, Py_ssize_t actual) {
    raise(PyExc_ValueError, "expected tuple of length " + std::to_string(expected) + ", but got tuple of length " +
                                std::to_string(actual));
}

}  // namespace ntpepmap::module
