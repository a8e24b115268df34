// The tool's engine from Python: one call back-translates a whole locus.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

#include "engine/engine.hpp"
#include "parallel/shares.hpp"
#include "module/py_ref.hpp"
#include "tool_module/binding_errors.hpp"
#include "tool_module/interpreter_lock.hpp"
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
    unsigned threads;  // at most this many at once; 0: as many as the process may use
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
    if (count != 5 && count != 6) {
        fail(PyExc_TypeError, "translate_locus(file_stem, code, pairs, mismatch, flags, threads=0) takes 5 or 6 "
                              "arguments");
    }
    if (!PyUnicode_Check(args[0])) fail(PyExc_TypeError, "file_stem must be a str");
    if (!PyList_Check(args[2])) fail(PyExc_TypeError, "pairs must be a list");
    const long mismatch = PyLong_AsLong(args[3]);
    const long flags = PyLong_AsLong(args[4]);
    const long threads = count == 6 ? PyLong_AsLong(args[5]) : 0;
    if (PyErr_Occurred()) throw PythonError{};
    if (mismatch < 0 || mismatch > 2) fail(PyExc_ValueError, "mismatch must be 0 (mask), 1 (keep) or 2 (drop)");
    if (threads < 0) fail(PyExc_ValueError, "threads must be 0 (as many as there are CPUs) or more");
    engine::EngineOptions options;
    options.mismatch = static_cast<engine::MismatchPolicy>(mismatch);
    options.letters = {(flags & UPPER_CASE) != 0, (flags & RESOLVE_AMBIGUITY) != 0, (flags & T_FOR_U) != 0};
    options.keep_reports = (flags & KEEP_REPORTS) != 0;
    options.locate = (flags & LOCATE) != 0;
    options.both_strands = (flags & BOTH_STRANDS) != 0;
    // Beyond the most threads that are run, any number asks for as many.
    const auto asked = static_cast<unsigned>(std::min<long>(threads, parallel::MOST_USEFUL_THREADS));
    return {utf8_of(args[0]), args[1], args[2], options, (flags & FASTA_TEXT) != 0, asked};
}

PyRef problem_tuple(const engine::SiteProblem& problem) {
    PyRef residue = ascii_str(std::string_view(&problem.residue, 1));
    PyRef triplet = ascii_str(problem.triplet);
    PyRef encodes = str_of(problem.encodes);
    return checked(Py_BuildValue("(innNNN)", static_cast<int>(problem.reason), static_cast<Py_ssize_t>(problem.column),
                                 static_cast<Py_ssize_t>(problem.residue_number), residue.release(), triplet.release(),
                                 encodes.release()));
}

// A record with something to tell, kept without its row: only the row's length is told.
struct ToldRecord {
    std::size_t index;
    std::size_t row_length;
    engine::RecordOutcome outcome;
};

// (index, fate, residues, nucleotides, failed, located, placements or None, row length, [site problems])
PyRef record_tuple(const ToldRecord& told) {
    const engine::RecordOutcome& outcome = told.outcome;
    PyRef problems = checked(PyList_New(0));
    for (const engine::SiteProblem& problem : outcome.problems) {
        const PyRef item = problem_tuple(problem);
        if (PyList_Append(problems.get(), item.get()) != 0) throw PythonError{};
    }
    PyRef placements = outcome.placements ? checked(PyLong_FromSize_t(*outcome.placements))
                                          : PyRef::new_reference(Py_None);
    const auto count = [](std::size_t value) { return static_cast<Py_ssize_t>(value); };
    return checked(Py_BuildValue("(ninnnONnN)", count(told.index), static_cast<int>(outcome.fate),
                                 count(outcome.residues), count(outcome.nucleotides), count(outcome.failed),
                                 outcome.located ? Py_True : Py_False, placements.release(),
                                 count(told.row_length), problems.release()));
}

// One pair's texts, borrowed from the str objects of the pairs.
struct RecordText {
    std::string_view name;
    std::string_view row;
    std::string_view cds;
};

// The texts of every pair, each checked before any record is translated.
std::vector<RecordText> record_texts(PyObject* pairs) {
    std::vector<RecordText> records;
    records.reserve(static_cast<std::size_t>(PyList_GET_SIZE(pairs)));
    for (Py_ssize_t index = 0; index < PyList_GET_SIZE(pairs); ++index) {
        PyObject* pair = PyList_GET_ITEM(pairs, index);
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 3) {
            fail(PyExc_TypeError, "pairs must hold (name, row, cds) tuples");
        }
        const std::string_view name = utf8_of(PyTuple_GET_ITEM(pair, 0));
        records.push_back({name, ascii_of(PyTuple_GET_ITEM(pair, 1), name, "the aligned row"),
                           ascii_of(PyTuple_GET_ITEM(pair, 2), name, "the CDS")});
    }
    return records;
}

bool is_full(const engine::RecordOutcome& outcome, std::string_view row) noexcept {
    return outcome.fate == engine::RecordFate::written && outcome.row.size() == 3 * row.size();
}

bool is_clean(const engine::RecordOutcome& outcome, std::string_view row) noexcept {
    return is_full(outcome, row) && outcome.failed == 0 && outcome.without_nucleotides == 0 &&
           outcome.nucleotides == 3 * outcome.residues;
}

bool worth_telling(const engine::RecordOutcome& outcome, std::string_view row) noexcept {
    return !is_clean(outcome, row) || outcome.located || outcome.placements;
}

// A whole transcript's records are mostly written in full from the coding region found in each:
// those are told by their index alone.
bool is_clean_located(const engine::RecordOutcome& outcome, std::string_view row) noexcept {
    return outcome.located && is_clean(outcome, row);
}

// The codon rows as a list, one per pair: a str, or None for a record left out. Each str is made
// beforehand as long as a full row, so that the rows can be written with no interpreter lock
// held; a row that came out shorter is cut to its length at the end.
class RowList {
public:
    explicit RowList(const std::vector<RecordText>& records)
        : rows_(checked(PyList_New(static_cast<Py_ssize_t>(records.size())))), lengths_(records.size(), LEFT_OUT) {
        for (std::size_t index = 0; index < records.size(); ++index) {
            PyRef row = checked(PyUnicode_New(static_cast<Py_ssize_t>(3 * records[index].row.size()), 127));
            PyList_SET_ITEM(rows_.get(), static_cast<Py_ssize_t>(index), row.release());
        }
    }

    // Records of different indices may be placed at once, from different threads.
    void place(std::size_t index, const RecordText&, const engine::RecordOutcome& outcome) noexcept {
        if (outcome.fate != engine::RecordFate::written) return;
        PyObject* row = PyList_GET_ITEM(rows_.get(), static_cast<Py_ssize_t>(index));
        std::memcpy(module::ascii_data(row), outcome.row.data(), outcome.row.size());
        lengths_[index] = outcome.row.size();
    }

    PyRef finish() {
        for (std::size_t index = 0; index < lengths_.size(); ++index) {
            const auto place = static_cast<Py_ssize_t>(index);
            PyObject* row = PyList_GET_ITEM(rows_.get(), place);
            if (lengths_[index] == LEFT_OUT) {
                PyList_SetItem(rows_.get(), place, PyRef::new_reference(Py_None).release());
            } else if (static_cast<Py_ssize_t>(lengths_[index]) != PyUnicode_GET_LENGTH(row)) {
                PyRef cut = ascii_str(std::string_view(module::ascii_data(row), lengths_[index]));
                PyList_SetItem(rows_.get(), place, cut.release());
            }
        }
        return std::move(rows_);
    }

private:
    static constexpr std::size_t LEFT_OUT = static_cast<std::size_t>(-1);
    PyRef rows_;
    std::vector<std::size_t> lengths_;
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
// never held twice and need no encoding on the way out. Each record has its own place in it, so
// that records can be placed from different threads; the text closes up where one is not full.
class FastaText {
public:
    explicit FastaText(const std::vector<RecordText>& records) : starts_(records.size() + 1), full_(records.size()) {
        for (std::size_t index = 0; index < records.size(); ++index) {
            starts_[index + 1] = starts_[index] + 3 + records[index].name.size() + 3 * records[index].row.size();
        }
        text_ = checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(starts_.back())));
        ask_for_huge_pages(PyBytes_AS_STRING(text_.get()), starts_.back());
    }

    // Records of different indices may be placed at once, from different threads.
    void place(std::size_t index, const RecordText& record, const engine::RecordOutcome& outcome) noexcept {
        if (!is_full(outcome, record.row)) return;
        char* next = PyBytes_AS_STRING(text_.get()) + starts_[index];
        *next++ = '>';
        next = put(next, record.name);
        *next++ = '\n';
        next = put(next, outcome.row);
        *next = '\n';
        full_[index] = 1;
    }

    PyRef finish() {
        char* const text = PyBytes_AS_STRING(text_.get());
        std::size_t length = 0;
        for (std::size_t index = 0; index + 1 < starts_.size(); ++index) {
            if (full_[index] == 0) continue;
            const std::size_t size = starts_[index + 1] - starts_[index];
            if (length != starts_[index]) std::memmove(text + length, text + starts_[index], size);
            length += size;
        }
        PyObject* bytes = text_.release();
        if (length != starts_.back() && _PyBytes_Resize(&bytes, static_cast<Py_ssize_t>(length)) != 0) {
            throw PythonError{};  // bytes is gone then
        }
        return PyRef::steal(bytes);
    }

private:
    static char* put(char* next, std::string_view piece) noexcept {
        std::memcpy(next, piece.data(), piece.size());
        return next + piece.size();
    }

    std::vector<std::size_t> starts_;  // where each record's text starts when every record before it is full
    std::vector<std::uint8_t> full_;
    PyRef text_;
};

// What one share of the records leaves to be told, in record order.
struct ShareResult {
    std::vector<ToldRecord> told;
    std::vector<std::size_t> clean_located;
    std::string reports;
};

template <class Rows>
void translate_share(const LocusArguments& arguments, const engine::GeneticCode& code,
                     const std::vector<RecordText>& records, parallel::Share share, Rows& rows, ShareResult& result) {
    engine::Engine engine(code, arguments.options);
    engine::RecordOutcome outcome;
    for (std::size_t index = share.begin; index < share.end; ++index) {
        const RecordText& record = records[index];
        engine.translate(arguments.file_stem, record.name, record.row, record.cds, outcome);
        rows.place(index, record, outcome);
        result.reports += outcome.report;
        if (is_clean_located(outcome, record.row)) {
            result.clean_located.push_back(index);
            continue;
        }
        if (!worth_telling(outcome, record.row)) continue;
        // The row stays with the outcome that is reused: the told records may be all of them.
        std::string row = std::move(outcome.row);
        result.told.push_back({index, row.size(), std::move(outcome)});
        outcome.row = std::move(row);
    }
}

// Records of about this many letters and more are worth a thread of their own.
constexpr std::size_t LEAST_SHARE_LETTERS = 256 * 1024;

std::vector<parallel::Share> shares_of(const std::vector<RecordText>& records, unsigned threads) {
    std::vector<std::size_t> letters(records.size());
    for (std::size_t index = 0; index < records.size(); ++index) {
        letters[index] = records[index].row.size() + records[index].cds.size();
    }
    return parallel::split_by_weight(letters, parallel::threads_to_run(threads), LEAST_SHARE_LETTERS);
}

template <class Rows>
PyObject* translate_into(const LocusArguments& arguments, const engine::GeneticCode& code,
                         const std::vector<RecordText>& records) {
    Rows rows(records);
    const std::vector<parallel::Share> shares = shares_of(records, arguments.threads);
    std::vector<ShareResult> results(shares.size());
    {
        const WithoutInterpreterLock unlocked;
        parallel::run_shares(shares.size(), [&](std::size_t share) {
            translate_share(arguments, code, records, shares[share], rows, results[share]);
        });
    }
    PyRef told = checked(PyList_New(0));
    PyRef clean_located = checked(PyList_New(0));
    std::string reports;
    for (const ShareResult& result : results) {
        for (const ToldRecord& record : result.told) {
            const PyRef item = record_tuple(record);
            if (PyList_Append(told.get(), item.get()) != 0) throw PythonError{};
        }
        for (const std::size_t index : result.clean_located) {
            const PyRef item = checked(PyLong_FromSize_t(index));
            if (PyList_Append(clean_located.get(), item.get()) != 0) throw PythonError{};
        }
        reports += result.reports;
    }
    PyRef row_result = rows.finish();
    PyRef report_text = str_of(reports);
    return Py_BuildValue("(NNNN)", row_result.release(), told.release(), report_text.release(),
                         clean_located.release());
}

PyObject* translate_with(const LocusArguments& arguments, const engine::GeneticCode& code) {
    // The pairs' own references hold the texts while the lock is let go, whatever else
    // happens to the caller's list meanwhile.
    const PyRef pairs = checked(PyList_GetSlice(arguments.pairs, 0, PyList_GET_SIZE(arguments.pairs)));
    const std::vector<RecordText> records = record_texts(pairs.get());
    if (arguments.fasta_text) return translate_into<FastaText>(arguments, code, records);
    return translate_into<RowList>(arguments, code, records);
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
    "translate_locus(file_stem, code, pairs, mismatch, flags, threads=0)\n--\n\n"
    "Back-translates (name, aligned row, CDS) pairs under a built-in code (int) or a caller's table (dict).\n"
    "mismatch: 0 mask, 1 keep, 2 drop; flags: 1 upper case, 2 resolve ambiguity, 4 T for U, 8 keep reports,\n"
    "16 FASTA text, 32 locate the coding region in a CDS that does not fit, 64 on both strands. A large locus is\n"
    "split among threads, at most `threads` of them (0: one per CPU the process may use; 8 at most), the lock\n"
    "let go.\n"
    "Returns (rows, records, reports, located): a row per pair (None when left out), or with FASTA text the\n"
    "UTF-8 bytes of the full rows, each '>' name, line feed, row, line feed; for each record with anything to\n"
    "tell, (index, fate, residues, nucleotides, failed, located, placements found or None, row length,\n"
    "problems), each problem (reason, column, residue number, residue, triplet, letters it encodes); the framed\n"
    "reports; the indices of the records written in full, without a problem, from a coding region located in\n"
    "their CDS (told by nothing else).";

const PyMethodDef ENGINE_METHODS[] = {
    {"translate_locus", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(translate_locus)), METH_FASTCALL,
     TRANSLATE_LOCUS_DOC},
};

}  // namespace

std::span<const PyMethodDef> engine_methods() noexcept { return ENGINE_METHODS; }

}  // namespace ntpepmap::tool_module
