// The fast-call entry points: match, convert, run the body, return.
#include "module/functions.hpp"

#include "module/arguments.hpp"
#include "module/call_wrapper.hpp"
#include "module/conversions.hpp"
#include "module/drivers.hpp"
#include "module/python_text.hpp"
#include "module/records.hpp"

namespace ntpepmap::module {
namespace {

constexpr std::string_view PEPTHREAD_PARAMETERS[] = {"file_steem", "table_num", "seqs"};
constexpr std::string_view PEPTHREAD_ORIGINAL_ARGS_PARAMETERS[] = {"file_steem", "gene_table", "seqs"};
constexpr std::string_view ATTEMPT_IUPAC_SUBSTITUTION_PARAMETERS[] = {"original_triplet", "taxa"};

constexpr FunctionDescription PEPTHREAD = described("pepthread", PEPTHREAD_PARAMETERS, 3);
constexpr FunctionDescription PEPTHREAD_ORIGINAL_ARGS =
    described("pepthread_original_args", PEPTHREAD_ORIGINAL_ARGS_PARAMETERS, 3);
constexpr FunctionDescription ATTEMPT_IUPAC_SUBSTITUTION =
    described("attempt_iupac_substitution", ATTEMPT_IUPAC_SUBSTITUTION_PARAMETERS, 2);

using Slots = std::span<PyObject* const>;

PyObject* pepthread(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    constexpr auto& PARAMETERS = PEPTHREAD_PARAMETERS;
    return matched_call<PEPTHREAD>(args, nargs, kwnames, [&](Slots slots, ArgumentConversion& convert) {
        const auto file_steem = convert(PARAMETERS[0], borrow_text, slots[0]);
        const auto table_num = convert(PARAMETERS[1], to_int32, slots[1]);
        const auto seqs = convert(PARAMETERS[2], to_numbered_records, slots[2]);
        return pepthread_impl(file_steem, table_num, seqs);
    });
}

PyObject* pepthread_original_args(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    constexpr auto& PARAMETERS = PEPTHREAD_ORIGINAL_ARGS_PARAMETERS;
    return matched_call<PEPTHREAD_ORIGINAL_ARGS>(args, nargs, kwnames, [&](Slots slots, ArgumentConversion& convert) {
        const auto file_steem = convert(PARAMETERS[0], borrow_text, slots[0]);
        const auto gene_table = convert(PARAMETERS[1], to_codon_table, slots[1]);
        const auto seqs = convert(PARAMETERS[2], to_records, slots[2]);
        return pepthread_original_args_impl(file_steem, gene_table, seqs);
    });
}

PyObject* attempt_iupac_substitution(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    constexpr auto& PARAMETERS = ATTEMPT_IUPAC_SUBSTITUTION_PARAMETERS;
    return matched_call<ATTEMPT_IUPAC_SUBSTITUTION>(args, nargs, kwnames,
                                                    [&](Slots slots, ArgumentConversion& convert) {
        const auto original_triplet = convert(PARAMETERS[0], borrow_text, slots[0]);
        auto taxa = convert(PARAMETERS[1], to_text_list, slots[1]);
        return to_python_str_or_none(attempt_iupac_substitution_impl(original_triplet, std::move(taxa)));
    });
}

PyMethodDef METHODS[] = {
    {"pepthread", as_method(pepthread), METH_FASTCALL | METH_KEYWORDS, ""},
    {"pepthread_original_args", as_method(pepthread_original_args), METH_FASTCALL | METH_KEYWORDS, ""},
    {"attempt_iupac_substitution", as_method(attempt_iupac_substitution), METH_FASTCALL | METH_KEYWORDS, ""},
};

}  // namespace

std::span<PyMethodDef> module_functions() noexcept { return METHODS; }

}  // namespace ntpepmap::module
