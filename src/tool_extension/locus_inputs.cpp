#include "tool_extension/locus_inputs.hpp"

#include <string>

#include "module/conversions.hpp"
#include "module/python_text.hpp"
#include "tool_extension/record_set_binding.hpp"

namespace ntpepmap::tool_extension {
namespace {

using module::checked;
using module::PyRef;

// An ASCII str's own bytes; anything else is refused with the record's name.
std::string_view ascii_of(PyObject* text, std::string_view name, const char* what) {
    const std::string whose = what + std::string(" of record ") + std::string(name);
    if (!PyUnicode_Check(text)) module::raise(PyExc_TypeError, whose + " is not a str");
    if (!module::is_ascii_str(text)) module::raise(PyExc_ValueError, whose + " holds letters that are not ASCII");
    return {module::ascii_data(text), static_cast<std::size_t>(PyUnicode_GET_LENGTH(text))};
}

// A record's letters in a record set, which the engine reads only as ASCII.
std::string_view ascii_letters(const reader::RecordSet& set, std::size_t index, std::string_view name,
                               const char* what) {
    if (!set.facts(index).ascii()) {
        module::raise(PyExc_ValueError, what + std::string(" of record ") + std::string(name) +
                                            " holds letters that are not ASCII");
    }
    return set.sequence(index);
}

// The proteins in their set's order, each with the CDS record cds_of names: views into the sets,
// which change no more once made and which the holders keep.
LocusInputs set_inputs(PyObject* proteins, PyObject* cds, PyObject* cds_of) {
    const reader::RecordSet* protein_set = record_set_of(proteins);
    const reader::RecordSet* cds_set = record_set_of(cds);
    if (protein_set == nullptr || cds_set == nullptr) module::raise(PyExc_TypeError, "proteins and cds must be record sets");
    if (!PyList_Check(cds_of) || static_cast<std::size_t>(PyList_GET_SIZE(cds_of)) != protein_set->size()) {
        module::raise(PyExc_TypeError, "cds_of must be a list of one CDS index per protein record");
    }
    LocusInputs inputs;
    inputs.holders.push_back(PyRef::new_reference(proteins));
    inputs.holders.push_back(PyRef::new_reference(cds));
    inputs.records.reserve(protein_set->size());
    for (std::size_t index = 0; index < protein_set->size(); ++index) {
        const std::size_t at = PyLong_AsSize_t(PyList_GET_ITEM(cds_of, static_cast<Py_ssize_t>(index)));
        if (PyErr_Occurred()) module::throw_python_error();
        if (at >= cds_set->size()) module::raise(PyExc_IndexError, "cds_of names a CDS record beyond the set");
        const std::string_view name = protein_set->identifier(index);
        inputs.records.push_back({name, ascii_letters(*protein_set, index, name, "the aligned row"),
                                  ascii_letters(*cds_set, at, name, "the CDS"), cds_set->facts(at).acgt_only()});
    }
    return inputs;
}

}  // namespace

LocusInputs locus_inputs(PyObject* proteins, PyObject* cds, PyObject* cds_of) {
    if (cds_of != nullptr) return set_inputs(proteins, cds, cds_of);
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
