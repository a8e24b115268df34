// A locus's result in Python: struct sequences (tuples whose fields also have names, which the
// tool reads), the engine's names of its choices and fates (a fate or a site's reason is told by
// its index in them), and the native Text that the FASTA text of a locus is written into.
#include "tool_extension/locus_results.hpp"

#include <cstdlib>
#include <new>

#include "engine/engine.hpp"

namespace ntpepmap::tool_extension {
namespace {

using tool_extension::to_python;  // beside the overloads for the results below

// A Text: its bytes, from malloc, and how many of them were written.
struct TextObject {
    PyObject_HEAD
    char* bytes;
    Py_ssize_t size;
};

PyTypeObject* text_type = nullptr;

TextObject& text_of(PyObject* text) noexcept { return *reinterpret_cast<TextObject*>(text); }

// Sets BufferError itself where the view asked for cannot be had (a writable one).
int get_buffer(PyObject* self, Py_buffer* view, int flags) noexcept {
    return PyBuffer_FillInfo(view, self, text_of(self).bytes, text_of(self).size, 1, flags);
}

void deallocate(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    std::free(text_of(self).bytes);
    type->tp_free(self);
    Py_DECREF(type);
}

constexpr char REFUSAL[] = "a Text is made by translate_locus";

PyType_Slot SLOTS[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(deallocate)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new<REFUSAL>)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(get_buffer)},
    {Py_tp_doc, const_cast<char*>("Bytes made natively; read them through a memoryview.")},
    {0, nullptr},
};

PyType_Spec SPEC = {"ntpepmap_cli._native.Text", sizeof(TextObject), 0, Py_TPFLAGS_DEFAULT, SLOTS};


// Each type's fields; columns are 1-based, of the alignment row.
PyStructSequence_Field SITE_FIELDS[] = {
    {"reason", "index in SITE_REASONS"}, {"column", nullptr}, {"residue_number", "1-based, in its row"},
    {"residue", nullptr}, {"triplet", "as the CDS gives it"}, {"encodes", "what it encodes in the code"}, {}};
PyStructSequence_Field FRAMESHIFT_FIELDS[] = {
    {"column", nullptr}, {"residue_number", "of the residue whose codon it breaks"},
    {"shift", "+: nucleotides left out; -: nucleotides lacking"}, {"cds_position", "1-based, in the CDS"},
    {"letters", "the extra or short codon's nucleotides"}, {"masked", "whether the codon is written NNN"},
    {"masked_after", "residues after it masked too"}, {}};
PyStructSequence_Field RECORD_FIELDS[] = {
    {"index", "among the proteins"}, {"fate", "index in FATES"}, {"residues", nullptr},
    {"nucleotides", "of the CDS as checked"}, {"failed", "residues whose triplet fails"},
    {"located", "whether a coding region found was used"}, {"placements", "found by the search, or None"},
    {"row_length", "0 when left out"}, {"sites", "SiteReports"}, {"frameshifts", "FrameshiftReports"},
    {"stops", "StopReports"}, {"resolved", "columns whose ambiguous triplet was resolved, when noted"},
    {"partial_codon", "nucleotides of a 3'-partial last codon completed with N, or 0"}, {}};
PyStructSequence_Field STOP_FIELDS[] = {{"column", nullptr}, {"residue_number", "of the '*'"},
                                        {"triplet", nullptr}, {"terminal", "whether no residue follows"},
                                        {"residue", "'*', 'X', or 'U' or 'O' read through it"}, {}};
PyStructSequence_Field LOCUS_FIELDS[] = {
    {"rows", "a codon row per record, None when left out or with text"},
    {"text", "the FASTA text as a read-only memoryview, or None"}, {"width", "of the protein alignment"},
    {"records", "a RecordReport for each record with anything to tell"},
    {"clean_located", "records written whole from a located coding region"}, {"reports", "framed, when kept"},
    {"padded", "(index, own width) of each narrower protein row"}, {"stop_codons", "under '*', X, U or O, written"},
    {"stop_columns", "holding one of them, ascending"},
    {"stops_trimmed", "terminal stop codons left out of the records written"},
    {"cds_gaps", "gaps taken out of the CDS of the records written"}, {}};
PyStructSequence_Desc DESCRIPTIONS[] = {
    {"ntpepmap_cli._native.SiteReport", "A residue whose triplet failed.", SITE_FIELDS, 6},
    {"ntpepmap_cli._native.FrameshiftReport", "A residue whose codon a frameshift breaks.", FRAMESHIFT_FIELDS, 7},
    {"ntpepmap_cli._native.RecordReport", "What became of a record with anything to tell.", RECORD_FIELDS, 13},
    {"ntpepmap_cli._native.StopReport", "A stop codon the protein carries as '*' or X, or reads through as U or O.",
     STOP_FIELDS, 5},
    {"ntpepmap_cli._native.LocusTranslation", "A locus back-translated: rows or text, and what to tell.",
     LOCUS_FIELDS, 11}};
enum Type : std::size_t { SITE, FRAMESHIFT, RECORD, STOP, LOCUS };

// Made once, when the module is first imported; they live as long as the process.
PyTypeObject* types[std::size(DESCRIPTIONS)] = {};

PyRef to_python(const engine::SiteProblem& site);
PyRef to_python(const engine::FrameshiftSite& site);
PyRef to_python(const engine::StopCodon& stop);
PyRef to_python(const engine::ReportedRecord& reported);

PyRef to_python(const PyRef& object) { return PyRef::new_reference(object.get()); }

PyRef to_python(const std::u32string& letters) {
    const auto length = static_cast<Py_ssize_t>(letters.size());
    return checked(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, letters.data(), length));
}

PyRef to_python(const std::pair<std::size_t, std::size_t>& pair) {
    const PyRef first = to_python(pair.first);
    const PyRef second = to_python(pair.second);
    return checked(PyTuple_Pack(2, first.get(), second.get()));
}

template <class Item>
PyRef to_python(const std::vector<Item>& items) {
    return new_list(items.size(), [&](std::size_t index) { return to_python(items[index]); });
}

// A struct sequence of the type holding the items, in the order of its fields.
template <class... Items>
PyRef named_result(Type type, const Items&... items) {
    PyRef result = checked(PyStructSequence_New(types[type]));
    Py_ssize_t field = 0;
    (PyStructSequence_SetItem(result.get(), field++, to_python(items).release()), ...);
    return result;
}

std::size_t index_of(auto value) { return static_cast<std::size_t>(value); }

PyRef to_python(const engine::SiteProblem& site) {
    return named_result(SITE, index_of(site.reason), site.column, site.residue_number,
                        std::string_view(&site.residue, 1), site.triplet, site.encodes);
}

PyRef to_python(const engine::FrameshiftSite& site) {
    return named_result(FRAMESHIFT, site.column, site.residue_number, site.shift, site.cds_position, site.letters,
                        site.masked, site.masked_after);
}

PyRef to_python(const engine::StopCodon& stop) {
    return named_result(STOP, stop.column, stop.residue_number, stop.triplet, stop.terminal,
                        std::string_view(&stop.residue, 1));
}

PyRef to_python(const engine::ReportedRecord& reported) {
    const engine::RecordOutcome& outcome = reported.outcome;
    return named_result(RECORD, reported.index, index_of(outcome.fate), outcome.residues, outcome.nucleotides,
                        outcome.failed, outcome.located, outcome.placements, reported.row_length, outcome.problems,
                        outcome.frameshifts, outcome.stops, outcome.resolved, outcome.partial_codon);
}

template <class Enum, std::size_t Count>
PyRef names_of(const engine::EnumNames<Enum, Count>& table) {
    PyRef names = checked(PyTuple_New(Count));
    for (std::size_t index = 0; index < Count; ++index) {
        PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(index), to_python(table.names[index]).release());
    }
    return names;
}

}  // namespace

PyRef locus_translation(const engine::LocusResult& result, PyRef rows, PyRef text) {
    return named_result(LOCUS, rows, text, result.width, result.records, result.clean_located, result.reports,
                        result.padded, result.stop_codons, result.stop_columns, result.stops_trimmed,
                        result.cds_gaps);
}

void add_locus_results(PyObject* module) {
    for (std::size_t type = 0; type < std::size(DESCRIPTIONS); ++type) {
        if (types[type] == nullptr) types[type] = PyStructSequence_NewType(&DESCRIPTIONS[type]);
        if (types[type] == nullptr) module::throw_python_error();
        add_to_module(module, std::strrchr(DESCRIPTIONS[type].name, '.') + 1,
                      PyRef::new_reference(reinterpret_cast<PyObject*>(types[type])));
    }
    const PyRef choices = checked(PyDict_New());
    const std::pair<const char*, PyRef> tables[] = {{"mismatch", names_of(engine::MISMATCH_POLICY_NAMES)},
                                                    {"frameshifts", names_of(engine::FRAMESHIFT_POLICY_NAMES)},
                                                    {"stops", names_of(engine::STOP_POLICY_NAMES)}};
    for (const auto& [option, names] : tables) {
        if (PyDict_SetItemString(choices.get(), option, names.get()) != 0) module::throw_python_error();
    }
    add_to_module(module, "CHOICES", PyRef::new_reference(choices.get()));
    add_to_module(module, "FATES", names_of(engine::RECORD_FATE_NAMES));
    add_to_module(module, "SITE_REASONS", names_of(engine::SITE_FAILURE_NAMES));
}

PyRef native_text(std::size_t size) {
    PyRef text = checked(PyType_GenericAlloc(text_type, 0));
    text_of(text.get()).bytes = static_cast<char*>(std::malloc(size == 0 ? 1 : size));
    if (text_of(text.get()).bytes == nullptr) throw std::bad_alloc();
    text_of(text.get()).size = static_cast<Py_ssize_t>(size);
    return text;
}

char* native_text_data(PyObject* text) noexcept { return text_of(text).bytes; }

void cut_native_text(PyObject* text, std::size_t size) noexcept {
    if (static_cast<Py_ssize_t>(size) < text_of(text).size) text_of(text).size = static_cast<Py_ssize_t>(size);
}

PyRef native_text_view(PyObject* text) { return checked(PyMemoryView_FromObject(text)); }

void add_native_text_type(PyObject* module) { add_type(module, SPEC, text_type); }

}  // namespace ntpepmap::tool_extension
