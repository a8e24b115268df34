#include "module/arguments.hpp"

#include "module/errors.hpp"

#include <string>
#include <vector>

namespace ntpepmap::module {
namespace {

std::string full_name(const FunctionDescription& description) {
    std::string name;
    if (!description.class_name.empty()) {
        name.append(description.class_name);
        name += '.';
    }
    name.append(description.function_name);
    name += "()";
    return name;
}

[[noreturn]] void raise_too_many_positional(const FunctionDescription& description, Py_ssize_t given) {
    raise(PyExc_TypeError, full_name(description) + " takes " +
                               std::to_string(description.positional_parameter_names.size()) +
                               " positional arguments but " + std::to_string(given) + " were given");
}

[[noreturn]] void raise_unexpected_keyword(const FunctionDescription& description, PyObject* keyword) {
    // %S formats with str(), which also copes with names that have no UTF-8 form.
    const std::string name = full_name(description);
    PyRef message =
        checked(PyUnicode_FromFormat("%s got an unexpected keyword argument '%S'", name.c_str(), keyword));
    PyErr_SetObject(PyExc_TypeError, message.get());
    throw PythonErrorSet{};
}

[[noreturn]] void raise_multiple_values(const FunctionDescription& description, std::string_view parameter) {
    std::string message = full_name(description) + " got multiple values for argument '";
    message.append(parameter);
    message += "'";
    raise(PyExc_TypeError, message);
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'.
std::string quoted_name_list(std::span<const std::string_view> names) {
    std::string list;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            list += names.size() > 2 ? ", " : " ";
            if (i + 1 == names.size()) {
                list += "and ";
            }
        }
        list += '\'';
        list.append(names[i]);
        list += '\'';
    }
    return list;
}

void check_required_positionals(const FunctionDescription& description, Py_ssize_t nargs,
                                std::span<PyObject* const> slots) {
    const std::size_t required = description.required_positional_parameters;
    if (static_cast<std::size_t>(nargs) >= required) {
        return;
    }
    std::vector<std::string_view> missing;
    for (std::size_t i = 0; i < required; ++i) {
        if (slots[i] == nullptr) {
            missing.push_back(description.positional_parameter_names[i]);
        }
    }
    if (missing.empty()) {
        return;
    }
    raise(PyExc_TypeError, full_name(description) + " missing " + std::to_string(missing.size()) +
                               " required positional " + (missing.size() == 1 ? "argument" : "arguments") + ": " +
                               quoted_name_list(missing));
}

std::string_view parameter_name(const FunctionDescription& description, std::size_t slot) noexcept {
    const auto positional = description.positional_parameter_names;
    return slot < positional.size() ? positional[slot] : description.keyword_only_parameters[slot - positional.size()];
}

// Slot index of the parameter called `name`, or -1. Positional-only names cannot be keywords.
std::ptrdiff_t keyword_slot(const FunctionDescription& description, std::string_view name) noexcept {
    const auto positional = description.positional_parameter_names;
    for (std::size_t i = description.positional_only_parameters; i < positional.size(); ++i) {
        if (positional[i] == name) {
            return static_cast<std::ptrdiff_t>(i);
        }
    }
    const auto keyword_only = description.keyword_only_parameters;
    for (std::size_t i = 0; i < keyword_only.size(); ++i) {
        if (keyword_only[i] == name) {
            return static_cast<std::ptrdiff_t>(positional.size() + i);
        }
    }
    return -1;
}

std::ptrdiff_t keyword_slot(const FunctionDescription& description, PyObject* keyword) {
    if (!PyUnicode_Check(keyword)) {
        raise_downcast_error(keyword, "PyString");
    }
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(keyword, &size);
    if (utf8 == nullptr) {
        PyErr_Clear();  // no UTF-8 form: cannot name any parameter
        return -1;
    }
    return keyword_slot(description, std::string_view(utf8, static_cast<std::size_t>(size)));
}

}  // namespace

void extract_arguments_fastcall(const FunctionDescription& description, PyObject* const* args, Py_ssize_t nargs,
                                PyObject* kwnames, std::span<PyObject*> slots) {
    const std::size_t positional_count = description.positional_parameter_names.size();
    if (static_cast<std::size_t>(nargs) > positional_count) {
        raise_too_many_positional(description, nargs);
    }
    for (Py_ssize_t i = 0; i < nargs; ++i) {
        slots[static_cast<std::size_t>(i)] = args[i];
    }
    const Py_ssize_t keyword_count = kwnames == nullptr ? 0 : PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t i = 0; i < keyword_count; ++i) {
        PyObject* keyword = PyTuple_GET_ITEM(kwnames, i);
        const std::ptrdiff_t slot = keyword_slot(description, keyword);
        if (slot < 0) {
            raise_unexpected_keyword(description, keyword);
        }
        PyObject*& target = slots[static_cast<std::size_t>(slot)];
        if (target != nullptr) {
            raise_multiple_values(description, parameter_name(description, static_cast<std::size_t>(slot)));
        }
        target = args[nargs + i];
    }
    check_required_positionals(description, nargs, slots);
}

PyRef fetch_exception() noexcept {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (type == nullptr) {
        return {};
    }
    PyErr_NormalizeException(&type, &value, &traceback);
    PyRef owned_type = PyRef::steal(type);
    PyRef owned_traceback = PyRef::steal(traceback);
    PyRef owned_value = PyRef::steal(value);
    if (!owned_traceback.is_null() && !owned_value.is_null()) {
        PyException_SetTraceback(owned_value.get(), owned_traceback.get());
    }
    return owned_value;
}

void restore_exception(PyRef exception) noexcept {
    if (exception.is_null()) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
        return;
    }
    PyObject* type = reinterpret_cast<PyObject*>(Py_TYPE(exception.get()));
    Py_INCREF(type);
    PyObject* traceback = PyException_GetTraceback(exception.get());
    PyErr_Restore(type, exception.release(), traceback);
}

PyRef argument_extraction_error(std::string_view parameter, PyRef error) noexcept {
    if (error.is_null() || Py_TYPE(error.get()) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
        return error;
    }
    PyRef name = PyRef::steal(PyUnicode_FromStringAndSize(parameter.data(), static_cast<Py_ssize_t>(parameter.size())));
    PyRef message =
        name.is_null() ? PyRef{} : PyRef::steal(PyUnicode_FromFormat("argument '%U': %S", name.get(), error.get()));
    PyRef replacement =
        message.is_null() ? PyRef{} : PyRef::steal(PyObject_CallOneArg(PyExc_TypeError, message.get()));
    if (replacement.is_null()) {
        return fetch_exception();  // the failure to build it is what gets raised
    }
    if (PyObject* cause = PyException_GetCause(error.get())) {
        PyException_SetCause(replacement.get(), cause);  // steals the new reference
    }
    return replacement;
}

}  // namespace ntpepmap::module
