#include "module/errors.hpp"

#include <cstdio>

namespace ntpepmap::module {
namespace {

constexpr const char* PANIC_EXCEPTION_NAME = "natbind_runtime.PanicException";
constexpr const char* PANIC_EXCEPTION_DOC =
    "The exception raised when native code of ntpepmap aborts an operation.\n\n"
    "Like SystemExit, it derives from BaseException rather than Exception, so it\n"
    "usually propagates to the top of the program unless it is caught explicitly.";
constexpr std::string_view GENERIC_ABORT_MESSAGE = "native code aborted without a message";

// Kept for the rest of the process once created; only touched with the GIL held.
PyObject* panic_exception_type = nullptr;

PyObject* panic_exception() noexcept {
    if (panic_exception_type == nullptr) {
        PyObject* created = PyErr_NewExceptionWithDoc(PANIC_EXCEPTION_NAME, PANIC_EXCEPTION_DOC,
                                                       PyExc_BaseException, nullptr);
        if (created == nullptr) {
            return nullptr;
        }
        // Creating a class can run Python code; whoever stored first wins.
        PyRef owned = PyRef::steal(created);
        if (panic_exception_type == nullptr) {
            panic_exception_type = owned.release();
        }
    }
    return panic_exception_type;
}

}  // namespace

void throw_python_error() {
    if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
    throw PythonErrorSet{};
}

void raise(PyObject* exception_type, std::string_view message) {
    PyRef text = checked(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    PyErr_SetObject(exception_type, text.get());
    throw PythonErrorSet{};
}

std::string type_name(PyObject* object) {
    PyRef name = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
    if (!name.is_null() && PyUnicode_Check(name.get())) {
        Py_ssize_t size = 0;
        if (const char* utf8 = PyUnicode_AsUTF8AndSize(name.get(), &size)) {
            return std::string(utf8, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();
    return "<failed to extract type name>";
}

void raise_downcast_error(PyObject* object, std::string_view target) {
    std::string message = "'";
    message += type_name(object);
    message += "' object cannot be converted to '";
    message.append(target);
    message += "'";
    raise(PyExc_TypeError, message);
}

void report_abort(std::string_view message, const std::source_location& where) noexcept {
    if (message.empty()) {
        message = GENERIC_ABORT_MESSAGE;
    }
    std::fprintf(stderr, "ntpepmap: native code aborted at %s:%u: %.*s\n", where.file_name(),
                 static_cast<unsigned>(where.line()), static_cast<int>(message.size()), message.data());
    std::fflush(stderr);

    PyObject* type = panic_exception();
    if (type == nullptr) {
        return;  // the failure to create the class is the error left set
    }
    PyRef text = PyRef::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (!text.is_null()) {
        PyErr_SetObject(type, text.get());
    }
}

}  // namespace ntpepmap::module
