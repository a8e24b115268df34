#pragma once

#include "module/py_ref.hpp"

#include <cstddef>
#include <span>
#include <string_view>

namespace ntpepmap::module {

// The parameter list of one Python-callable function, matched by name bytes.
struct FunctionDescription {
    std::string_view function_name;
    std::span<const std::string_view> positional_parameter_names;
    std::size_t positional_only_parameters = 0;
    std::size_t required_positional_parameters = 0;
    std::span<const std::string_view> keyword_only_parameters;
    std::string_view class_name;  // empty: a module-level function

    [[nodiscard]] constexpr std::size_t parameter_count() const noexcept {
        return positional_parameter_names.size() + keyword_only_parameters.size();
    }
};

// A function (a method, given its class) whose parameters may all be given by position or by name.
constexpr FunctionDescription described(std::string_view name, std::span<const std::string_view> parameters,
                                        std::size_t required, std::string_view class_name = {}) noexcept {
    return {.function_name = name, .positional_parameter_names = parameters, .positional_only_parameters = 0,
            .required_positional_parameters = required, .keyword_only_parameters = {}, .class_name = class_name};
}

// Fills `slots` (positional parameters, then keyword-only ones; borrowed references,
// nullptr when not given) from a fast-call argument vector whose keyword values follow
// the positional ones. Throws PythonErrorSet with the matching TypeError.
void extract_arguments_fastcall(const FunctionDescription& description, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames, std::span<PyObject*> slots);

// The exception to raise for a failed conversion of `parameter`: an exact TypeError gains
// the "argument '{parameter}': " prefix and keeps its cause; anything else is returned as is.
[[nodiscard]] PyRef argument_extraction_error(std::string_view parameter, PyRef error) noexcept;

// Takes the pending exception out of the error indicator as a normalised instance.
[[nodiscard]] PyRef fetch_exception() noexcept;
// Makes `exception` (an instance) the pending exception.
void restore_exception(PyRef exception) noexcept;

}  // namespace ntpepmap::module
