// _native.RecordSet: a reading's records held in one native set, so that no str is made per
// sequence; Python pairs on identifiers and header lines and fetches a record's letters only
// where it needs them.
#include "tool_extension/record_set_binding.hpp"

#include <utility>
#include <vector>

#include "tool_extension/entry.hpp"

namespace ntpepmap::tool_extension {
namespace {

using module::ArgumentConversion;
using module::to_python_str;
using Set = reader::RecordSet;

struct Contents {
    std::unique_ptr<Set> set;
    Marking marking = Marking::none;
    PyRef identifiers;  // made once, when first asked for
    PyRef kept;
};

struct RecordSetObject {
    PyObject_HEAD
    Contents* contents;
};

PyTypeObject* record_set_type = nullptr;

Contents& contents_of(PyObject* self) noexcept { return *reinterpret_cast<RecordSetObject*>(self)->contents; }
const Set& set_of(PyObject* self) noexcept { return *contents_of(self).set; }

// An index below `end`, or IndexError.
std::size_t index_below(Py_ssize_t index, std::size_t end) {
    if (index < 0 || static_cast<std::size_t>(index) >= end) module::raise(PyExc_IndexError, "record index out of range");
    return static_cast<std::size_t>(index);
}

PyRef identifier_list(const Set& set, std::size_t first) {
    return new_list(set.size() - first, [&](std::size_t at) { return to_python_str(set.identifier(first + at)); });
}

// Every record's identifier, one list made once and kept; or those from the record `first` on,
// made for the call.
PyRef identifiers_entry(PyObject* self, Slots slots, ArgumentConversion& convert) {
    Contents& contents = contents_of(self);
    const Py_ssize_t given = slots[0] != nullptr ? convert("first", ssize_of, slots[0]) : 0;
    const std::size_t first = index_below(given, contents.set->size() + 1);
    if (first != 0) return identifier_list(*contents.set, first);
    if (contents.identifiers.is_null()) contents.identifiers = identifier_list(*contents.set, 0);
    return PyRef::new_reference(contents.identifiers.get());
}

// A header line may hold any bytes after the identifier: those that are not UTF-8 are replaced.
PyRef headers_impl(const Set& set) {
    return new_list(set.size(), [&](std::size_t index) { return replaced_str(set.header(index)); });
}

PyRef identifier_impl(const Set& set, std::size_t index) { return to_python_str(set.identifier(index)); }
PyRef header_impl(const Set& set, std::size_t index) { return replaced_str(set.header(index)); }
PyRef file_of_impl(const Set& set, std::size_t index) { return to_python(set.file(index)); }

// The record's letters, or only the first `length` characters of them (all when negative).
PyRef sequence_entry(PyObject* self, Slots slots, ArgumentConversion& convert) {
    const Set& set = set_of(self);
    const std::size_t index = index_below(convert("index", ssize_of, slots[0]), set.size());
    const Py_ssize_t length = slots[1] != nullptr ? convert("length", ssize_of, slots[1]) : -1;
    if (length < 0) return to_python_str(set.sequence(index));
    return to_python_str(set.sequence_start(index, static_cast<std::size_t>(length)));
}

PyRef records_impl(const Set& set) {
    return new_list(set.size(), [&](std::size_t index) {
        const PyRef name = to_python_str(set.identifier(index));
        const PyRef letters = to_python_str(set.sequence(index));
        return checked(PyTuple_Pack(2, name.get(), letters.get()));
    });
}

PyRef max_width_impl(const Set& set) { return to_python(set.max_width()); }

PyRef marked_impl(Contents& contents) {
    if (contents.marking == Marking::none) return PyRef::new_reference(Py_None);
    return to_python(contents.set->marked(contents.marking == Marking::digits));
}

PyRef kept_impl(Contents& contents) {
    const auto& columns = contents.set->kept_columns();
    if (columns && contents.kept.is_null()) contents.kept = to_python(*columns);
    return PyRef::new_reference(columns ? contents.kept.get() : Py_None);
}

PyRef format_impl(Contents& contents) { return to_python_str(reader::format_name(contents.set->format())); }

constexpr char NOT_PAIRS[] = "records must be (identifier, sequence) tuples of str";
constexpr char NOT_HEADERS[] = "headers must be a list of str";

// A str's own UTF-8 bytes, or TypeError.
std::string_view text_of(PyObject* given, const char* refusal) {
    if (!PyUnicode_Check(given)) module::raise(PyExc_TypeError, refusal);
    return module::borrow_text(given);
}

// A set of (identifier, sequence) pairs of str, each record's header line its identifier unless
// given; of their letters, only whether they go beyond ASCII is known.
PyRef from_records_entry(PyObject*, Slots slots, ArgumentConversion&) {
    const TextPairs records = text_pairs(slots[0], NOT_PAIRS);
    PyRef lines;
    if (slots[1] != nullptr && slots[1] != Py_None) {
        lines = checked(PySequence_Fast(slots[1], NOT_HEADERS));
        if (static_cast<std::size_t>(PySequence_Fast_GET_SIZE(lines.get())) != records.texts.size()) {
            module::raise(PyExc_ValueError, "headers must hold one line per record");
        }
    }
    auto set = std::make_unique<Set>();
    for (std::size_t index = 0; index < records.texts.size(); ++index) {
        const auto& [name, letters] = records.texts[index];
        const auto at = static_cast<Py_ssize_t>(index);
        const std::string_view header =
            lines.is_null() ? name : text_of(PySequence_Fast_GET_ITEM(lines.get(), at), NOT_HEADERS);
        const bool ascii = module::is_ascii(letters);
        set->take(name, header, letters, {static_cast<std::uint8_t>(ascii ? 0 : reader::UNUSUAL | reader::NON_ASCII)});
    }
    return record_set_object(std::move(set), Marking::none);
}

template <PyRef (*Impl)(const Set&, std::size_t)>
PyRef at_index(PyObject* self, Slots slots, ArgumentConversion& convert) {
    return Impl(set_of(self), index_below(convert("index", ssize_of, slots[0]), set_of(self).size()));
}

template <PyRef (*Impl)(const Set&)>
PyRef whole_set(PyObject* self, Slots, ArgumentConversion&) {
    return Impl(set_of(self));
}

// A property's getter.
template <PyRef (*Impl)(Contents&)>
PyObject* getter(PyObject* self, void*) noexcept {
    return module::guarded_call([self](ArgumentConversion&) { return Impl(contents_of(self)); });
}

constexpr std::string_view FIRST[] = {"first"};
constexpr std::string_view INDEX[] = {"index"};
constexpr std::string_view INDEX_LENGTH[] = {"index", "length"};
constexpr std::string_view RECORDS_HEADERS[] = {"records", "headers"};
constexpr auto IDENTIFIERS = described("identifiers", FIRST, 0, "RecordSet");
constexpr auto HEADERS = described("headers", {}, 0, "RecordSet");
constexpr auto IDENTIFIER = described("identifier", INDEX, 1, "RecordSet");
constexpr auto HEADER = described("header", INDEX, 1, "RecordSet");
constexpr auto SEQUENCE = described("sequence", INDEX_LENGTH, 1, "RecordSet");
constexpr auto RECORDS = described("records", {}, 0, "RecordSet");
constexpr auto MAX_WIDTH = described("max_width", {}, 0, "RecordSet");
constexpr auto FILE_OF = described("file_of", INDEX, 1, "RecordSet");
constexpr auto FROM_RECORDS = described("from_records", RECORDS_HEADERS, 1, "RecordSet");
constexpr int FAST = METH_FASTCALL | METH_KEYWORDS;

PyMethodDef METHODS[] = {
    {"identifiers", as_method(entry<IDENTIFIERS, identifiers_entry>), FAST,
     "identifiers(first=0) -> list[str]: every record's identifier (one list, kept), or those from record first on"},
    {"headers", as_method(entry<HEADERS, whole_set<headers_impl>>), FAST,
     "headers() -> list[str]: every record's whole header line, made when asked"},
    {"identifier", as_method(entry<IDENTIFIER, at_index<identifier_impl>>), FAST, "identifier(index) -> str"},
    {"header", as_method(entry<HEADER, at_index<header_impl>>), FAST,
     "header(index) -> str: a record's whole header line"},
    {"sequence", as_method(entry<SEQUENCE, sequence_entry>), FAST,
     "sequence(index, length=-1) -> str: a record's letters (the first length)"},
    {"records", as_method(entry<RECORDS, whole_set<records_impl>>), FAST, "records() -> list[(identifier, sequence)]"},
    {"max_width", as_method(entry<MAX_WIDTH, whole_set<max_width_impl>>), FAST,
     "max_width() -> int: the widest record's width"},
    {"file_of", as_method(entry<FILE_OF, at_index<file_of_impl>>), FAST,
     "file_of(index) -> int: which file (0-based) the record came from"},
    {"from_records", as_method(entry<FROM_RECORDS, from_records_entry>), FAST | METH_STATIC,
     "from_records(records, headers=None) -> RecordSet of (identifier, sequence) pairs of str"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef PROPERTIES[] = {
    {"format", getter<format_impl>, nullptr, "the format read: a name of IN_FORMATS", nullptr},
    {"kept", getter<kept_impl>, nullptr, "the columns a CLUSTAL file's lines of '#' mark to keep, or None", nullptr},
    {"marked", getter<marked_impl>, nullptr,
     "indices of the records with letters outside the plain set, or holding frameshift digits; None unless asked",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

Py_ssize_t set_length(PyObject* self) noexcept { return static_cast<Py_ssize_t>(set_of(self).size()); }

void deallocate(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<RecordSetObject*>(self)->contents;
    type->tp_free(self);
    Py_DECREF(type);
}

constexpr char REFUSAL[] = "a RecordSet comes from read_records or RecordSet.from_records";

PyType_Slot SLOTS[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(deallocate)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new<REFUSAL>)},
    {Py_tp_methods, METHODS},
    {Py_tp_getset, PROPERTIES},
    {Py_sq_length, reinterpret_cast<void*>(set_length)},
    {Py_tp_doc, const_cast<char*>("The records of a reading, held natively; see read_records.")},
    {0, nullptr},
};

PyType_Spec SPEC = {"ntpepmap_cli._native.RecordSet", sizeof(RecordSetObject), 0, Py_TPFLAGS_DEFAULT, SLOTS};

}  // namespace

PyRef record_set_object(std::unique_ptr<reader::RecordSet> set, Marking marking) {
    auto contents = std::make_unique<Contents>();
    contents->set = std::move(set);
    contents->marking = marking;
    PyRef object = checked(PyType_GenericAlloc(record_set_type, 0));
    reinterpret_cast<RecordSetObject*>(object.get())->contents = contents.release();
    return object;
}

const reader::RecordSet* record_set_of(PyObject* object) noexcept {
    if (record_set_type == nullptr || !PyObject_TypeCheck(object, record_set_type)) return nullptr;
    return contents_of(object).set.get();
}

reader::RecordSet* record_set_to_extend(PyObject* object) noexcept {
    if (record_set_of(object) == nullptr) return nullptr;
    Contents& contents = contents_of(object);
    contents.identifiers = PyRef();
    contents.kept = PyRef();
    return contents.set.get();
}

void add_record_set_type(PyObject* module) { add_type(module, SPEC, record_set_type); }

}  // namespace ntpepmap::tool_extension
