#pragma once

#include "module/py_ref.hpp"

#include <source_location>
#include <string>
#include <string_view>

namespace ntpepmap::module {

// Thrown once the Python error indicator holds the exception to report.
struct PythonErrorSet {};

// An unrecoverable failure of native code; reaches Python as PanicException.
class Abort {
public:
    explicit Abort(std::string message, std::source_location where = std::source_location::current())
        : message_(std::move(message)), where_(where) {}

    [[nodiscard]] const std::string& message() const noexcept { return message_; }
    [[nodiscard]] const std::source_location& where() const noexcept { return where_; }

private:
    std::string message_;
    std::source_location where_;
};

// Throws PythonErrorSet; a C-API failure that forgot to set an error becomes SystemError.
[[noreturn]] void throw_python_error();

// Adopts a new reference returned by the C API, throwing if the call failed.
[[nodiscard]] inline PyRef checked(PyObject* new_reference) {
    if (new_reference == nullptr) {
        throw_python_error();
    }
    return PyRef::steal(new_reference);
}

// Sets `type(message)` as the current error and throws PythonErrorSet.
[[noreturn]] void raise(PyObject* exception_type, std::string_view message);

// The `__qualname__` of the object's type, or a stand-in when it is not readable as str.
[[nodiscard]] std::string type_name(PyObject* object);

// "'{type}' object cannot be converted to '{target}'" as TypeError.
[[noreturn]] void raise_downcast_error(PyObject* object, std::string_view target);

// Sets PanicException(message) as the current error and writes a diagnostic naming
// `where` to standard error.
void report_abort(std::string_view message, const std::source_location& where) noexcept;

}  // namespace ntpepmap::module
