// The tool's engine from Python: one call back-translates a whole locus.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <initializer_list>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <vector>

#if __has_include(<sys/mman.h>)
#include <sys/mman.h>
#endif

#include "engine/alignment_rows.hpp"
#include "engine/engine.hpp"
#include "translator/codon_lookup.hpp"
#include "writer/fasta_text.hpp"
#include "parallel/shares.hpp"
#include "module/py_ref.hpp"
#include "tool_extension/binding_errors.hpp"
#include "tool_extension/interpreter_lock.hpp"
#include "module/python_text.hpp"
#include "tool_extension/native_text.hpp"
#include "tool_extension/record_set_binding.hpp"
#include "tool_extension/tool_methods.hpp"

namespace ntpepmap::tool_extension {
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

// A run's settings, read from the attributes of the settings object the tool hands over.
class SettingsReader {
public:
    explicit SettingsReader(PyObject* settings) : settings_(settings) {}

    PyRef attribute(const char* name) const { return checked(PyObject_GetAttrString(settings_, name)); }

    bool flag(const char* name) const {
        const int value = PyObject_IsTrue(attribute(name).get());
        if (value < 0) throw PythonError{};
        return value == 1;
    }

    long number(const char* name) const {
        const long value = PyLong_AsLong(attribute(name).get());
        if (value == -1 && PyErr_Occurred()) throw PythonError{};
        return value;
    }

    engine::MismatchPolicy mismatch() const {
        return choice<engine::MismatchPolicy>(
            "mismatch", {{"mask", engine::MismatchPolicy::mask},
                         {"keep", engine::MismatchPolicy::keep},
                         {"drop", engine::MismatchPolicy::drop}});
    }

    engine::FrameshiftPolicy frameshifts() const {
        return choice<engine::FrameshiftPolicy>(
            "frameshifts", {{"mask", engine::FrameshiftPolicy::mask}, {"drop", engine::FrameshiftPolicy::drop}});
    }

    engine::StopPolicy stops() const {
        return choice<engine::StopPolicy>("stops", {{"keep", engine::StopPolicy::keep},
                                                    {"mask", engine::StopPolicy::mask},
                                                    {"drop-columns", engine::StopPolicy::drop_columns}});
    }

    // The value a str attribute names; anything else is refused with the names it may take.
    template <class Value>
    Value choice(const char* name, std::initializer_list<std::pair<std::string_view, Value>> choices) const {
        const PyRef given = attribute(name);
        if (!PyUnicode_Check(given.get())) fail(PyExc_TypeError, std::string("settings.") + name + " must be a str");
        const std::string_view text = utf8_of(given.get());
        std::string names;
        for (const auto& [choice_name, value] : choices) {
            if (text == choice_name) return value;
            names += (names.empty() ? "'" : ", '") + std::string(choice_name) + "'";
        }
        fail(PyExc_ValueError, std::string("settings.") + name + " must be one of " + names);
    }

    // The codons of settings.terminal_stops (upper-case DNA) as bits of TCAG codon numbers.
    std::uint64_t terminal_stops() const {
        const PyRef codons = checked(PySequence_Fast(attribute("terminal_stops").get(),
                                                     "settings.terminal_stops must be codons"));
        std::uint64_t bits = 0;
        for (Py_ssize_t i = 0; i < PySequence_Fast_GET_SIZE(codons.get()); ++i) {
            PyObject* codon = PySequence_Fast_GET_ITEM(codons.get(), i);
            const std::string_view letters = PyUnicode_Check(codon) ? utf8_of(codon) : std::string_view();
            const unsigned number = letters.size() == 3 ? codon_number(static_cast<unsigned char>(letters[0]),
                                                                       static_cast<unsigned char>(letters[1]),
                                                                       static_cast<unsigned char>(letters[2]))
                                                        : 64;
            if (number >= 64) fail(PyExc_ValueError, "settings.terminal_stops must be upper-case DNA codons");
            bits |= std::uint64_t{1} << number;
        }
        return bits;
    }

private:
    PyObject* settings_;
};

struct LocusArguments {
    std::string_view file_stem;
    PyRef code;
    PyObject* proteins;  // [(identifier, aligned row)]
    PyObject* cds;       // [coding sequence of each protein record]
    PyObject* cds_of;    // with record sets: [index in cds of each protein's CDS record]; else null
    engine::EngineOptions options;
    bool fasta_text;
    std::size_t wrap;  // letters per line of the FASTA text; 0: a row on one line
    unsigned threads;  // at most this many at once; 0: as many as the process may use
};

LocusArguments arguments_of(PyObject* const* args, Py_ssize_t count) {
    if (count != 4 && count != 5) {
        fail(PyExc_TypeError, "translate_locus(file_stem, settings, proteins, cds[, cds_of]) takes 4 or 5 arguments");
    }
    if (!PyUnicode_Check(args[0])) fail(PyExc_TypeError, "file_stem must be a str");
    if (count == 4 && (!PyList_Check(args[2]) || !PyList_Check(args[3]) || PyList_GET_SIZE(args[2]) != PyList_GET_SIZE(args[3]))) {
        fail(PyExc_TypeError, "proteins and cds must be lists of the same length");
    }
    const SettingsReader settings(args[1]);
    engine::EngineOptions options;
    options.mismatch = settings.mismatch();
    options.frameshifts = settings.frameshifts();
    options.letters = {settings.flag("upper_case"), settings.flag("resolve_ambiguity"), settings.flag("t_for_u")};
    options.keep_reports = settings.flag("keep_reports");
    options.locate = settings.flag("locate");
    options.both_strands = settings.flag("both_strands");
    options.trim_stop = settings.flag("trim_stop");
    options.terminal_stops = options.trim_stop ? settings.terminal_stops() : 0;
    options.keep_short = settings.flag("keep_short");
    options.stops = settings.stops();
    const long threads = settings.number("threads");
    if (threads < 0) fail(PyExc_ValueError, "settings.threads must be 0 (as many as there are CPUs) or more");
    // Beyond the most threads that are run, any number asks for as many.
    const auto asked = static_cast<unsigned>(std::min<long>(threads, parallel::MOST_USEFUL_THREADS));
    const long wrap = settings.number("wrap");
    if (wrap < 0) fail(PyExc_ValueError, "settings.wrap must be 0 (no wrapping) or more");
    return {utf8_of(args[0]), settings.attribute("code"), args[2], args[3], count == 5 ? args[4] : nullptr, options,
            settings.flag("fasta_text"),
            static_cast<std::size_t>(wrap), asked};
}

// The named results of a locus, as struct sequences: tuples whose fields also have names.
PyStructSequence_Field SITE_FIELDS[] = {
    {"reason", "'mismatch', 'not in code' or 'too few nucleotides'"},
    {"column", "1-based column of the alignment row"},
    {"residue_number", "1-based number of the residue in its row"},
    {"residue", "the residue's letter"},
    {"triplet", "the triplet as the CDS gives it (shorter when nucleotides ran out)"},
    {"encodes", "the letters the triplet encodes in the code"},
    {nullptr, nullptr},
};
PyStructSequence_Field FRAMESHIFT_FIELDS[] = {
    {"column", "1-based column of the alignment row"},
    {"residue_number", "1-based number of the residue whose codon it breaks"},
    {"shift", "+1, +2: nucleotides left out; -1, -2: nucleotides the codon lacks"},
    {"cds_position", "1-based, in the CDS without gaps: the first extra nucleotide, or the short codon's first"},
    {"letters", "the extra nucleotides, or the short codon's, as the CDS gives them"},
    {"masked", "whether the codon is written NNN (False: whole, the extra nucleotides beside it)"},
    {"masked_after", "residues after it masked too: the frameshift could as well lie after them"},
    {nullptr, nullptr},
};
PyStructSequence_Field RECORD_FIELDS[] = {
    {"index", "the record's place among the proteins"},
    {"fate", "'written', 'dropped', 'wrong pairing', 'unplaced' or 'too short'"},
    {"residues", "residues of the row"},
    {"nucleotides", "nucleotides of the CDS as checked (the coding region when located)"},
    {"failed", "residues whose triplet does not encode them"},
    {"located", "whether the coding region found in the CDS was used"},
    {"placements", "placements the coding-region search found, or None when it did not run"},
    {"row_length", "length of the codon row written (0 when left out)"},
    {"sites", "the failing sites, each a SiteReport"},
    {"frameshifts", "each a FrameshiftReport: of the row written, or of the threading found for a record left out"},
    {"stops", "the stop codons under '*' of a record written, each a StopReport (told for one inside it)"},
    {nullptr, nullptr},
};
PyStructSequence_Field STOP_FIELDS[] = {
    {"column", "1-based column of the alignment row"},
    {"residue_number", "1-based number of the '*' in its row"},
    {"triplet", "the stop codon as the CDS gives it"},
    {"terminal", "whether no residue follows it"},
    {nullptr, nullptr},
};
PyStructSequence_Field LOCUS_FIELDS[] = {
    {"rows", "a codon row per record, None when left out; None when text is given"},
    {"text", "the FASTA text of the full rows as UTF-8 bytes, when asked for; else None"},
    {"width", "columns of the protein alignment"},
    {"records", "a RecordReport for each record with anything to tell, in order"},
    {"clean_located", "indices of records written in full, without a problem, from a located coding region"},
    {"reports", "the framed reports, when kept"},
    {"padded", "(index, own width) of each protein row narrower than the alignment"},
    {"stop_codons", "how many stop codons under '*' the records written hold"},
    {"stop_columns", "the 1-based columns holding one of them in some row, ascending"},
    {nullptr, nullptr},
};
PyStructSequence_Desc SITE_DESCRIPTION = {"ntpepmap_cli._native.SiteReport", "A residue whose triplet failed.",
                                          SITE_FIELDS, 6};
PyStructSequence_Desc FRAMESHIFT_DESCRIPTION = {"ntpepmap_cli._native.FrameshiftReport",
                                                "A residue whose codon a frameshift breaks.", FRAMESHIFT_FIELDS, 7};
PyStructSequence_Desc RECORD_DESCRIPTION = {"ntpepmap_cli._native.RecordReport",
                                            "What became of a record with anything to tell.", RECORD_FIELDS, 11};
PyStructSequence_Desc STOP_DESCRIPTION = {"ntpepmap_cli._native.StopReport", "A stop codon the protein carries as '*'.",
                                          STOP_FIELDS, 4};
PyStructSequence_Desc LOCUS_DESCRIPTION = {"ntpepmap_cli._native.LocusTranslation",
                                           "A locus back-translated: rows or text, and what to tell.", LOCUS_FIELDS,
                                           9};

// Made once, when the module is first imported; they live as long as the process.
PyTypeObject* site_type = nullptr;
PyTypeObject* frameshift_type = nullptr;
PyTypeObject* record_type = nullptr;
PyTypeObject* stop_type = nullptr;
PyTypeObject* locus_type = nullptr;

std::string_view fate_name(engine::RecordFate fate) noexcept {
    switch (fate) {
        case engine::RecordFate::written: return "written";
        case engine::RecordFate::dropped: return "dropped";
        case engine::RecordFate::wrong_pairing: return "wrong pairing";
        case engine::RecordFate::unplaced: return "unplaced";
        case engine::RecordFate::too_short: return "too short";
    }
    return "written";
}

std::string_view reason_name(SiteFailure reason) noexcept {
    switch (reason) {
        case SiteFailure::mismatch: return "mismatch";
        case SiteFailure::missing_residue: return "not in code";
        case SiteFailure::too_few_nucleotides: return "too few nucleotides";
    }
    return "mismatch";
}

// A struct sequence of `type` holding the items, whose references it takes.
PyRef named_result(PyTypeObject* type, std::initializer_list<PyObject*> items) {
    std::vector<PyRef> owned;
    for (PyObject* item : items) owned.push_back(checked(item));
    PyRef result = checked(PyStructSequence_New(type));
    Py_ssize_t field = 0;
    for (PyRef& item : owned) PyStructSequence_SetItem(result.get(), field++, item.release());
    return result;
}

PyObject* size_object(std::size_t value) { return PyLong_FromSize_t(value); }

PyRef site_report(const engine::SiteProblem& problem) {
    return named_result(site_type, {ascii_str(reason_name(problem.reason)).release(), size_object(problem.column),
                                    size_object(problem.residue_number),
                                    ascii_str(std::string_view(&problem.residue, 1)).release(),
                                    ascii_str(problem.triplet).release(), str_of(problem.encodes).release()});
}

PyRef frameshift_report(const engine::FrameshiftSite& site) {
    return named_result(frameshift_type, {size_object(site.column), size_object(site.residue_number),
                                          PyLong_FromLong(site.shift), size_object(site.cds_position),
                                          ascii_str(site.letters).release(), PyBool_FromLong(site.masked),
                                          size_object(site.masked_after)});
}

PyRef stop_report(const engine::StopCodon& stop) {
    return named_result(stop_type, {size_object(stop.column), size_object(stop.residue_number),
                                    ascii_str(stop.triplet).release(), PyBool_FromLong(stop.terminal)});
}

// A record with something to tell, kept without its row: only the row's length is told.
struct ReportedRecord {
    std::size_t index;
    std::size_t row_length;
    engine::RecordOutcome outcome;
};

PyRef record_report(const ReportedRecord& reported) {
    const engine::RecordOutcome& outcome = reported.outcome;
    PyRef sites = checked(PyList_New(0));
    for (const engine::SiteProblem& problem : outcome.problems) {
        if (PyList_Append(sites.get(), site_report(problem).get()) != 0) throw PythonError{};
    }
    PyRef frameshifts = checked(PyList_New(0));
    for (const engine::FrameshiftSite& site : outcome.frameshifts) {
        if (PyList_Append(frameshifts.get(), frameshift_report(site).get()) != 0) throw PythonError{};
    }
    PyRef stops = checked(PyList_New(0));
    for (const engine::StopCodon& stop : outcome.stops) {
        if (PyList_Append(stops.get(), stop_report(stop).get()) != 0) throw PythonError{};
    }
    PyObject* placements = outcome.placements ? size_object(*outcome.placements) : (Py_INCREF(Py_None), Py_None);
    return named_result(record_type,
                        {size_object(reported.index), ascii_str(fate_name(outcome.fate)).release(),
                         size_object(outcome.residues), size_object(outcome.nucleotides), size_object(outcome.failed),
                         PyBool_FromLong(outcome.located), placements, size_object(reported.row_length), sites.release(),
                         frameshifts.release(), stops.release()});
}

// One pair's texts, borrowed from the str objects of the records (or the rows made even).
struct RecordText {
    std::string_view name;
    std::string_view row;
    std::string_view cds;
};

// The protein records' names and rows, and each one's CDS, each checked before any record is translated.
struct LocusTexts {
    std::vector<std::string_view> names;
    std::vector<std::string_view> given_rows;
    std::vector<std::string_view> cds;
};

LocusTexts locus_texts(PyObject* proteins, PyObject* cds) {
    LocusTexts texts;
    const auto count = static_cast<std::size_t>(PyList_GET_SIZE(proteins));
    texts.names.reserve(count);
    texts.given_rows.reserve(count);
    texts.cds.reserve(count);
    for (Py_ssize_t index = 0; index < PyList_GET_SIZE(proteins); ++index) {
        PyObject* record = PyList_GET_ITEM(proteins, index);
        if (!PyTuple_Check(record) || PyTuple_GET_SIZE(record) != 2) {
            fail(PyExc_TypeError, "proteins must hold (identifier, row) tuples");
        }
        if (!PyUnicode_Check(PyTuple_GET_ITEM(record, 0))) fail(PyExc_TypeError, "identifiers must be str");
        const std::string_view name = utf8_of(PyTuple_GET_ITEM(record, 0));
        texts.names.push_back(name);
        texts.given_rows.push_back(ascii_of(PyTuple_GET_ITEM(record, 1), name, "the aligned row"));
        texts.cds.push_back(ascii_of(PyList_GET_ITEM(cds, index), name, "the CDS"));
    }
    return texts;
}

// A record's letters in a record set, which the engine reads only as ASCII.
std::string_view ascii_letters(const reader::RecordSet& set, std::size_t index, std::string_view name,
                               const char* what) {
    if (!set.facts(index).ascii()) {
        fail(PyExc_ValueError, std::string(what) + " of record " + std::string(name) + " holds letters that are not ASCII");
    }
    return set.sequence(index);
}

// The texts of the proteins in their set's order, each with the CDS record cds_of names in the
// CDS set: borrowed from the sets, which change no more once made.
LocusTexts set_texts(const reader::RecordSet& proteins, const reader::RecordSet& cds, PyObject* cds_of) {
    if (!PyList_Check(cds_of) || static_cast<std::size_t>(PyList_GET_SIZE(cds_of)) != proteins.size()) {
        fail(PyExc_TypeError, "cds_of must be a list of one CDS index per protein record");
    }
    LocusTexts texts;
    for (std::size_t index = 0; index < proteins.size(); ++index) {
        const std::size_t at = PyLong_AsSize_t(PyList_GET_ITEM(cds_of, static_cast<Py_ssize_t>(index)));
        if (PyErr_Occurred()) throw PythonError{};
        if (at >= cds.size()) fail(PyExc_IndexError, "cds_of names a CDS record beyond the set");
        const std::string_view name = proteins.identifier(index);
        texts.names.push_back(name);
        texts.given_rows.push_back(ascii_letters(proteins, index, name, "the aligned row"));
        texts.cds.push_back(ascii_letters(cds, at, name, "the CDS"));
    }
    return texts;
}

// The texts of translate_locus's records: from two lists, whose copies `proteins` and `cds` hold
// them while the lock is let go, whatever else happens to the caller's lists meanwhile; or from
// two record sets and the CDS index of each protein.
LocusTexts texts_of(const LocusArguments& arguments, PyRef& proteins, PyRef& cds) {
    if (arguments.cds_of != nullptr) {
        const reader::RecordSet* protein_set = record_set_of(arguments.proteins);
        const reader::RecordSet* cds_set = record_set_of(arguments.cds);
        if (protein_set == nullptr || cds_set == nullptr) fail(PyExc_TypeError, "proteins and cds must be record sets");
        return set_texts(*protein_set, *cds_set, arguments.cds_of);
    }
    proteins = checked(PyList_GetSlice(arguments.proteins, 0, PyList_GET_SIZE(arguments.proteins)));
    cds = checked(PyList_GetSlice(arguments.cds, 0, PyList_GET_SIZE(arguments.cds)));
    return locus_texts(proteins.get(), cds.get());
}

std::vector<RecordText> record_texts(const LocusTexts& texts, const engine::AlignmentRows& rows) {
    std::vector<RecordText> records;
    records.reserve(texts.names.size());
    for (std::size_t index = 0; index < texts.names.size(); ++index) {
        records.push_back({texts.names[index], rows[index], texts.cds[index]});
    }
    return records;
}

PyRef padded_list(const engine::AlignmentRows& rows) {
    PyRef padded = checked(PyList_New(0));
    for (const auto& [index, width] : rows.padded()) {
        const PyRef item = checked(Py_BuildValue("(nn)", static_cast<Py_ssize_t>(index), static_cast<Py_ssize_t>(width)));
        if (PyList_Append(padded.get(), item.get()) != 0) throw PythonError{};
    }
    return padded;
}

bool is_full(const engine::RecordOutcome& outcome, std::string_view row) noexcept {
    return outcome.fate == engine::RecordFate::written && outcome.row.size() == 3 * row.size();
}

// A terminal stop codon is what a CDS ends with: told by the locus's count alone.
bool holds_internal_stop(const engine::RecordOutcome& outcome) noexcept {
    return std::any_of(outcome.stops.begin(), outcome.stops.end(),
                       [](const engine::StopCodon& stop) { return !stop.terminal; });
}

bool is_clean(const engine::RecordOutcome& outcome, std::string_view row) noexcept {
    return is_full(outcome, row) && outcome.failed == 0 && outcome.without_nucleotides == 0 &&
           outcome.nucleotides == 3 * outcome.residues && outcome.frameshifts.empty() &&
           !holds_internal_stop(outcome);
}

bool needs_report(const engine::RecordOutcome& outcome, std::string_view row) noexcept {
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
    RowList(const std::vector<RecordText>& records, std::size_t)
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
// output file as it is, built in the native Text whose view is returned (memory the interpreter
// never allocates), so that a locus's rows are never held twice and need no encoding on the way
// out. Each record has its own place in it, so that records can be placed from different
// threads; the text closes up where one is not full.
class FastaText {
public:
    FastaText(const std::vector<RecordText>& records, std::size_t wrap)
        : starts_(records.size() + 1), full_(records.size()), wrap_(wrap) {
        for (std::size_t index = 0; index < records.size(); ++index) {
            const std::size_t row = 3 * records[index].row.size();  // codon rows are ASCII
            starts_[index + 1] = starts_[index] + writer::fasta_record_size(records[index].name.size(), row, row, wrap);
        }
        text_ = native_text(starts_.back());
        // Without the advice, L takes 2.4x the page faults and 17 % more CPU time.
        ask_for_huge_pages(native_text_data(text_.get()), starts_.back());
    }

    // Records of different indices may be placed at once, from different threads.
    void place(std::size_t index, const RecordText& record, const engine::RecordOutcome& outcome) noexcept {
        if (!is_full(outcome, record.row)) return;
        writer::put_fasta_record(native_text_data(text_.get()) + starts_[index], record.name, outcome.row, wrap_);
        full_[index] = 1;
    }

    PyRef finish() {
        char* const text = native_text_data(text_.get());
        std::size_t length = 0;
        for (std::size_t index = 0; index + 1 < starts_.size(); ++index) {
            if (full_[index] == 0) continue;
            const std::size_t size = starts_[index + 1] - starts_[index];
            if (length != starts_[index]) std::memmove(text + length, text + starts_[index], size);
            length += size;
        }
        cut_native_text(text_.get(), length);
        return native_text_view(text_.get());
    }

private:
    std::vector<std::size_t> starts_;  // where each record's text starts when every record before it is full
    std::vector<std::uint8_t> full_;
    std::size_t wrap_;
    PyRef text_;
};

// What one share of the records leaves to be told, in record order.
// The stop codons under '*' of the records written: most proteins end with one, which is counted
// here, not told record by record.
struct StopTally {
    std::size_t codons = 0;
    std::vector<std::uint8_t> columns;  // 1 at each 1-based column holding one

    void add(const engine::RecordOutcome& outcome) {
        for (const engine::StopCodon& stop : outcome.stops) {
            if (columns.size() <= stop.column) columns.resize(stop.column + 1);
            columns[stop.column] = 1;
        }
        codons += outcome.stops.size();
    }

    void add(const StopTally& other) {
        if (columns.size() < other.columns.size()) columns.resize(other.columns.size());
        for (std::size_t column = 0; column < other.columns.size(); ++column) columns[column] |= other.columns[column];
        codons += other.codons;
    }
};

struct ShareResult {
    std::vector<ReportedRecord> reported;
    std::vector<std::size_t> clean_located;
    std::string reports;
    StopTally stops;
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
        result.stops.add(outcome);
        if (is_clean_located(outcome, record.row)) {
            result.clean_located.push_back(index);
            continue;
        }
        if (!needs_report(outcome, record.row)) continue;
        // The row stays with the outcome that is reused: the reported records may be all of them.
        std::string row = std::move(outcome.row);
        result.reported.push_back({index, row.size(), std::move(outcome)});
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
                         const std::vector<RecordText>& records, const engine::AlignmentRows& even_rows) {
    Rows rows(records, arguments.wrap);
    const std::vector<parallel::Share> shares = shares_of(records, arguments.threads);
    std::vector<ShareResult> results(shares.size());
    {
        const WithoutInterpreterLock unlocked;
        parallel::run_shares(shares.size(), [&](std::size_t share) {
            translate_share(arguments, code, records, shares[share], rows, results[share]);
        });
    }
    PyRef reported = checked(PyList_New(0));
    PyRef clean_located = checked(PyList_New(0));
    std::string reports;
    StopTally stops;
    for (const ShareResult& result : results) {
        stops.add(result.stops);
        for (const ReportedRecord& record : result.reported) {
            if (PyList_Append(reported.get(), record_report(record).get()) != 0) throw PythonError{};
        }
        for (const std::size_t index : result.clean_located) {
            const PyRef item = checked(PyLong_FromSize_t(index));
            if (PyList_Append(clean_located.get(), item.get()) != 0) throw PythonError{};
        }
        reports += result.reports;
    }
    PyRef stop_columns = checked(PyList_New(0));
    for (std::size_t column = 0; column < stops.columns.size(); ++column) {
        if (stops.columns[column] != 0 && PyList_Append(stop_columns.get(), checked(size_object(column)).get()) != 0) {
            throw PythonError{};
        }
    }
    PyRef row_result = rows.finish();
    const bool as_text = !PyList_Check(row_result.get());
    PyObject* none = Py_None;
    Py_INCREF(none);
    PyRef missing = PyRef::steal(none);
    return named_result(locus_type, {as_text ? missing.release() : row_result.release(),
                                     as_text ? row_result.release() : missing.release(), size_object(even_rows.width()),
                                     reported.release(), clean_located.release(), str_of(reports).release(),
                                     padded_list(even_rows).release(), size_object(stops.codons),
                                     stop_columns.release()})
        .release();
}

PyObject* translate_with(const LocusArguments& arguments, const engine::GeneticCode& code) {
    PyRef proteins;
    PyRef cds;
    const LocusTexts texts = texts_of(arguments, proteins, cds);
    const engine::AlignmentRows even_rows(texts.given_rows);
    const std::vector<RecordText> records = record_texts(texts, even_rows);
    if (arguments.fasta_text) return translate_into<FastaText>(arguments, code, records, even_rows);
    return translate_into<RowList>(arguments, code, records, even_rows);
}

PyObject* translate_locus(PyObject*, PyObject* const* args, Py_ssize_t count) {
    try {
        const LocusArguments arguments = arguments_of(args, count);
        PyObject* const code = arguments.code.get();
        if (PyDict_Check(code)) {
            const CodonTable table = codon_table_of(code);
            return translate_with(arguments, engine::GeneticCode(table));
        }
        const long number = PyLong_AsLong(code);
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

// fasta_text(records, wrap) -> bytes: the (identifier, row) records as a FASTA file's UTF-8 text.
PyObject* fasta_text(PyObject*, PyObject* const* args, Py_ssize_t count) {
    try {
        if (count != 2 || !PyList_Check(args[0])) fail(PyExc_TypeError, "fasta_text(records, wrap) takes a list and an int");
        const Py_ssize_t wrap = PyLong_AsSsize_t(args[1]);
        if (wrap == -1 && PyErr_Occurred()) throw PythonError{};
        if (wrap < 0) fail(PyExc_ValueError, "wrap must be 0 (no wrapping) or more");
        const PyRef records = checked(PyList_GetSlice(args[0], 0, PyList_GET_SIZE(args[0])));
        std::vector<std::pair<std::string_view, std::string_view>> texts;
        std::size_t size = 0;
        for (Py_ssize_t index = 0; index < PyList_GET_SIZE(records.get()); ++index) {
            PyObject* record = PyList_GET_ITEM(records.get(), index);
            if (!PyTuple_Check(record) || PyTuple_GET_SIZE(record) != 2 || !PyUnicode_Check(PyTuple_GET_ITEM(record, 0)) ||
                !PyUnicode_Check(PyTuple_GET_ITEM(record, 1))) {
                fail(PyExc_TypeError, "records must be (identifier, row) tuples of str");
            }
            const auto& [name, row] = texts.emplace_back(utf8_of(PyTuple_GET_ITEM(record, 0)),
                                                         utf8_of(PyTuple_GET_ITEM(record, 1)));
            size += writer::fasta_record_size(name.size(), row.size(), writer::letter_count(row),
                                              static_cast<std::size_t>(wrap));
        }
        PyRef text = checked(PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size)));
        char* next = PyBytes_AS_STRING(text.get());
        for (const auto& [name, row] : texts) next = writer::put_fasta_record(next, name, row, static_cast<std::size_t>(wrap));
        return text.release();
    } catch (const PythonError&) {
        return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

constexpr char TRANSLATE_LOCUS_DOC[] =
    "translate_locus(file_stem, settings, proteins, cds[, cds_of])\n--\n\n"
    "Back-translates a locus: proteins are (identifier, aligned row) tuples, cds the coding sequence of each;\n"
    "or proteins and cds are RecordSets and cds_of the index in cds of each protein record's CDS.\n"
    "settings gives by attribute: code (a built-in number or a dict of letter to codons), mismatch ('mask',\n"
    "'keep' or 'drop'), frameshifts ('mask' or 'drop'), upper_case, resolve_ambiguity, t_for_u, keep_reports, locate, both_strands, trim_stop\n"
    "with terminal_stops (upper-case codons), keep_short, stops ('keep', 'mask' or 'drop-columns': what becomes\n"
    "of the stop codons under '*'), fasta_text with wrap, threads (0: one per CPU the process may use; 8 at\n"
    "most). Rows are read with '.' and '~' as gaps and made as wide as the widest; a CDS loses its\n"
    "gap letters and, with trim_stop, a terminal stop codon just beyond the residues; one with fewer triplets\n"
    "than residues is held back unless keep_short (or threaded with frameshifts). The lock is let go while the records are translated.\n"
    "Returns a LocusTranslation: rows (a str per record, None when left out) or, with fasta_text, text (a\n"
    "read-only memoryview of the UTF-8 bytes of the full rows, each '>' name, line feed, row, line feed); the alignment's width; a\n"
    "RecordReport for each record with anything to tell (its stop codons under '*' among it); the indices of the records written in full from a\n"
    "located coding region with nothing else to tell; the framed reports; the padded rows; the count of stop\n"
    "codons under '*' in the records written and the columns holding them.";

const PyMethodDef ENGINE_METHODS[] = {
    {"translate_locus", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(translate_locus)), METH_FASTCALL,
     TRANSLATE_LOCUS_DOC},
    {"fasta_text", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fasta_text)), METH_FASTCALL,
     "fasta_text(records, wrap) -> bytes\n--\n\nThe (identifier, row) records as the UTF-8 text of a FASTA file, rows "
     "on lines of at most\nwrap letters (0: one line each)."},
};

}  // namespace

std::span<const PyMethodDef> engine_methods() noexcept { return ENGINE_METHODS; }

bool add_engine_types(PyObject* module) noexcept {
    const std::pair<PyTypeObject**, PyStructSequence_Desc*> types[] = {
        {&site_type, &SITE_DESCRIPTION},
        {&frameshift_type, &FRAMESHIFT_DESCRIPTION},
        {&record_type, &RECORD_DESCRIPTION},
        {&stop_type, &STOP_DESCRIPTION},
        {&locus_type, &LOCUS_DESCRIPTION}};
    for (const auto& [type, description] : types) {
        if (*type == nullptr) *type = PyStructSequence_NewType(description);
        if (*type == nullptr) return false;
        const char* dot = std::strrchr(description->name, '.');
        Py_INCREF(*type);
        if (PyModule_AddObject(module, dot + 1, reinterpret_cast<PyObject*>(*type)) != 0) {
            Py_DECREF(*type);
            return false;
        }
    }
    return true;
}

}  // namespace ntpepmap::tool_extension
