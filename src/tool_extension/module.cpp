// The tool's private extension: reader and engine for ntpepmap_cli. The public
// module ntpepmap stays exactly as it is; nothing here is part of its surface.
#include "tool_extension/tool_methods.hpp"
#include "tool_extension/native_text.hpp"
#include "tool_extension/record_set_binding.hpp"

#include <vector>

namespace ntpepmap::tool_extension {
namespace {

std::vector<PyMethodDef> all_methods() {
    std::vector<PyMethodDef> methods;
    for (const auto part : {reader_methods(), engine_methods()}) {
        methods.insert(methods.end(), part.begin(), part.end());
    }
    methods.push_back(PyMethodDef{nullptr, nullptr, 0, nullptr});
    return methods;
}

}  // namespace
}  // namespace ntpepmap::tool_extension

PyMODINIT_FUNC PyInit__native() {
    // The method table must outlive every module object made from it.
    static std::vector<PyMethodDef> methods = ntpepmap::tool_extension::all_methods();
    static PyModuleDef definition = {
        PyModuleDef_HEAD_INIT, "ntpepmap_cli._native", "Reader and engine of the ntpepmap tool (private).",
        -1, methods.data(), nullptr, nullptr, nullptr, nullptr,
    };
    PyObject* module = PyModule_Create(&definition);
    if (module != nullptr && (!ntpepmap::tool_extension::add_engine_types(module) ||
                              !ntpepmap::tool_extension::add_record_set_type(module) ||
                              !ntpepmap::tool_extension::add_native_text_type(module))) {
        Py_CLEAR(module);
    }
    return module;
}
