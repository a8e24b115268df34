// The tool's engine from Python: one call back-translates a whole locus.
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

#include "engine/engine.hpp"
#include "module/py_ref.hpp"
#include "tool_module/binding_errors.hpp"
#include "module/python_text.hpp"
#include "tool_module/tool_methods.hpp"

namespace ntpepmap::tool_module {
namespace {

using module::PyRef;

std::string_view utf8_of(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) throw PythonError{};
    return {data, static_cast<std::size_t>(size)};
}

// An ASCII str's own bytes; anything else is refused with the record's name.
std::string_view ascii_of(PyObject* text, std::string_view name, const char* what) {
    const std::string whose = std::string(what) + " of record " + std::string(name);
    if (!PyUnicode_Check(text)) fail(PyExc_TypeError, whose + " is not a str");
    if (!module::is_ascii_str(text)) fail(PyExc_ValueError, whose + " holds letters that are not ASCII");
    return {module::ascii_data(text), static_cast<std::size_t>(PyUnicode_GET_LENGTH(text))};
}

PyRef ascii_str(std::string_view text) {
    PyRef str = checked(PyUnicode_New(static_cast<Py_ssize_t>(text.size()), 127));
    if (!text.empty()) std::memcpy(module::ascii_data(str.get()), text.data(), text.size());
    return str;
}

PyRef str_of(std::string_view utf8) {
    return checked(PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "replace"));
}

PyRef str_of(const std::u32string& letters) {
    return checked(
        PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, letters.data(), static_cast<Py_ssize_t>(letters.size())));
}

// {letter: [codon, ...]}, as the tool's options have already checked it.
CodonTable codon_table_of(PyObject* mapping) {
    CodonTable table;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    Py_ssize_t position = 0;
    while (PyDict_Next(mapping, &position, &key, &value)) {
        if (!PyUnicode_Check(key) || PyUnicode_GET_LENGTH(key) != 1) {
            fail(PyExc_ValueError, "genetic code keys must be single letters");
        }
        if (PyUnicode_Check(value)) fail(PyExc_TypeError, "genetic code values must be lists of codons");
        const PyRef codons = checked(PySequence_Fast(value, "genetic code values must be lists of codons"));
        CodonList& list = table[static_cast<char32_t>(PyUnicode_READ_CHAR(key, 0))];
        const Py_ssize_t count = PySequence_Fast_GET_SIZE(codons.get());
        for (Py_ssize_t i = 0; i < count; ++i) {
            PyObject* codon = PySequence_Fast_GET_ITEM(codons.get(), i);
            if (!PyUnicode_Check(codon)) fail(PyExc_TypeError, "genetic code values must be lists of codons");
            list.emplace_back(utf8_of(codon));
        }
    }
    return table;
}

struct LocusArguments {
    std::string_view file_stem;
    PyObject* code;
    PyObject* pairs;
    engine::EngineOptions options;
    bool fasta_text;
};

enum Flag : long {
    UPPER_CASE = 1,
    RESOLVE_AMBIGUITY = 2,
    T_FOR_U = 4,
    KEEP_REPORTS = 8,
    FASTA_TEXT = 16,
    LOCATE = 32,
    BOTH_STRANDS = 64,
};

LocusArguments arguments_of(PyObject* const* args, Py_ssize_t count) {
    if (count != 5) {
        fail(PyExc_TypeError, "translate_locus(file_stem, code, pairs, mismatch, flags) takes 5 arguments");
    }
    if (!PyUnicode_Check(args[0])) fail(PyExc_TypeError, "file_stem must be a str");
    if (!PyList_Check(args[2])) fail(PyExc_TypeError, "pairs must be a list");
    const long mismatch = PyLong_AsLong(args[3]);
    const long flags = PyLong_AsLong(args[4]);
    if (PyErr_Occurred()) throw PythonError{};
    if (mismatch < 0 || mismatch > 2) fail(PyExc_ValueError, "mismatch must be 0 (mask), 1 (keep) or 2 (drop)");
    engine::EngineOptions options;
    options.mismatch = static_cast<engine::MismatchPolicy>(mismatch);
    options.letters = {(flags & UPPER_CASE) != 0, (flags & RESOLVE_AMBIGUITY) != 0, (flags & T_FOR_U) != 0};
    options.keep_reports = (flags & KEEP_REPORTS) != 0;
    options.locate = (flags & LOCATE) != 0;
    options.both_strands = (flags & BOTH_STRANDS) != 0;
    return {utf8_of(args[0]), args[1], args[2], options, (flags & FASTA_TEXT) != 0};
}

PyRef problem_tuple(const engine::SiteProblem& problem) {
    PyRef residue = ascii_str(std::string_view(&problem.residue, 1));
    PyRef triplet = ascii_str(problem.triplet);
    PyRef encodes = str_of(problem.encodes);
    return checked(Py_BuildValue("(innNNN)", static_cast<int>(problem.reason), static_cast<Py_ssize_t>(problem.column),
                                 static_cast<Py_ssize_t>(problem.residue_number), residue.release(), triplet.release(),
                                 encodes.release()));
}

// (index, fate, residues, nucleotides, failed, located, placements or None, row length, [site problems])
PyRef record_tuple(Py_ssize_t index, const engine::RecordOutcome& outcome) {
    PyRef problems = checked(PyList_New(0));
    for (const engine::SiteProblem& problem : outcome.problems) {
        const PyRef item = problem_tuple(problem);
        if (PyList_Append(problems.get(), item.get()) != 0) throw PythonError{};
    }
    PyRef placements = outcome.placements ? checked(PyLong_FromSize_t(*outcome.placements))
                                          : PyRef::new_reference(Py_None);
    const auto count = [](std::size_t value) { return static_cast<Py_ssize_t>(value); };
    return checked(Py_BuildValue("(ninnnONnN)", index, static_cast<int>(outcome.fate), count(outcome.residues),
                                 count(outcome.nucleotides), count(outcome.failed),
                                 outcome.located ? Py_True : Py_False, placements.release(),
                                 count(outcome.row.size()), problems.release()));
}

bool is_full(const engine::RecordOutcome& outcome, std::string_view row) noexcept {
    return outcome.fate == engine::RecordFate::written && outcome.row.size() == 3 * row.size();
}

bool worth_telling(const engine::RecordOutcome& outcome, std::string_view row) noexcept {
    return !is_full(outcome, row) || outcome.failed != 0 || outcome.without_nucleotides != 0 || outcome.located ||
           outcome.placements || outcome.nucleotides != 3 * outcome.residues;
}

// The codon rows as a list, one per pair: a str, or None for a record left out.
class RowList {
public:
    explicit RowList(Py_ssize_t count) : rows_(checked(PyList_New(count))) {}

    void add(Py_ssize_t index, std::string_view, std::string_view, const engine::RecordOutcome& outcome) {
        const bool written = outcome.fate == engine::RecordFate::written;
        PyRef piece = written ? ascii_str(outcome.row) : PyRef::new_reference(Py_None);
        PyList_SET_ITEM(rows_.get(), index, piece.release());
    }
    PyRef finish() { return std::move(rows_); }

private:
    PyRef rows_;
};

// A large fresh buffer faults in far faster in huge pages: a few faults instead of one per
// 4 KiB page. Only advice; the pages wholly inside the buffer are the ones advised.
void ask_for_huge_pages([[maybe_unused]] char* begin, [[maybe_unused]] std::size_t size) noexcept {
#ifdef MADV_HUGEPAGE  // Linux
    constexpr std::uintptr_t HUGE_PAGE = std::uintptr_t{1} << 21;
    const auto first = (reinterpret_cast<std::uintptr_t>(begin) + HUGE_PAGE - 1) & ~(HUGE_PAGE - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(begin) + size) & ~(HUGE_PAGE - 1);
    if (end > first) madvise(reinterpret_cast<void*>(first), end - first, MADV_HUGEPAGE);
#endif
}

// The FASTA text of the full rows, '>' name, line feed, row, line feed each, as UTF-8 bytes: the
// output file as it is, built in the bytes object that is returned, so that a locus's rows are
// never held twice and need no encoding on the way out.
class FastaText {
public:
    explicit FastaText(PyObject* pairs) : text_(checked(PyBytes_FromStringAndSize(nullptr, capacity(pairs)))) {
        next_ = PyBytes_AS_STRING(text_.get());
        ask_for_huge_pages(next_, static_cast<std::size_t>(PyBytes_GET_SIZE(text_.get())));
    }

    void add(Py_ssize_t, std::string_view name, std::string_view row, const engine::RecordOutcome& outcome) {
        if (!is_full(outcome, row)) return;
        put(">");
        put(name);
        put("\n");
        put(outcome.row);
        put("\n");
    }
    PyRef finish() {
        PyObject* text = text_.release();
        const auto length = static_cast<Py_ssize_t>(next_ - PyBytes_AS_STRING(text));
        if (_PyBytes_Resize(&text, length) != 0) throw PythonError{};  // text is gone then
        return PyRef::steal(text);
    }

private:
    // Room for every record written in full.
    static Py_ssize_t capacity(PyObject* pairs) {
        Py_ssize_t total = 0;
        for (Py_ssize_t index = 0; index < PyList_GET_SIZE(pairs); ++index) {
            PyObject* pair = PyList_GET_ITEM(pairs, index);
            if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 3) continue;  // refused when its turn comes
            PyObject* name = PyTuple_GET_ITEM(pair, 0);
            PyObject* row = PyTuple_GET_ITEM(pair, 1);
            if (!PyUnicode_Check(name) || !PyUnicode_Check(row)) continue;
            total += 3 + static_cast<Py_ssize_t>(utf8_of(name).size()) + 3 * PyUnicode_GET_LENGTH(row);
        }
        return total;
    }
    void put(std::string_view piece) noexcept {
        std::memcpy(next_, piece.data(), piece.size());
        next_ += piece.size();
    }

    PyRef text_;
    char* next_ = nullptr;
};

template <class Rows>
PyObject* translate_into(const LocusArguments& arguments, const engine::GeneticCode& code, Rows rows) {
    engine::Engine engine(code, arguments.options);
    engine::RecordOutcome outcome;
    PyRef told = checked(PyList_New(0));
    std::string reports;
    for (Py_ssize_t index = 0; index < PyList_GET_SIZE(arguments.pairs); ++index) {
        PyObject* pair = PyList_GET_ITEM(arguments.pairs, index);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 3) {
            fail(PyExc_TypeError, "pairs must hold (name, row, cds) tuples");
        }
        const std::string_view name = utf8_of(PyTuple_GET_ITEM(pair, 0));
        const std::string_view row = ascii_of(PyTuple_GET_ITEM(pair, 1), name, "the aligned row");
        const std::string_view cds = ascii_of(PyTuple_GET_ITEM(pair, 2), name, "the CDS");
        engine.translate(arguments.file_stem, name, row, cds, outcome);
        rows.add(index, name, row, outcome);
        if (worth_telling(outcome, row)) {
            const PyRef item = record_tuple(index, outcome);
            if (PyList_Append(told.get(), item.get()) != 0) throw PythonError{};
        }
        reports += outcome.report;
    }
    PyRef row_result = rows.finish();
    PyRef report_text = str_of(reports);
    return Py_BuildValue("(NNN)", row_result.release(), told.release(), report_text.release());
}

PyObject* translate_with(const LocusArguments& arguments, const engine::GeneticCode& code) {
    if (arguments.fasta_text) return translate_into(arguments, code, FastaText(arguments.pairs));
    return translate_into(arguments, code, RowList(PyList_GET_SIZE(arguments.pairs)));
}

PyObject* translate_locus(PyObject*, PyObject* const* args, Py_ssize_t count) {
    try {
        const LocusArguments arguments = arguments_of(args, count);
        if (PyDict_Check(arguments.code)) {
            const CodonTable table = codon_table_of(arguments.code);
            return translate_with(arguments, engine::GeneticCode(table));
        }
        const long number = PyLong_AsLong(arguments.code);
        if (PyErr_Occurred()) throw PythonError{};
        const CodonTable* table = engine::GeneticCode::built_in(static_cast<TableNumber>(number));
        if (table == nullptr || number != static_cast<TableNumber>(number)) {
            fail(PyExc_ValueError, "no built-in genetic code " + std::to_string(number));
        }
        return translate_with(arguments, engine::GeneticCode(*table, static_cast<TableNumber>(number)));
    } catch (const PythonError&) {
        return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    } catch (const std::exception& error) {
        PyErr_SetString(PyExc_RuntimeError, error.what());
        return nullptr;
    }
}

constexpr char TRANSLATE_LOCUS_DOC[] =
    "translate_locus(file_stem, code, pairs, mismatch, flags)\n--\n\n"
    "Back-translates (name, aligned row, CDS) pairs under a built-in code (int) or a caller's table (dict).\n"
    "mismatch: 0 mask, 1 keep, 2 drop; flags: 1 upper case, 2 resolve ambiguity, 4 T for U, 8 keep reports,\n"
    "16 FASTA text, 32 locate the coding region in a CDS that does not fit, 64 on both strands.\n"
    "Returns (rows, records, reports): a row per pair (None when left out), or with FASTA text the UTF-8\n"
    "bytes of the full rows, each '>' name, line feed, row, line feed; for each record with anything to tell, (index,\n"
    "fate, residues, nucleotides, failed, located, placements found or None, row length, problems), each\n"
    "problem (reason, column, residue number, residue, triplet, letters it encodes); the framed reports.";

const PyMethodDef ENGINE_METHODS[] = {
    {"translate_locus", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(translate_locus)), METH_FASTCALL,
     TRANSLATE_LOCUS_DOC},
};

}  // namespace

std::span<const PyMethodDef> engine_methods() noexcept { return ENGINE_METHODS; }

}  // namespace ntpepmap::tool_module
