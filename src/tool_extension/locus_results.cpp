// A locus's result as Python sees it: struct sequences (tuples whose fields also have names), and
// the engine's names of its choices and fates, each told by its index in them.
#include "tool_extension/locus_results.hpp"

#include <cstring>
#include <utility>

#include "module/python_text.hpp"
#include "tool_extension/entry.hpp"
#include "tool_extension/tool_methods.hpp"

namespace ntpepmap::tool_extension {
namespace {

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
    {"text", "the FASTA text of the full rows as UTF-8 bytes, when asked for; else None"},
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
    return checked(PyUnicode_FromKindAndData(PyUnicode_4BYTE_KIND, letters.data(), static_cast<Py_ssize_t>(letters.size())));
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
    return named_result(FRAMESHIFT, number(site.column), number(site.residue_number), checked(PyLong_FromLong(site.shift)),
                        number(site.cds_position), ascii_str(site.letters), truth(site.masked), number(site.masked_after));
}

PyRef stop_report(const engine::StopCodon& stop) {
    return named_result(STOP, number(stop.column), number(stop.residue_number), ascii_str(stop.triplet), truth(stop.terminal));
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
    return checked(Py_BuildValue("(nn)", static_cast<Py_ssize_t>(padded.first), static_cast<Py_ssize_t>(padded.second)));
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

}  // namespace

PyRef locus_translation(const engine::LocusResult& result, PyRef rows, PyRef text) {
    return named_result(LOCUS, std::move(rows), std::move(text), number(result.width),
                        list_of(result.records, record_report), list_of(result.clean_located, number),
                        module::to_python_str(result.reports), list_of(result.padded, padded_row),
                        number(result.stop_codons), list_of(result.stop_columns, number));
}

bool add_engine_types(PyObject* module) noexcept {
    const PyRef added = PyRef::steal(module::guarded_call([module](module::ArgumentConversion&) {
        add_types(module);
        add_names(module);
        return PyRef::new_reference(Py_None);
    }));
    return !added.is_null();
}

}  // namespace ntpepmap::tool_extension
