// The tool's engine from Python: one call back-translates a whole locus; the hints ask what the
// locus would come to under the other built-in codes and whether its proteins were trimmed; and
// the one FASTA writer, so that the tool's other files are written as the engine writes its own.
#include <string>
#include <vector>

#include "engine/code_fit.hpp"
#include "engine/locus_inputs.hpp"
#include "engine/locus_settings.hpp"
#include "engine/trim_signs.hpp"
#include "module/records.hpp"
#include "tool_extension/entry.hpp"
#include "tool_extension/record_set_binding.hpp"
#include "tool_extension/locus_results.hpp"
#include "writer/fasta_text.hpp"

namespace ntpepmap::tool_extension {
namespace {

using module::ArgumentConversion;
using module::raise;

// A list of indices, each 0 or more.
std::vector<std::size_t> indices_of(PyObject* given) {
    const PyRef held = checked(PySequence_List(given));
    std::vector<std::size_t> indices(static_cast<std::size_t>(PyList_GET_SIZE(held.get())));
    for (std::size_t at = 0; at < indices.size(); ++at) {
        indices[at] = PyLong_AsSize_t(PyList_GET_ITEM(held.get(), static_cast<Py_ssize_t>(at)));
        if (PyErr_Occurred()) module::throw_python_error();
    }
    return indices;
}

// The locus's records: the proteins of one record set, each with the CDS record of another that
// cds_of names. They are views into the sets, which the caller's arguments keep for the call and
// which nothing changes meanwhile: they are converted last, after any argument that may run
// Python code.
std::vector<engine::LocusRecord> locus_records(PyObject* proteins, PyObject* cds, PyObject* cds_of) {
    const reader::RecordSet* protein_set = record_set_of(proteins);
    const reader::RecordSet* cds_set = record_set_of(cds);
    if (protein_set == nullptr || cds_set == nullptr) raise(PyExc_TypeError, "proteins and cds must be record sets");
    return engine::paired_records(*protein_set, *cds_set, indices_of(cds_of));
}

// codes_fitting_locus's failing: (residue, triplet) pairs of ASCII str, as records of one residue
// each.
constexpr char NOT_CODONS[] = "failing must hold (residue, triplet) tuples of ASCII str";

std::vector<engine::LocusRecord> codon_records(const TextPairs& failing) {
    std::vector<engine::LocusRecord> records;
    for (const auto& [residue, triplet] : failing.texts) {
        if (!module::is_ascii(residue) || !module::is_ascii(triplet)) raise(PyExc_TypeError, NOT_CODONS);
        records.push_back({"", residue, triplet});
    }
    return records;
}

// The settings object the tool hands over, read by attribute; the engine checks each value.
class AttributeSettings final : public engine::SettingSource {
public:
    explicit AttributeSettings(PyObject* settings) : settings_(settings) {}

    PyRef attribute(const char* name) const { return checked(PyObject_GetAttrString(settings_, name)); }
    bool flag(const char* name) override { return truth_of(attribute(name).get()); }
    std::ptrdiff_t number(const char* name) override { return ssize_of(attribute(name).get()); }
    std::vector<std::string> texts(const char* name) override { return module::to_text_list(attribute(name).get()); }
    std::string text(const char* name) override {
        const PyRef given = attribute(name);
        if (!PyUnicode_Check(given.get())) raise(PyExc_TypeError, std::string("settings.") + name + " must be a str");
        return std::string(module::borrow_text(given.get()));
    }

private:
    PyObject* settings_;
};

// The settings, each read once, and settings.code: a built-in number, or a dict of letter to
// codons read in its order.
struct LocusSetup {
    engine::LocusSettings settings;
    engine::CodeSetting code;
};

LocusSetup setup_of(PyObject* settings) {
    AttributeSettings source(settings);
    LocusSetup setup{engine::read_locus_settings(source), {}};
    const PyRef code = source.attribute("code");
    setup.code.is_own = PyDict_Check(code.get()) != 0;
    if (setup.code.is_own) {
        setup.code.own = module::to_code_entries(code.get());
    } else {
        setup.code.number = PyLong_AsLong(code.get());
        if (PyErr_Occurred()) module::throw_python_error();
    }
    return setup;
}

// The FASTA text is made in a native Text, whose read-only view is returned: memory the
// interpreter never allocates, so that a locus's rows are never held twice, need no encoding on
// the way out and count for nothing in Python's own allocations. Only the translation runs with
// the lock let go, here and below: it touches nothing of Python.
PyRef text_translation(const engine::Locus& locus, std::string_view stem) {
    PyRef text = native_text(locus.text_room());
    const engine::OutputRoom room{.rows = {}, .text = native_text_data(text.get())};
    const engine::LocusResult result = without_lock([&] { return locus.translate(stem, room); });
    cut_native_text(text.get(), result.text.size());
    return locus_translation(result, PyRef::new_reference(Py_None), native_text_view(text.get()));
}

// Each row is written into a str made beforehand as long as a full row; one that came out
// shorter is cut to its length, one left out is None.
PyRef row_translation(const engine::Locus& locus, std::string_view stem) {
    std::vector<char*> rooms;
    PyRef rows = new_list(locus.records().size(), [&](std::size_t) {
        PyRef row = checked(PyUnicode_New(static_cast<Py_ssize_t>(locus.row_room()), 127));
        rooms.push_back(module::ascii_data(row.get()));
        return row;
    });
    const engine::LocusResult result = without_lock([&] { return locus.translate(stem, {.rows = rooms}); });
    for (std::size_t index = 0; index < rooms.size(); ++index) {
        const std::optional<std::string_view>& row = result.rows[index];
        if (row && row->size() == locus.row_room()) continue;
        PyList_SetItem(rows.get(), static_cast<Py_ssize_t>(index), to_python(row).release());
    }
    return locus_translation(result, std::move(rows), PyRef::new_reference(Py_None));
}

PyRef translate_locus_entry(PyObject*, Slots slots, ArgumentConversion& convert) {
    const std::string_view file_stem = convert("file_stem", module::borrow_text, slots[0]);
    const LocusSetup setup = convert("settings", setup_of, slots[1]);
    CodonTable table;
    const engine::GeneticCode code = engine::genetic_code(setup.code, table);
    const std::vector<engine::LocusRecord> records = locus_records(slots[2], slots[3], slots[4]);
    const engine::Locus locus(code, setup.settings, records);
    if (setup.settings.output == engine::LocusOutput::fasta_text) return text_translation(locus, file_stem);
    return row_translation(locus, file_stem);
}

PyRef codes_fitting_entry(PyObject*, Slots slots, ArgumentConversion& convert) {
    const LocusSetup setup = convert("settings", setup_of, slots[0]);
    const auto left_out = [](PyObject* given) { return count_of(given, "left_out must be 0 or more"); };
    const std::size_t left_out_count = convert("left_out", left_out, slots[5]);
    const TextPairs failing = text_pairs(slots[4], NOT_CODONS);
    const std::vector<engine::LocusRecord> codons = codon_records(failing);
    const std::vector<engine::LocusRecord> records = locus_records(slots[1], slots[2], slots[3]);
    const engine::LocusRun run{.records = records, .failing = codons, .left_out = left_out_count,
                               .code = engine::built_in_number(setup.code)};
    const std::vector<TableNumber> codes =
        without_lock([&] { return engine::codes_fitting_locus(run, setup.settings); });
    return new_list(codes.size(), [&](std::size_t index) { return to_python(codes[index]); });
}

PyRef looks_trimmed_entry(PyObject*, Slots slots, ArgumentConversion& convert) {
    const engine::CodonLetters letters = engine::codon_letters_of(convert("settings", setup_of, slots[0]).code);
    const std::vector<std::size_t> left_out = convert("left_out", indices_of, slots[4]);
    const std::vector<engine::LocusRecord> records = locus_records(slots[1], slots[2], slots[3]);
    return to_python(without_lock([&] { return engine::looks_trimmed(records, left_out, letters); }));
}

// The (identifier, row) records as a FASTA file's UTF-8 text.
PyRef fasta_text_entry(PyObject*, Slots slots, ArgumentConversion& convert) {
    const TextPairs records = text_pairs(slots[0], "records must be (identifier, row) tuples of str");
    const auto wrap_of = [](PyObject* given) { return count_of(given, "wrap must be 0 (no wrapping) or more"); };
    const std::size_t wrap = convert("wrap", wrap_of, slots[1]);
    const auto size = static_cast<Py_ssize_t>(writer::fasta_text_size(records.texts, wrap));
    PyRef text = checked(PyBytes_FromStringAndSize(nullptr, size));
    writer::put_fasta_text(PyBytes_AS_STRING(text.get()), records.texts, wrap);
    return text;
}

constexpr std::string_view TRANSLATE_LOCUS_PARAMETERS[] = {"file_stem", "settings", "proteins", "cds", "cds_of"};
constexpr auto TRANSLATE_LOCUS = described("translate_locus", TRANSLATE_LOCUS_PARAMETERS, 5);
constexpr std::string_view CODES_FITTING_PARAMETERS[] = {"settings", "proteins", "cds", "cds_of", "failing", "left_out"};
constexpr auto CODES_FITTING = described("codes_fitting_locus", CODES_FITTING_PARAMETERS, 6);
constexpr std::string_view LOOKS_TRIMMED_PARAMETERS[] = {"settings", "proteins", "cds", "cds_of", "left_out"};
constexpr auto LOOKS_TRIMMED = described("looks_trimmed", LOOKS_TRIMMED_PARAMETERS, 5);
constexpr std::string_view FASTA_TEXT_PARAMETERS[] = {"records", "wrap"};
constexpr auto FASTA_TEXT = described("fasta_text", FASTA_TEXT_PARAMETERS, 2);

constexpr char TRANSLATE_LOCUS_DOC[] =
    "translate_locus(file_stem, settings, proteins, cds, cds_of)\n--\n\n"
    "Back-translates a locus: proteins and cds are RecordSets, cds_of the index in cds of each protein\n"
    "record's CDS.\n"
    "settings gives by attribute: code (a built-in number or a dict of letter to codons), mismatch, frameshifts\n"
    "and stops (names in CHOICES), upper_case, resolve_ambiguity, t_for_u, keep_reports, locate, both_strands,\n"
    "trim_stop with terminal_stops (upper-case codons), keep_short, fasta_text with wrap, threads (0: one per\n"
    "CPU the process may use; 8 at most). Rows are read with '.' and '~' as gaps and made as wide as the\n"
    "widest; a CDS loses its gap letters and, with trim_stop, a terminal stop codon just beyond the residues;\n"
    "one with fewer triplets than residues is held back unless keep_short (or threaded with frameshifts).\n"
    "The lock is let go while the records are translated. Returns a LocusTranslation, whose text (with\n"
    "fasta_text) is a read-only memoryview.";

PyMethodDef LOCUS_FUNCTIONS[] = {
    {"translate_locus", as_method(entry<TRANSLATE_LOCUS, translate_locus_entry>), METH_FASTCALL | METH_KEYWORDS, TRANSLATE_LOCUS_DOC},
    {"codes_fitting_locus", as_method(entry<CODES_FITTING, codes_fitting_entry>), METH_FASTCALL | METH_KEYWORDS,
     "codes_fitting_locus(settings, proteins, cds, cds_of, failing, left_out) -> [int]\n--\n\nThe other built-in "
     "codes (than settings.code, a number) that every failing (residue, triplet) pair fits\nand under which the "
     "locus (as for translate_locus) fails no residue, mismatches masked, and leaves\nout at most left_out "
     "records; ascending."},
    {"looks_trimmed", as_method(entry<LOOKS_TRIMMED, looks_trimmed_entry>), METH_FASTCALL | METH_KEYWORDS,
     "looks_trimmed(settings, proteins, cds, cds_of, left_out) -> bool\n--\n\nWhether more than half of the "
     "locus's records were left out (left_out: their indices) and each\n(or each of a hundred spread over them) "
     "is found, in order, as two or more stretches of its CDS's\ntranslation under settings.code."},
    {"fasta_text", as_method(entry<FASTA_TEXT, fasta_text_entry>), METH_FASTCALL | METH_KEYWORDS,
     "fasta_text(records, wrap) -> bytes\n--\n\nThe (identifier, row) records as the UTF-8 text of a FASTA file, rows "
     "on lines of at most\nwrap letters (0: one line each)."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void add_locus_functions(PyObject* module) {
    if (PyModule_AddFunctions(module, LOCUS_FUNCTIONS) != 0) module::throw_python_error();
}

}  // namespace ntpepmap::tool_extension
