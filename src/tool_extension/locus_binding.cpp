// The tool's engine from Python: one call back-translates a whole locus. Its result comes back as
// struct sequences (tuples whose fields also have names); the engine's names of its choices and
// fates are exported, and a fate or a site's reason told by its index in them.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "engine/code_fit.hpp"
#include "engine/locus.hpp"
#include "engine/trim_signs.hpp"
#include "module/python_text.hpp"
#include "module/records.hpp"
#include "parallel/shares.hpp"
#include "tool_extension/entry.hpp"
#include "tool_extension/interpreter_lock.hpp"
#include "tool_extension/locus_inputs.hpp"
#include "tool_extension/native_text.hpp"
#include "tool_extension/tool_methods.hpp"
#include "writer/fasta_text.hpp"

namespace ntpepmap::tool_extension {
namespace {

using module::raise;

// Field names, then what each holds; columns are 1-based, of the alignment row.
PyStructSequence_Field SITE_FIELDS[] = {
    {"reason", "index in SITE_REASONS"}, {"column", nullptr}, {"residue_number", "1-based, in its row"},
    {"residue", nullptr}, {"triplet", "as the CDS gives it (shorter when nucleotides ran out)"},
    {"encodes", "the letters the triplet encodes in the code"}, {nullptr, nullptr}};
PyStructSequence_Field FRAMESHIFT_FIELDS[] = {
    {"column", nullptr}, {"residue_number", "1-based, of the residue whose codon it breaks"},
    {"shift", "+1, +2: nucleotides left out; -1, -2: nucleotides the codon lacks"},
    {"cds_position", "1-based, in the CDS without gaps: the first extra nucleotide, or the short codon's first"},
    {"letters", "the extra nucleotides, or the short codon's, as the CDS gives them"},
    {"masked", "whether the codon is written NNN (False: whole, the extra nucleotides beside it)"},
    {"masked_after", "residues after it masked too: the frameshift could as well lie after them"}, {nullptr, nullptr}};
PyStructSequence_Field RECORD_FIELDS[] = {
    {"index", "the record's place among the proteins"}, {"fate", "index in FATES"}, {"residues", nullptr},
    {"nucleotides", "of the CDS as checked (the coding region when located)"},
    {"failed", "residues whose triplet does not encode them"},
    {"located", "whether the coding region found in the CDS was used"},
    {"placements", "placements the coding-region search found, or None when it did not run"},
    {"row_length", "of the codon row written (0 when left out)"}, {"sites", "the failing sites, each a SiteReport"},
    {"frameshifts", "each a FrameshiftReport: of the row written, or of the threading found for a record left out"},
    {"stops", "the stop codons under '*' of a record written, each a StopReport (told for one inside it)"},
    {nullptr, nullptr}};
PyStructSequence_Field STOP_FIELDS[] = {{"column", nullptr}, {"residue_number", "1-based, of the '*' in its row"},
                                        {"triplet", "as the CDS gives it"},
                                        {"terminal", "whether no residue follows it"}, {nullptr, nullptr}};
PyStructSequence_Field LOCUS_FIELDS[] = {
    {"rows", "a codon row per record, None when left out; None when text is given"},
    {"text", "the FASTA text of the full rows as a memoryview of UTF-8 bytes, when asked for; else None"},
    {"width", "columns of the protein alignment"},
    {"records", "a RecordReport for each record with anything to tell, in order"},
    {"clean_located", "indices of records written in full, without a problem, from a located coding region"},
    {"reports", "the framed reports, when kept"},
    {"padded", "(index, own width) of each protein row narrower than the alignment"},
    {"stop_codons", "how many stop codons under '*' the records written hold"},
    {"stop_columns", "the columns holding one of them in some row, ascending"}, {nullptr, nullptr}};
PyStructSequence_Desc DESCRIPTIONS[] = {
    {"ntpepmap_cli._native.SiteReport", "A residue whose triplet failed.", SITE_FIELDS, 6},
    {"ntpepmap_cli._native.FrameshiftReport", "A residue whose codon a frameshift breaks.", FRAMESHIFT_FIELDS, 7},
    {"ntpepmap_cli._native.RecordReport", "What became of a record with anything to tell.", RECORD_FIELDS, 11},
    {"ntpepmap_cli._native.StopReport", "A stop codon the protein carries as '*'.", STOP_FIELDS, 4},
    {"ntpepmap_cli._native.LocusTranslation", "A locus back-translated: rows or text, and what to tell.",
     LOCUS_FIELDS, 9}};
enum Type : std::size_t { SITE, FRAMESHIFT, RECORD, STOP, LOCUS };

// Made once, when the module is first imported; they live as long as the process.
PyTypeObject* types[std::size(DESCRIPTIONS)] = {};

PyRef number(std::size_t value) { return checked(PyLong_FromSize_t(value)); }
PyRef truth(bool value) { return PyRef::new_reference(value ? Py_True : Py_False); }
PyRef ascii_str(std::string_view ascii) { return module::to_python_str(ascii); }
PyRef str_of(const std::u32string& letters) {
    const auto length = static_cast<Py_ssize_t>(letters.size());
    return checked(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, letters.data(), length));
}

// A struct sequence of the type holding the items, each owned from the moment it was made.
template <class... Items>
PyRef named_result(Type type, Items... items) {
    PyRef result = checked(PyStructSequence_New(types[type]));
    Py_ssize_t field = 0;
    (PyStructSequence_SetItem(result.get(), field++, items.release()), ...);
    return result;
}

template <class Item, class Convert>
PyRef list_of(const std::vector<Item>& items, Convert convert) {
    PyRef list = checked(PyList_New(static_cast<Py_ssize_t>(items.size())));
    for (std::size_t index = 0; index < items.size(); ++index) {
        PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(index), convert(items[index]).release());
    }
    return list;
}

PyRef site_report(const engine::SiteProblem& site) {
    return named_result(SITE, number(static_cast<std::size_t>(site.reason)), number(site.column),
                        number(site.residue_number), ascii_str({&site.residue, 1}), ascii_str(site.triplet),
                        str_of(site.encodes));
}

PyRef frameshift_report(const engine::FrameshiftSite& site) {
    return named_result(FRAMESHIFT, number(site.column), number(site.residue_number),
                        checked(PyLong_FromLong(site.shift)), number(site.cds_position), ascii_str(site.letters),
                        truth(site.masked), number(site.masked_after));
}

PyRef stop_report(const engine::StopCodon& stop) {
    return named_result(STOP, number(stop.column), number(stop.residue_number), ascii_str(stop.triplet),
                        truth(stop.terminal));
}

PyRef record_report(const engine::ReportedRecord& reported) {
    const engine::RecordOutcome& outcome = reported.outcome;
    return named_result(RECORD, number(reported.index), number(static_cast<std::size_t>(outcome.fate)),
                        number(outcome.residues), number(outcome.nucleotides), number(outcome.failed),
                        truth(outcome.located),
                        outcome.placements ? number(*outcome.placements) : PyRef::new_reference(Py_None),
                        number(reported.row_length), list_of(outcome.problems, site_report),
                        list_of(outcome.frameshifts, frameshift_report), list_of(outcome.stops, stop_report));
}

PyRef padded_row(const std::pair<std::size_t, std::size_t>& padded) {
    return checked(Py_BuildValue("(nn)", static_cast<Py_ssize_t>(padded.first),
                                 static_cast<Py_ssize_t>(padded.second)));
}

template <class Enum, std::size_t Count>
PyRef names_of(const engine::EnumNames<Enum, Count>& table) {
    PyRef names = checked(PyTuple_New(Count));
    for (std::size_t index = 0; index < Count; ++index) {
        PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(index), ascii_str(table.names[index]).release());
    }
    return names;
}

void add_object(PyObject* module, const char* name, PyRef object) {
    if (PyModule_AddObject(module, name, object.get()) != 0) module::throw_python_error();
    (void)object.release();  // the module holds it now
}

void add_names(PyObject* module) {
    const PyRef choices = checked(PyDict_New());
    const std::pair<const char*, PyRef> tables[] = {{"mismatch", names_of(engine::MISMATCH_POLICY_NAMES)},
                                                    {"frameshifts", names_of(engine::FRAMESHIFT_POLICY_NAMES)},
                                                    {"stops", names_of(engine::STOP_POLICY_NAMES)}};
    for (const auto& [option, names] : tables) {
        if (PyDict_SetItemString(choices.get(), option, names.get()) != 0) module::throw_python_error();
    }
    add_object(module, "CHOICES", PyRef::new_reference(choices.get()));
    add_object(module, "FATES", names_of(engine::RECORD_FATE_NAMES));
    add_object(module, "SITE_REASONS", names_of(engine::SITE_FAILURE_NAMES));
}

void add_types(PyObject* module) {
    for (std::size_t type = 0; type < std::size(DESCRIPTIONS); ++type) {
        if (types[type] == nullptr) types[type] = PyStructSequence_NewType(&DESCRIPTIONS[type]);
        if (types[type] == nullptr) module::throw_python_error();
        const char* dot = std::strrchr(DESCRIPTIONS[type].name, '.');
        add_object(module, dot + 1, PyRef::new_reference(reinterpret_cast<PyObject*>(types[type])));
    }
}

// The LocusTranslation of a locus's result, with its rows (or None) and its text (or None).
PyRef locus_translation(const engine::LocusResult& result, PyRef rows, PyRef text) {
    return named_result(LOCUS, std::move(rows), std::move(text), number(result.width),
                        list_of(result.records, record_report), list_of(result.clean_located, number),
                        module::to_python_str(result.reports), list_of(result.padded, padded_row),
                        number(result.stop_codons), list_of(result.stop_columns, number));
}

// A run's settings, read from the attributes of the settings object the tool hands over.
class SettingsReader {
public:
    explicit SettingsReader(PyObject* settings) : settings_(settings) {}

    PyRef attribute(const char* name) const { return checked(PyObject_GetAttrString(settings_, name)); }

    bool flag(const char* name) const { return truth_of(attribute(name).get()); }

    std::size_t count(const char* name, const char* zero) const {
        const Py_ssize_t value = ssize_of(attribute(name).get());
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
        for (const std::string_view each : table.names) {
            names += (names.empty() ? "'" : ", '") + std::string(each) + "'";
        }
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

// The FASTA text is made in a native Text, whose read-only view is returned: memory the
// interpreter never allocates, so that a locus's rows are never held twice, need no encoding on
// the way out and count for nothing in Python's own allocations.
PyRef text_translation(const engine::Locus& locus, std::string_view stem) {
    PyRef text = native_text(locus.text_room());
    const engine::LocusResult result =
        translated(locus, stem, {.rows = {}, .text = native_text_data(text.get())});
    cut_native_text(text.get(), result.text.size());
    return locus_translation(result, PyRef::new_reference(Py_None), native_text_view(text.get()));
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
        PyRef replacement = row ? module::to_python_str(*row) : PyRef::new_reference(Py_None);
        PyList_SetItem(rows.get(), index, replacement.release());
    }
    return locus_translation(result, std::move(rows), PyRef::new_reference(Py_None));
}

PyRef translate_locus_impl(std::string_view file_stem, const engine::LocusSettings& settings,
                           const engine::GeneticCode& code, std::span<const engine::LocusRecord> records) {
    const engine::Locus locus(code, settings, records);
    if (settings.output == engine::LocusOutput::fasta_text) return text_translation(locus, file_stem);
    return row_translation(locus, file_stem);
}

// The (residue, triplet) pairs of ASCII str as records of one residue each, held by a copy of the list.
LocusInputs codon_records(PyObject* given) {
    if (!PyList_Check(given)) module::raise_downcast_error(given, "PyList");
    LocusInputs codons;
    PyObject* const held = codons.holders.emplace_back(checked(PyList_GetSlice(given, 0, PY_SSIZE_T_MAX))).get();
    for (Py_ssize_t index = 0; index < PyList_GET_SIZE(held); ++index) {
        PyObject* pair = PyList_GET_ITEM(held, index);
        const auto ascii = [](PyObject* text) { return PyUnicode_Check(text) && module::is_ascii_str(text); };
        if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2 || !ascii(PyTuple_GET_ITEM(pair, 0)) ||
            !ascii(PyTuple_GET_ITEM(pair, 1))) {
            raise(PyExc_TypeError, "failing must hold (residue, triplet) tuples of ASCII str");
        }
        codons.records.push_back({"", module::borrow_text(PyTuple_GET_ITEM(pair, 0)),
                                  module::borrow_text(PyTuple_GET_ITEM(pair, 1))});
    }
    return codons;
}

// The record indices of a list of int, each one of the locus's.
std::vector<std::size_t> indices_of(PyObject* given, std::size_t records) {
    std::vector<std::size_t> indices;
    const PyRef held = checked(PySequence_List(given));
    for (Py_ssize_t at = 0; at < PyList_GET_SIZE(held.get()); ++at) {
        const std::size_t index = PyLong_AsSize_t(PyList_GET_ITEM(held.get(), at));
        if (PyErr_Occurred()) module::throw_python_error();
        if (index >= records) raise(PyExc_IndexError, "left_out names a record beyond the locus");
        indices.push_back(index);
    }
    return indices;
}

// The built-in code of settings.code's number.
const GeneticCodeDefinition& built_in_code(PyObject* code) {
    const Py_ssize_t number = ssize_of(code);
    const auto found = std::find_if(GENETIC_CODES.begin(), GENETIC_CODES.end(),
                                    [number](const GeneticCodeDefinition& each) { return each.number == number; });
    if (found == GENETIC_CODES.end()) raise(PyExc_ValueError, "no built-in genetic code " + std::to_string(number));
    return *found;
}

TableNumber code_number_of(PyObject* settings) {
    return built_in_code(SettingsReader(settings).attribute("code").get()).number;
}

// The letter of each codon under settings.code: a built-in number's, or a dict's of letter to
// codons, read in its order (a codon given twice is the later letter's).
engine::CodonLetters codon_letters_of(PyObject* settings) {
    const PyRef code = SettingsReader(settings).attribute("code");
    if (!PyDict_Check(code.get())) return engine::codon_letters(built_in_code(code.get()).amino_acids);
    engine::CodonLetters letters = engine::codon_letters({});
    const PyRef items = checked(PyDict_Items(code.get()));
    for (Py_ssize_t at = 0; at < PyList_GET_SIZE(items.get()); ++at) {
        PyObject* item = PyList_GET_ITEM(items.get(), at);
        const char32_t letter = module::to_char(PyTuple_GET_ITEM(item, 0));
        for (const std::string& codon : module::to_text_list(PyTuple_GET_ITEM(item, 1))) {
            engine::give_letter(letters, codon, letter);
        }
    }
    return letters;
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

PyObject* list_argument(PyObject* given) {
    if (!PyList_Check(given)) module::raise_downcast_error(given, "PyList");
    return given;
}

std::size_t wrap_of(PyObject* given) {
    const Py_ssize_t wrap = ssize_of(given);
    if (wrap < 0) raise(PyExc_ValueError, "wrap must be 0 (no wrapping) or more");
    return static_cast<std::size_t>(wrap);
}

std::size_t left_out_of(PyObject* given) {
    const Py_ssize_t left_out = ssize_of(given);
    if (left_out < 0) raise(PyExc_ValueError, "left_out must be 0 or more");
    return static_cast<std::size_t>(left_out);
}

constexpr std::string_view TRANSLATE_LOCUS_PARAMETERS[] = {"file_stem", "settings", "proteins", "cds", "cds_of"};
constexpr auto TRANSLATE_LOCUS = described("translate_locus", TRANSLATE_LOCUS_PARAMETERS, 4);
constexpr std::string_view CODES_FITTING_PARAMETERS[] = {"settings", "proteins", "cds", "cds_of", "failing", "left_out"};
constexpr auto CODES_FITTING = described("codes_fitting_locus", CODES_FITTING_PARAMETERS, 6);
constexpr std::string_view LOOKS_TRIMMED_PARAMETERS[] = {"settings", "proteins", "cds", "cds_of", "left_out"};
constexpr auto LOOKS_TRIMMED = described("looks_trimmed", LOOKS_TRIMMED_PARAMETERS, 5);
constexpr std::string_view FASTA_TEXT_PARAMETERS[] = {"records", "wrap"};
constexpr auto FASTA_TEXT = described("fasta_text", FASTA_TEXT_PARAMETERS, 2);

PyObject* translate_locus(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return enter<TRANSLATE_LOCUS>(args, nargs, kwnames, [](const auto& slots, module::ArgumentConversion& convert) {
        const std::string_view file_stem = convert("file_stem", module::borrow_text, slots[0]);
        const engine::LocusSettings settings = convert("settings", settings_of, slots[1]);
        CodonTable table;
        const engine::GeneticCode code = code_of(slots[1], table);
        const LocusInputs inputs = locus_inputs(slots[2], slots[3], slots[4]);
        return translate_locus_impl(file_stem, settings, code, inputs.records);
    });
}

PyObject* codes_fitting_locus(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return enter<CODES_FITTING>(args, nargs, kwnames, [](const auto& slots, module::ArgumentConversion& convert) {
        const engine::LocusSettings settings = convert("settings", settings_of, slots[0]);
        const LocusInputs inputs = locus_inputs(slots[1], slots[2], slots[3] == Py_None ? nullptr : slots[3]);
        const LocusInputs failing = codon_records(slots[4]);
        const engine::LocusRun run{.records = inputs.records, .failing = failing.records,
                                   .left_out = convert("left_out", left_out_of, slots[5]),
                                   .code = convert("settings", code_number_of, slots[0])};
        std::vector<TableNumber> codes;
        {
            const WithoutInterpreterLock unlocked;
            codes = engine::codes_fitting_locus(run, settings);
        }
        return list_of(codes, [](TableNumber code) { return checked(PyLong_FromLong(code)); });
    });
}

PyObject* looks_trimmed(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return enter<LOOKS_TRIMMED>(args, nargs, kwnames, [](const auto& slots, module::ArgumentConversion& convert) {
        const engine::CodonLetters letters = convert("settings", codon_letters_of, slots[0]);
        const LocusInputs inputs = locus_inputs(slots[1], slots[2], slots[3] == Py_None ? nullptr : slots[3]);
        const std::vector<std::size_t> left_out = indices_of(slots[4], inputs.records.size());
        bool trimmed = false;
        {
            const WithoutInterpreterLock unlocked;
            trimmed = engine::looks_trimmed(inputs.records, left_out, letters);
        }
        return truth(trimmed);
    });
}

PyObject* fasta_text(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return enter<FASTA_TEXT>(args, nargs, kwnames, [](const auto& slots, module::ArgumentConversion& convert) {
        PyObject* const records = convert("records", list_argument, slots[0]);
        return fasta_text_impl(records, convert("wrap", wrap_of, slots[1]));
    });
}

constexpr char TRANSLATE_LOCUS_DOC[] =
    "translate_locus(file_stem, settings, proteins, cds, cds_of=None)\n--\n\n"
    "Back-translates a locus: proteins are (identifier, aligned row) tuples, cds the coding sequence of each;\n"
    "or proteins and cds are RecordSets and cds_of the index in cds of each protein record's CDS.\n"
    "settings gives by attribute: code (a built-in number or a dict of letter to codons), mismatch, frameshifts\n"
    "and stops (names in CHOICES), upper_case, resolve_ambiguity, t_for_u, keep_reports, locate, both_strands,\n"
    "trim_stop with terminal_stops (upper-case codons), keep_short, fasta_text with wrap, threads (0: one per\n"
    "CPU the process may use; 8 at most). Rows are read with '.' and '~' as gaps and made as wide as the\n"
    "widest; a CDS loses its gap letters and, with trim_stop, a terminal stop codon just beyond the residues;\n"
    "one with fewer triplets than residues is held back unless keep_short (or threaded with frameshifts).\n"
    "The lock is let go while the records are translated. Returns a LocusTranslation, whose text (with\n"
    "fasta_text) is a read-only memoryview.";

const PyMethodDef ENGINE_METHODS[] = {
    {"translate_locus", as_method(translate_locus), METH_FASTCALL | METH_KEYWORDS, TRANSLATE_LOCUS_DOC},
    {"codes_fitting_locus", as_method(codes_fitting_locus), METH_FASTCALL | METH_KEYWORDS,
     "codes_fitting_locus(settings, proteins, cds, cds_of, failing, left_out) -> [int]\n--\n\nThe other built-in "
     "codes (than settings.code, a number) that every failing (residue, triplet) pair fits\nand under which the "
     "locus (as for translate_locus; cds_of may be None) fails no residue, mismatches masked, and leaves\nout at most left_out "
     "records; ascending."},
    {"looks_trimmed", as_method(looks_trimmed), METH_FASTCALL | METH_KEYWORDS,
     "looks_trimmed(settings, proteins, cds, cds_of, left_out) -> bool\n--\n\nWhether more than half of the "
     "locus's records were left out (left_out: their indices) and each\n(or each of a hundred spread over them) "
     "is found, in order, as two or more stretches of its CDS's\ntranslation under settings.code."},
    {"fasta_text", as_method(fasta_text), METH_FASTCALL | METH_KEYWORDS,
     "fasta_text(records, wrap) -> bytes\n--\n\nThe (identifier, row) records as the UTF-8 text of a FASTA file, rows "
     "on lines of at most\nwrap letters (0: one line each)."},
};

}  // namespace

std::span<const PyMethodDef> engine_methods() noexcept { return ENGINE_METHODS; }

bool add_engine_types(PyObject* module) noexcept {
    const PyRef added = PyRef::steal(module::guarded_call([module](module::ArgumentConversion&) {
        add_types(module);
        add_names(module);
        return PyRef::new_reference(Py_None);
    }));
    return !added.is_null();
}

}  // namespace ntpepmap::tool_extension
