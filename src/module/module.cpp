// The module object and its entry point.
#include "module/call_wrapper.hpp"
#include "module/errors.hpp"
#include "module/functions.hpp"
#include "module/py_ref.hpp"

#include <atomic>
#include <string>

namespace ntpepmap::module {
namespace {

constexpr int MODULE_API_VERSION = 1013;

PyModuleDef MODULE_DEFINITION = {
    PyModuleDef_HEAD_INIT,
    "ntpepmap",  // m_name
    "",          // m_doc
    0,           // m_size: no per-module state
    nullptr,     // m_methods: added after creation, see add_function
    nullptr,     // m_slots
    nullptr,     // m_traverse
    nullptr,     // m_clear
    nullptr,     // m_free
};

// Single-phase init keeps process-wide state, so a second module object
// (re-import after removal from sys.modules, a sub-interpreter) is refused.
std::atomic<bool> module_initialised{false};

// The module's __all__ list, created when the module has none yet.
PyRef all_list(PyObject* module) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (all.is_null()) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            throw_python_error();
        }
        PyErr_Clear();
        all = checked(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) {
            throw_python_error();
        }
        return all;
    }
    if (!PyList_Check(all.get())) {
        raise_downcast_error(all.get(), "PyList");
    }
    return all;
}

[[noreturn]] void abort_append_failure() {
    std::string message = "could not append __name__ to __all__";
    PyRef error = PyRef::steal(PyObject_Str(fetch_exception().get()));
    Py_ssize_t size = 0;
    const char* text = error.is_null() ? nullptr : PyUnicode_AsUTF8AndSize(error.get(), &size);
    PyErr_Clear();
    if (text != nullptr) {
        message += ": ";
        message.append(text, static_cast<std::size_t>(size));
    }
    throw Abort(std::move(message));
}

void add_function(PyObject* module, PyMethodDef& method) {
    const char* module_name = PyModule_GetName(module);
    if (module_name == nullptr) {
        throw_python_error();
    }
    PyRef module_name_text = checked(PyUnicode_FromString(module_name));
    PyRef function = checked(PyCMethod_New(&method, module, module_name_text.get(), nullptr));
    PyRef function_name = checked(PyObject_GetAttrString(function.get(), "__name__"));
    PyRef all = all_list(module);
    if (PyList_Append(all.get(), function_name.get()) < 0) {
        abort_append_failure();
    }
    if (PyObject_SetAttr(module, function_name.get(), function.get()) < 0) {
        throw_python_error();
    }
}

PyRef create_module() {
    PyRef module = checked(PyModule_Create2(&MODULE_DEFINITION, MODULE_API_VERSION));
    if (module_initialised.exchange(true)) {
        raise(PyExc_ImportError,
              "ntpepmap may only be initialised once per interpreter process; "
              "re-importing it or loading it into a sub-interpreter is not supported");
    }
    for (PyMethodDef& method : module_functions()) {
        add_function(module.get(), method);
    }
    return module;
}

}  // namespace
}  // namespace ntpepmap::module

PyMODINIT_FUNC PyInit_ntpepmap() {
    return ntpepmap::module::guarded_call([](ntpepmap::module::ArgumentConversion&) {
        return ntpepmap::module::create_module();
    });
}
