// The tool's private extension: reader and engine for ntpepmap_cli. The public
// module ntpepmap stays exactly as it is; nothing here is part of its surface.
#include "tool_extension/locus_results.hpp"
#include "tool_extension/record_set_binding.hpp"

PyMODINIT_FUNC PyInit__native() {
    using namespace ntpepmap::tool_extension;
    static PyModuleDef definition = {
        PyModuleDef_HEAD_INIT, "ntpepmap_cli._native", "Reader and engine of the ntpepmap tool (private).",
        -1, nullptr, nullptr, nullptr, nullptr, nullptr,
    };
    return ntpepmap::module::guarded_call([](ntpepmap::module::ArgumentConversion&) {
        PyRef module = checked(PyModule_Create(&definition));
        add_reader_functions(module.get());
        add_locus_functions(module.get());
        add_locus_results(module.get());
        add_record_set_type(module.get());
        add_native_text_type(module.get());
        return module;
    });
}
