// The tool's engine from Python: one call back-translates a whole locus.
#include <algorithm>
#include <string>
#include <vector>

#include "engine/locus.hpp"
#include "module/python_text.hpp"
#include "module/records.hpp"
#include "parallel/shares.hpp"
#include "tool_extension/entry.hpp"
#include "tool_extension/interpreter_lock.hpp"
#include "tool_extension/locus_inputs.hpp"
#include "tool_extension/locus_results.hpp"
#include "tool_extension/tool_methods.hpp"
#include "writer/fasta_text.hpp"

namespace ntpepmap::tool_extension {
namespace {

using module::raise;

// A run's settings, read from the attributes of the settings object the tool hands over.
class SettingsReader {
public:
    explicit SettingsReader(PyObject* settings) : settings_(settings) {}

    PyRef attribute(const char* name) const { return checked(PyObject_GetAttrString(settings_, name)); }

    bool flag(const char* name) const {
        const int value = PyObject_IsTrue(attribute(name).get());
        if (value < 0) module::throw_python_error();
        return value == 1;
    }

    std::size_t count(const char* name, const char* zero) const {
        const long value = PyLong_AsLong(attribute(name).get());
        if (value == -1 && PyErr_Occurred()) module::throw_python_error();
        if (value < 0) raise(PyExc_ValueError, std::string("settings.") + name + " must be 0 (" + zero + ") or more");
        return static_cast<std::size_t>(value);
    }

    // The value a str attribute names in the engine's table; anything else is refused with the names.
    template <class Enum, std::size_t Count>
    Enum choice(const char* name, const engine::EnumNames<Enum, Count>& table) const {
        const PyRef given = attribute(name);
        if (!PyUnicode_Check(given.get())) raise(PyExc_TypeError, std::string("settings.") + name + " must be a str");
        if (const auto value = table.value_named(module::borrow_text(given.get()))) return *value;
        std::string names;
        for (const std::string_view each : table.names) names += (names.empty() ? "'" : ", '") + std::string(each) + "'";
        raise(PyExc_ValueError, std::string("settings.") + name + " must be one of " + names);
    }

    std::uint64_t terminal_stops() const {
        const std::vector<std::string> codons = module::to_text_list(attribute("terminal_stops").get());
        if (const auto bits = engine::codon_bits(codons)) return *bits;
        raise(PyExc_ValueError, "settings.terminal_stops must be upper-case DNA codons");
    }

private:
    PyObject* settings_;
};

engine::LocusSettings settings_of(PyObject* given) {
    const SettingsReader settings(given);
    engine::LocusSettings locus;
    engine::EngineOptions& options = locus.engine;
    options.mismatch = settings.choice("mismatch", engine::MISMATCH_POLICY_NAMES);
    options.frameshifts = settings.choice("frameshifts", engine::FRAMESHIFT_POLICY_NAMES);
    options.letters = {settings.flag("upper_case"), settings.flag("resolve_ambiguity"), settings.flag("t_for_u")};
    options.keep_reports = settings.flag("keep_reports");
    options.locate = settings.flag("locate");
    options.both_strands = settings.flag("both_strands");
    options.trim_stop = settings.flag("trim_stop");
    options.terminal_stops = options.trim_stop ? settings.terminal_stops() : 0;
    options.keep_short = settings.flag("keep_short");
    options.stops = settings.choice("stops", engine::STOP_POLICY_NAMES);
    // Beyond the most threads that are run, any number asks for as many.
    const std::size_t threads = settings.count("threads", "as many as there are CPUs");
    locus.threads = static_cast<unsigned>(std::min<std::size_t>(threads, parallel::MOST_USEFUL_THREADS));
    locus.wrap = settings.count("wrap", "no wrapping");
    locus.output = settings.flag("fasta_text") ? engine::LocusOutput::fasta_text : engine::LocusOutput::rows;
    return locus;
}

// The code settings.code gives: a built-in number, or a dict of letter to codons read into `table`.
engine::GeneticCode code_of(PyObject* settings, CodonTable& table) {
    const PyRef code = SettingsReader(settings).attribute("code");
    if (PyDict_Check(code.get())) {
        table = module::to_codon_table(code.get());
        return engine::GeneticCode(table);
    }
    const long number = PyLong_AsLong(code.get());
    if (PyErr_Occurred()) module::throw_python_error();
    const CodonTable* built_in = engine::GeneticCode::built_in(static_cast<TableNumber>(number));
    if (built_in == nullptr || number != static_cast<TableNumber>(number)) {
        raise(PyExc_ValueError, "no built-in genetic code " + std::to_string(number));
    }
    return engine::GeneticCode(*built_in, static_cast<TableNumber>(number));
}

// Only the records' translation runs with the lock let go: it touches nothing of Python.
engine::LocusResult translated(const engine::Locus& locus, std::string_view stem, const engine::OutputRoom& room) {
    const WithoutInterpreterLock unlocked;
    return locus.translate(stem, room);
}

// The FASTA text is made in the bytes object that is returned: a locus's rows are never held
// twice and need no encoding on the way out.
PyRef text_translation(const engine::Locus& locus, std::string_view stem) {
    PyRef text = checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(locus.text_room())));
    const engine::LocusResult result = translated(locus, stem, {.rows = {}, .text = PyBytes_AS_STRING(text.get())});
    PyObject* bytes = text.release();
    const auto length = static_cast<Py_ssize_t>(result.text.size());
    if (length != PyBytes_GET_SIZE(bytes) && _PyBytes_Resize(&bytes, length) != 0) module::throw_python_error();
    return locus_translation(result, PyRef::new_reference(Py_None), PyRef::steal(bytes));
}

// Each row is written into a str made beforehand as long as a full row; one that came out
// shorter is cut to its length, one left out is None.
PyRef row_translation(const engine::Locus& locus, std::string_view stem) {
    const auto count = static_cast<Py_ssize_t>(locus.records().size());
    PyRef rows = checked(PyList_New(count));
    std::vector<char*> rooms;
    for (Py_ssize_t index = 0; index < count; ++index) {
        PyRef row = checked(PyUnicode_New(static_cast<Py_ssize_t>(locus.row_room()), 127));
        rooms.push_back(module::ascii_data(row.get()));
        PyList_SET_ITEM(rows.get(), index, row.release());
    }
    const engine::LocusResult result = translated(locus, stem, {.rows = rooms, .text = nullptr});
    for (Py_ssize_t index = 0; index < count; ++index) {
        const std::optional<std::string_view>& row = result.rows[static_cast<std::size_t>(index)];
        if (row && row->size() == locus.row_room()) continue;
        PyList_SetItem(rows.get(), index, (row ? module::to_python_str(*row) : PyRef::new_reference(Py_None)).release());
    }
    return locus_translation(result, std::move(rows), PyRef::new_reference(Py_None));
}

PyRef translate_locus_impl(std::string_view file_stem, const engine::LocusSettings& settings,
                           const engine::GeneticCode& code, std::span<const engine::LocusRecord> records) {
    const engine::Locus locus(code, settings, records);
    if (settings.output == engine::LocusOutput::fasta_text) return text_translation(locus, file_stem);
    return row_translation(locus, file_stem);
}

// The (identifier, row) records as a FASTA file's UTF-8 text.
PyRef fasta_text_impl(PyObject* records, std::size_t wrap) {
    const PyRef held = checked(PyList_GetSlice(records, 0, PY_SSIZE_T_MAX));
    std::vector<std::pair<std::string_view, std::string_view>> texts;
    std::size_t size = 0;
    for (Py_ssize_t index = 0; index < PyList_GET_SIZE(held.get()); ++index) {
        PyObject* record = PyList_GET_ITEM(held.get(), index);
        if (!PyTuple_Check(record) || PyTuple_GET_SIZE(record) != 2) {
            raise(PyExc_TypeError, "records must be (identifier, row) tuples of str");
        }
        const auto& [name, row] = texts.emplace_back(module::borrow_text(PyTuple_GET_ITEM(record, 0)),
                                                     module::borrow_text(PyTuple_GET_ITEM(record, 1)));
        size += writer::fasta_record_size(name.size(), row.size(), writer::letter_count(row), wrap);
    }
    PyRef text = checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
    char* next = PyBytes_AS_STRING(text.get());
    for (const auto& [name, row] : texts) next = writer::put_fasta_record(next, name, row, wrap);
    return text;
}

// code_letters(number) -> str: a built-in code's 64 letters, codons in TCAG order.
PyRef code_letters_impl(long number) {
    const auto code = std::find_if(GENETIC_CODES.begin(), GENETIC_CODES.end(),
                                   [number](const GeneticCodeDefinition& each) { return each.number == number; });
    if (code == GENETIC_CODES.end()) raise(PyExc_ValueError, "no built-in genetic code " + std::to_string(number));
    return module::to_python_str(code->amino_acids);
}

PyObject* list_of(PyObject* given) {
    if (!PyList_Check(given)) module::raise_downcast_error(given, "PyList");
    return given;
}

long long_of(PyObject* given) {
    const long value = PyLong_AsLong(given);
    if (value == -1 && PyErr_Occurred()) module::throw_python_error();
    return value;
}

std::size_t wrap_of(PyObject* given) {
    const long wrap = long_of(given);
    if (wrap < 0) raise(PyExc_ValueError, "wrap must be 0 (no wrapping) or more");
    return static_cast<std::size_t>(wrap);
}

constexpr std::string_view TRANSLATE_LOCUS_PARAMETERS[] = {"file_stem", "settings", "proteins", "cds"};
constexpr auto TRANSLATE_LOCUS = described("translate_locus", TRANSLATE_LOCUS_PARAMETERS, 4);
constexpr std::string_view FASTA_TEXT_PARAMETERS[] = {"records", "wrap"};
constexpr auto FASTA_TEXT = described("fasta_text", FASTA_TEXT_PARAMETERS, 2);
constexpr std::string_view CODE_LETTERS_PARAMETERS[] = {"number"};
constexpr auto CODE_LETTERS = described("code_letters", CODE_LETTERS_PARAMETERS, 1);

PyObject* translate_locus(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return enter<TRANSLATE_LOCUS>(args, nargs, kwnames, [](const auto& slots, module::ArgumentConversion& convert) {
        const std::string_view file_stem = convert("file_stem", module::borrow_text, slots[0]);
        const engine::LocusSettings settings = convert("settings", settings_of, slots[1]);
        CodonTable table;
        const engine::GeneticCode code = code_of(slots[1], table);
        const LocusInputs inputs = locus_inputs(slots[2], slots[3]);
        return translate_locus_impl(file_stem, settings, code, inputs.records);
    });
}

PyObject* fasta_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return enter<FASTA_TEXT>(args, nargs, kwnames, [](const auto& slots, module::ArgumentConversion& convert) {
        PyObject* const records = convert("records", list_of, slots[0]);
        return fasta_text_impl(records, convert("wrap", wrap_of, slots[1]));
    });
}

PyObject* code_letters(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return enter<CODE_LETTERS>(args, nargs, kwnames, [](const auto& slots, module::ArgumentConversion& convert) {
        return code_letters_impl(convert("number", long_of, slots[0]));
    });
}

constexpr char TRANSLATE_LOCUS_DOC[] =
    "translate_locus(file_stem, settings, proteins, cds)\n--\n\n"
    "Back-translates a locus: proteins are (identifier, aligned row) tuples, cds the coding sequence of each.\n"
    "settings gives by attribute: code (a built-in number or a dict of letter to codons), mismatch, frameshifts\n"
    "and stops (names in CHOICES), upper_case, resolve_ambiguity, t_for_u, keep_reports, locate, both_strands,\n"
    "trim_stop with terminal_stops (upper-case codons), keep_short, fasta_text with wrap, threads (0: one per\n"
    "CPU the process may use; 8 at most). Rows are read with '.' and '~' as gaps and made as wide as the\n"
    "widest; a CDS loses its gap letters and, with trim_stop, a terminal stop codon just beyond the residues;\n"
    "one with fewer triplets than residues is held back unless keep_short (or threaded with frameshifts).\n"
    "The lock is let go while the records are translated. Returns a LocusTranslation.";

const PyMethodDef ENGINE_METHODS[] = {
    {"translate_locus", as_method(translate_locus), METH_FASTCALL | METH_KEYWORDS, TRANSLATE_LOCUS_DOC},
    {"fasta_text", as_method(fasta_text), METH_FASTCALL | METH_KEYWORDS,
     "fasta_text(records, wrap) -> bytes\n--\n\nThe (identifier, row) records as the UTF-8 text of a FASTA file, rows "
     "on lines of at most\nwrap letters (0: one line each)."},
    {"code_letters", as_method(code_letters), METH_FASTCALL | METH_KEYWORDS,
     "code_letters(number) -> str\n--\n\nA built-in genetic code's 64 letters, codons in TCAG order."},
};

}  // namespace

std::span<const PyMethodDef> engine_methods() noexcept { return ENGINE_METHODS; }

}  // namespace ntpepmap::tool_extension
