#include "module/result_text.hpp"

#include "module/errors.hpp"
#include "module/python_text.hpp"

#include <algorithm>
#include <cstring>

namespace ntpepmap::module {

ResultText::ResultText(std::size_t estimated_size) {
    // Capacity 0 would be the shared empty str, which must never be written to.
    capacity_ = std::max<std::size_t>(estimated_size, 64);
    ascii_ = checked(PyUnicode_New(static_cast<Py_ssize_t>(capacity_), 127));
}

void ResultText::append(std::string_view utf8) {
    if (!ascii_.is_null() && !is_ascii(utf8)) {
        switch_to_utf8();
    }
    if (ascii_.is_null()) {
        utf8_.append(utf8);
        return;
    }
    reserve_ascii(length_ + utf8.size());
    std::memcpy(ascii_data(ascii_.get()) + length_, utf8.data(), utf8.size());
    length_ += utf8.size();
}

char* ResultText::ascii_room(std::size_t size) {
    if (ascii_.is_null()) return nullptr;
    reserve_ascii(length_ + size);
    return ascii_data(ascii_.get()) + length_;
}

PyRef ResultText::finish() {
    if (ascii_.is_null()) {
        PyRef text = to_python_str(utf8_);
        utf8_ = {};
        return text;
    }
    resize_ascii(length_);
    length_ = capacity_ = 0;
    return std::move(ascii_);
}

void ResultText::reserve_ascii(std::size_t needed) {
    if (needed > capacity_) {
        resize_ascii(std::max(needed, 2 * capacity_));
    }
}

void ResultText::resize_ascii(std::size_t size) {
    // A fresh, unshared str may be resized in place (CPython's own encoders do so).
    PyObject* text = ascii_.release();
    const int status = PyUnicode_Resize(&text, static_cast<Py_ssize_t>(size));
    ascii_ = PyRef::steal(text);  // left valid by a failed resize
    if (status < 0) {
        throw_python_error();
    }
    capacity_ = size;
}

void ResultText::switch_to_utf8() {
    const char* written = ascii_data(ascii_.get());
    utf8_.reserve(capacity_);
    utf8_.assign(written, length_);
    ascii_ = PyRef{};
    length_ = capacity_ = 0;
}

}  // namespace ntpepmap::module
