// The tool's private extension: reader and engine for ntpepmap_cli. The public
// module ntpepmap stays exactly as it is; nothing here is part of its surface.
#include "tool_extension/entry.hpp"
#include "tool_extension/native_text.hpp"
#include "tool_extension/record_set_binding.hpp"
#include "tool_extension/tool_methods.hpp"

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
    using namespace ntpepmap::tool_extension;
    // The method table must outlive every module object made from it.
    static std::vector<PyMethodDef> methods = all_methods();
    static PyModuleDef definition = {
        PyModuleDef_HEAD_INIT, "ntpepmap_cli._native", "Reader and engine of the ntpepmap tool (private).",
        -1, methods.data(), nullptr, nullptr, nullptr, nullptr,
    };
    return ntpepmap::module::guarded_call([](ntpepmap::module::ArgumentConversion&) {
        PyRef module = checked(PyModule_Create(&definition));
        if (!add_engine_types(module.get())) ntpepmap::module::throw_python_error();
        add_record_set_type(module.get());
        add_native_text_type(module.get());
        return module;
    });
}
