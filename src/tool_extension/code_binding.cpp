// The built-in genetic codes' letters for the tool's Python side, which translates a CDS
// only to tell why its records were left out; the codes themselves stay here.
#include "tool_extension/tool_methods.hpp"

#include <algorithm>

#include "tables/genetic_codes.hpp"

namespace ntpepmap::tool_extension {
namespace {

// code_letters(number) -> str: a built-in code's 64 letters, codons in TCAG order.
PyObject* code_letters(PyObject*, PyObject* number_object) noexcept {
    const long number = PyLong_AsLong(number_object);
    if (number == -1 && PyErr_Occurred()) return nullptr;
    const auto code = std::find_if(GENETIC_CODES.begin(), GENETIC_CODES.end(),
                                   [number](const GeneticCodeDefinition& each) { return each.number == number; });
    if (code == GENETIC_CODES.end()) return PyErr_Format(PyExc_ValueError, "no built-in genetic code %ld", number);
    return PyUnicode_FromStringAndSize(code->amino_acids.data(), static_cast<Py_ssize_t>(code->amino_acids.size()));
}

const PyMethodDef CODE_METHODS[] = {
    {"code_letters", code_letters, METH_O,
     "code_letters(number) -> str\n\nA built-in genetic code's 64 letters, codons in TCAG order."},
};

}  // namespace

std::span<const PyMethodDef> code_methods() noexcept { return CODE_METHODS; }

}  // namespace ntpepmap::tool_extension
