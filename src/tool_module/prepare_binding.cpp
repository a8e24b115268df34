// The prepare step from Python: each protein row with its CDS, made ready for the engine.
// A Python loop over the records cost a large locus more than back-translating it.
#include <algorithm>
#include <array>
#include <cstddef>

#include "module/py_ref.hpp"
#include "tool_module/binding_errors.hpp"
#include "module/python_text.hpp"
#include "tool_module/tool_methods.hpp"

namespace ntpepmap::tool_module {
namespace {

using module::PyRef;

constexpr Py_ssize_t TRIPLET = 3;

// (identifier, sequence) of a record list, both str; borrowed.
std::pair<PyObject*, PyObject*> record_at(PyObject* records, Py_ssize_t index) {
    PyObject* record = PyList_GET_ITEM(records, index);
    if (!PyTuple_Check(record) || PyTuple_GET_SIZE(record) != 2 || !PyUnicode_Check(PyTuple_GET_ITEM(record, 0)) ||
        !PyUnicode_Check(PyTuple_GET_ITEM(record, 1))) {
        fail(PyExc_TypeError, "records must be (identifier, sequence) tuples of str");
    }
    return {PyTuple_GET_ITEM(record, 0), PyTuple_GET_ITEM(record, 1)};
}

bool holds(PyObject* text, Py_UCS4 letter) {
    const Py_ssize_t found = PyUnicode_FindChar(text, letter, 0, PyUnicode_GET_LENGTH(text), 1);
    if (found == -2) throw PythonError{};
    return found >= 0;
}

Py_ssize_t residue_count(PyObject* row) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(row);
    if (PyUnicode_KIND(row) == PyUnicode_1BYTE_KIND) {
        const auto* letters = static_cast<const Py_UCS1*>(module::str_data(row));
        return length - std::count(letters, letters + length, '-');
    }
    const int kind = PyUnicode_KIND(row);
    const void* data = module::str_data(row);
    Py_ssize_t gaps = 0;
    for (Py_ssize_t i = 0; i < length; ++i) gaps += PyUnicode_READ(kind, data, i) == '-';
    return length - gaps;
}

PyRef without(PyObject* text, const char* letter) {
    const PyRef pattern = checked(PyUnicode_FromString(letter));
    const PyRef empty = checked(PyUnicode_FromString(""));
    return checked(PyUnicode_Replace(text, pattern.get(), empty.get(), -1));
}

// Whether the last triplet, read as the codon check reads it (upper case, U as T), is in stops.
bool ends_in_stop(PyObject* cds, PyObject* stops) {
    const Py_ssize_t length = PyUnicode_GET_LENGTH(cds);
    std::array<char, TRIPLET> codon{};
    for (Py_ssize_t i = 0; i < TRIPLET; ++i) {
        const Py_UCS4 letter = PyUnicode_READ_CHAR(cds, length - TRIPLET + i);
        if (letter >= 128) return false;  // upper-cases to no codon letter
        char upper = static_cast<char>(letter >= 'a' && letter <= 'z' ? letter - ('a' - 'A') : letter);
        codon[static_cast<std::size_t>(i)] = upper == 'U' ? 'T' : upper;
    }
    const PyRef text = checked(PyUnicode_FromStringAndSize(codon.data(), TRIPLET));
    const int found = PySet_Contains(stops, text.get());
    if (found < 0) throw PythonError{};
    return found == 1;
}

// The CDS without gap letters, without a terminal stop codon when trim_stop.
PyRef prepared_cds(PyObject* cds, Py_ssize_t residues, PyObject* stops, bool trim_stop) {
    PyRef prepared = PyRef::new_reference(cds);
    if (holds(cds, '-')) prepared = without(prepared.get(), "-");
    if (holds(prepared.get(), '.')) prepared = without(prepared.get(), ".");
    const Py_ssize_t length = PyUnicode_GET_LENGTH(prepared.get());
    if (trim_stop && length == TRIPLET * residues + TRIPLET && ends_in_stop(prepared.get(), stops)) {
        prepared = checked(PyUnicode_Substring(prepared.get(), 0, length - TRIPLET));
    }
    return prepared;
}

void append(PyObject* list, const PyRef& item) {
    if (PyList_Append(list, item.get()) != 0) throw PythonError{};
}

PyObject* prepare_pairs(PyObject*, PyObject* const* args, Py_ssize_t count) {
    try {
        if (count != 4) fail(PyExc_TypeError, "prepare_pairs(proteins, cds, stops, trim_stop) takes 4 arguments");
        PyObject* proteins = args[0];
        PyObject* cds = args[1];
        if (!PyList_Check(proteins) || !PyList_Check(cds) || PyList_GET_SIZE(cds) < PyList_GET_SIZE(proteins)) {
            fail(PyExc_TypeError, "proteins and cds must be lists, cds at least as long");
        }
        if (!PyAnySet_Check(args[2])) fail(PyExc_TypeError, "stops must be a set of codons");
        const int trim_stop = PyObject_IsTrue(args[3]);
        if (trim_stop < 0) throw PythonError{};
        PyRef pairs = checked(PyList_New(0));
        PyRef short_ones = checked(PyList_New(0));
        const PyRef emptied = checked(PyUnicode_FromString(""));
        for (Py_ssize_t index = 0; index < PyList_GET_SIZE(proteins); ++index) {
            const auto [ident, row] = record_at(proteins, index);
            const PyRef given = PyRef::new_reference(record_at(cds, index).second);
            // The prepared copy replaces the given one: never hold both for long.
            PyList_SetItem(cds, index, checked(PyTuple_Pack(2, ident, emptied.get())).release());
            const Py_ssize_t residues = residue_count(row);
            const PyRef prepared = prepared_cds(given.get(), residues, args[2], trim_stop == 1);
            if (PyUnicode_GET_LENGTH(prepared.get()) < TRIPLET * residues) {
                append(short_ones.get(), checked(Py_BuildValue("(nOOO)", index, ident, row, prepared.get())));
            } else {
                append(pairs.get(), checked(PyTuple_Pack(3, ident, row, prepared.get())));
            }
        }
        return PyTuple_Pack(2, pairs.get(), short_ones.get());
    } catch (const PythonError&) {
        return nullptr;
    }
}

constexpr char PREPARE_PAIRS_DOC[] =
    "prepare_pairs(proteins, cds, stops, trim_stop)\n--\n\n"
    "Pairs for the engine from the (identifier, row) protein records and the (identifier, CDS) record of\n"
    "each, in the same order: the CDS without '-' and '.', and, with trim_stop, without a last triplet\n"
    "that is one of stops (upper-case codons) when it is one triplet longer than the residues need.\n"
    "Empties the CDS of each entry of cds as it goes. Returns (pairs, short): (identifier, row, CDS)\n"
    "for each record, but (index, identifier, row, CDS) in short for those with too few nucleotides.";

const PyMethodDef PREPARE_METHODS[] = {
    {"prepare_pairs", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(prepare_pairs)), METH_FASTCALL,
     PREPARE_PAIRS_DOC},
};

}  // namespace

std::span<const PyMethodDef> prepare_methods() noexcept { return PREPARE_METHODS; }

}  // namespace ntpepmap::tool_module
