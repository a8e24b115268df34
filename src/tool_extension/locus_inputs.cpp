#include "tool_extension/locus_inputs.hpp"

#include <string>

#include "module/conversions.hpp"
#include "module/python_text.hpp"

namespace ntpepmap::tool_extension {
namespace {

using module::checked;

// An ASCII str's own bytes; anything else is refused with the record's name.
std::string_view ascii_of(PyObject* text, std::string_view name, const char* what) {
    const std::string whose = what + std::string(" of record ") + std::string(name);
    if (!PyUnicode_Check(text)) module::raise(PyExc_TypeError, whose + " is not a str");
    if (!module::is_ascii_str(text)) module::raise(PyExc_ValueError, whose + " holds letters that are not ASCII");
    return {module::ascii_data(text), static_cast<std::size_t>(PyUnicode_GET_LENGTH(text))};
}

}  // namespace

LocusInputs locus_inputs(PyObject* proteins, PyObject* cds) {
    if (!PyList_Check(proteins) || !PyList_Check(cds) || PyList_GET_SIZE(proteins) != PyList_GET_SIZE(cds)) {
        module::raise(PyExc_TypeError, "proteins and cds must be lists of the same length");
    }
    LocusInputs inputs;
    PyObject* const pairs = inputs.holders.emplace_back(checked(PyList_GetSlice(proteins, 0, PY_SSIZE_T_MAX))).get();
    PyObject* const sequences = inputs.holders.emplace_back(checked(PyList_GetSlice(cds, 0, PY_SSIZE_T_MAX))).get();
    inputs.records.reserve(static_cast<std::size_t>(PyList_GET_SIZE(pairs)));
    for (Py_ssize_t index = 0; index < PyList_GET_SIZE(pairs); ++index) {
        PyObject* record = PyList_GET_ITEM(pairs, index);
        if (!PyTuple_Check(record) || PyTuple_GET_SIZE(record) != 2) {
            module::raise(PyExc_TypeError, "proteins must hold (identifier, row) tuples");
        }
        const std::string_view name = module::borrow_text(PyTuple_GET_ITEM(record, 0));
        inputs.records.push_back({name, ascii_of(PyTuple_GET_ITEM(record, 1), name, "the aligned row"),
                                  ascii_of(PyList_GET_ITEM(sequences, index), name, "the CDS")});
    }
    return inputs;
}

}  // namespace ntpepmap::tool_extension
