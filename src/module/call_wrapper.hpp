#pragma once

#include "module/arguments.hpp"
#include "module/errors.hpp"
#include "module/py_ref.hpp"

#include <array>
#include <new>
#include <span>
#include <source_location>
#include <stdexcept>
#include <string_view>

namespace ntpepmap::module {

// Remembers which parameter is being converted, so that a conversion failure can
// be reported under that parameter's name by the one place that catches.
class ArgumentConversion {
public:
    template <typename Convert>
    auto operator()(std::string_view parameter, Convert&& convert, PyObject* argument) {
        parameter_ = parameter;
        auto value = convert(argument);
        parameter_ = {};
        return value;
    }

    [[nodiscard]] std::string_view failed_parameter() const noexcept { return parameter_; }

private:
    std::string_view parameter_;
};

// Runs `body(conversion)` and turns its outcome into the CPython return convention:
// a new reference, or nullptr with the Python error set. No C++ exception gets out.
template <typename Body>
PyObject* guarded_call(Body&& body) noexcept {
    ArgumentConversion conversion;
    try {
        return body(conversion).release();
    } catch (const PythonErrorSet&) {
        if (!conversion.failed_parameter().empty()) {
            restore_exception(argument_extraction_error(conversion.failed_parameter(), fetch_exception()));
        }
    } catch (const Abort& abort) {
        report_abort(abort.message(), abort.where());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& failure) {
        report_abort(failure.what(), std::source_location::current());
    } catch (...) {
        report_abort({}, std::source_location::current());
    }
    return nullptr;
}

// Matches a fast call's arguments to the description's parameters and runs
// body(slots, conversion) under guarded_call.
template <const FunctionDescription& Description, typename Body>
PyObject* matched_call(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames, Body&& body) noexcept {
    return guarded_call([&](ArgumentConversion& conversion) {
        std::array<PyObject*, Description.parameter_count()> slots{};
        extract_arguments_fastcall(Description, args, nargs, kwnames, slots);
        return body(std::span<PyObject* const>(slots), conversion);
    });
}

using FastCallWithKeywords = PyObject* (*)(PyObject*, PyObject* const*, Py_ssize_t, PyObject*) noexcept;

// PyMethodDef stores every calling convention under the one PyCFunction type;
// METH_FASTCALL | METH_KEYWORDS tells CPython which signature is really there.
inline PyCFunction as_method(FastCallWithKeywords function) noexcept {
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace ntpepmap::module
