// _native.RecordSet: a reading's records held in one native set, so that no str is made per
// sequence; Python pairs on identifiers and header lines and fetches a record's letters only
// where it needs them.
#include "tool_extension/record_set_binding.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "module/python_text.hpp"
#include "tool_extension/binding_errors.hpp"

namespace ntpepmap::tool_extension {
namespace {

using module::PyRef;

struct Contents {
    std::unique_ptr<reader::RecordSet> set;
    Marking marking = Marking::none;
    PyRef identifiers;  // made once, when first asked for
    PyRef kept;
};

struct RecordSetObject {
    PyObject_HEAD
    Contents* contents;
};

PyTypeObject* record_set_type = nullptr;

Contents& contents_of(PyObject* self) { return *reinterpret_cast<RecordSetObject*>(self)->contents; }
const reader::RecordSet& set_of(PyObject* self) { return *contents_of(self).set; }

Py_ssize_t ssize(std::size_t size) noexcept { return static_cast<Py_ssize_t>(size); }

// Runs a method's body; a C++ failure becomes the Python error it stands for.
template <class Body>
PyObject* guarded(Body body) noexcept {
    try {
        return body().release();
    } catch (const PythonError&) {
        return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

bool is_ascii(std::string_view text) noexcept {
    return std::all_of(text.begin(), text.end(), [](char byte) { return static_cast<unsigned char>(byte) < 0x80; });
}

// ASCII is copied straight into a fresh str, without a decode pass.
PyRef ascii_str(std::string_view text) {
    PyRef str = checked(PyUnicode_New(ssize(text.size()), 127));
    if (!text.empty()) std::memcpy(module::ascii_data(str.get()), text.data(), text.size());
    return str;
}

PyRef utf8_str(std::string_view text, const char* errors) {
    if (is_ascii(text)) return ascii_str(text);
    return checked(PyUnicode_DecodeUTF8(text.data(), ssize(text.size()), errors));
}

std::size_t index_of(PyObject* self, Py_ssize_t index) {
    if (index < 0 || static_cast<std::size_t>(index) >= set_of(self).size()) {
        fail(PyExc_IndexError, "record index out of range");
    }
    return static_cast<std::size_t>(index);
}

PyRef list_of(std::size_t size) { return checked(PyList_New(ssize(size))); }

// The UTF-8 bytes of a str; a str that has none (a lone surrogate) raises.
std::string_view utf8_of(PyObject* text) {
    Py_ssize_t size = 0;
    const char* data = PyUnicode_AsUTF8AndSize(text, &size);
    if (data == nullptr) throw PythonError{};
    return {data, static_cast<std::size_t>(size)};
}

reader::LetterFacts facts_of(std::string_view letters) noexcept {
    return {static_cast<std::uint8_t>(is_ascii(letters) ? 0 : reader::UNUSUAL | reader::NON_ASCII)};
}

Py_ssize_t set_length(PyObject* self) noexcept { return ssize(set_of(self).size()); }

PyRef identifier_list(const reader::RecordSet& set, std::size_t first) {
    PyRef made = list_of(set.size() - first);
    for (std::size_t index = first; index < set.size(); ++index) {
        PyList_SET_ITEM(made.get(), ssize(index - first), utf8_str(set.identifier(index), "strict").release());
    }
    return made;
}

// identifiers(first=0): every record's identifier, one list made once and kept; or those from
// the record `first` on, made for the call.
PyObject* identifiers(PyObject* self, PyObject* args) noexcept {
    return guarded([&] {
        Py_ssize_t first = 0;
        if (!PyArg_ParseTuple(args, "|n:identifiers", &first)) throw PythonError{};
        Contents& contents = contents_of(self);
        if (first < 0 || static_cast<std::size_t>(first) > contents.set->size()) {
            fail(PyExc_IndexError, "record index out of range");
        }
        if (first != 0) return identifier_list(*contents.set, static_cast<std::size_t>(first));
        if (contents.identifiers.is_null()) contents.identifiers = identifier_list(*contents.set, 0);
        return PyRef::new_reference(contents.identifiers.get());
    });
}

// A header line may hold any bytes after the identifier: those that are not UTF-8 are replaced.
PyObject* headers(PyObject* self, PyObject*) noexcept {
    return guarded([&] {
        const reader::RecordSet& set = set_of(self);
        PyRef made = list_of(set.size());
        for (std::size_t index = 0; index < set.size(); ++index) {
            PyList_SET_ITEM(made.get(), ssize(index), utf8_str(set.header(index), "replace").release());
        }
        return made;
    });
}

PyObject* identifier(PyObject* self, PyObject* index) noexcept {
    return guarded([&] {
        const Py_ssize_t at = PyLong_AsSsize_t(index);
        if (at == -1 && PyErr_Occurred()) throw PythonError{};
        return utf8_str(set_of(self).identifier(index_of(self, at)), "strict");
    });
}

PyObject* header(PyObject* self, PyObject* index) noexcept {
    return guarded([&] {
        const Py_ssize_t at = PyLong_AsSsize_t(index);
        if (at == -1 && PyErr_Occurred()) throw PythonError{};
        return utf8_str(set_of(self).header(index_of(self, at)), "replace");
    });
}

// sequence(index, length=-1): the record's letters, or only the first `length` of them.
PyObject* sequence(PyObject* self, PyObject* args) noexcept {
    return guarded([&] {
        Py_ssize_t at = 0;
        Py_ssize_t first = -1;
        if (!PyArg_ParseTuple(args, "n|n:sequence", &at, &first)) throw PythonError{};
        const std::size_t index = index_of(self, at);
        std::string_view letters = set_of(self).sequence(index);
        if (set_of(self).facts(index).ascii()) {
            if (first >= 0) letters = letters.substr(0, static_cast<std::size_t>(first));
            return ascii_str(letters);
        }
        PyRef whole = utf8_str(letters, "strict");
        if (first < 0 || first >= PyUnicode_GET_LENGTH(whole.get())) return whole;
        return checked(PyUnicode_Substring(whole.get(), 0, first));
    });
}

PyObject* records(PyObject* self, PyObject*) noexcept {
    return guarded([&] {
        const reader::RecordSet& set = set_of(self);
        PyRef made = list_of(set.size());
        for (std::size_t index = 0; index < set.size(); ++index) {
            PyRef name = utf8_str(set.identifier(index), "strict");
            PyRef letters = utf8_str(set.sequence(index), "strict");
            PyRef pair = checked(PyTuple_Pack(2, name.get(), letters.get()));
            PyList_SET_ITEM(made.get(), ssize(index), pair.release());
        }
        return made;
    });
}

PyObject* widths(PyObject* self, PyObject*) noexcept {
    return guarded([&] {
        const reader::RecordSet& set = set_of(self);
        PyRef made = list_of(set.size());
        for (std::size_t index = 0; index < set.size(); ++index) {
            PyList_SET_ITEM(made.get(), ssize(index), checked(PyLong_FromSize_t(set.width(index))).release());
        }
        return made;
    });
}

PyObject* max_width(PyObject* self, PyObject*) noexcept {
    return guarded([&] {
        const reader::RecordSet& set = set_of(self);
        std::size_t widest = 0;
        for (std::size_t index = 0; index < set.size(); ++index) widest = std::max(widest, set.width(index));
        return checked(PyLong_FromSize_t(widest));
    });
}

PyObject* file_of(PyObject* self, PyObject* index) noexcept {
    return guarded([&] {
        const Py_ssize_t at = PyLong_AsSsize_t(index);
        if (at == -1 && PyErr_Occurred()) throw PythonError{};
        return checked(PyLong_FromSize_t(set_of(self).file(index_of(self, at))));
    });
}

bool is_marked(reader::LetterFacts facts, Marking marking) noexcept {
    return marking == Marking::digits ? facts.digits() : !facts.plain();
}

PyObject* marked(PyObject* self, void*) noexcept {
    return guarded([&] {
        const Contents& contents = contents_of(self);
        if (contents.marking == Marking::none) return PyRef::new_reference(Py_None);
        PyRef made = checked(PyList_New(0));
        for (std::size_t index = 0; index < contents.set->size(); ++index) {
            if (!is_marked(contents.set->facts(index), contents.marking)) continue;
            const PyRef number = checked(PyLong_FromSize_t(index));
            if (PyList_Append(made.get(), number.get()) != 0) throw PythonError{};
        }
        return made;
    });
}

PyObject* format(PyObject* self, void*) noexcept {
    return guarded([&] { return ascii_str(reader::format_name(set_of(self).format())); });
}

PyObject* kept(PyObject* self, void*) noexcept {
    return guarded([&] {
        Contents& contents = contents_of(self);
        const auto& columns = contents.set->kept_columns();
        if (!columns) return PyRef::new_reference(Py_None);
        if (contents.kept.is_null()) {
            PyRef made = list_of(columns->size());
            for (std::size_t at = 0; at < columns->size(); ++at) {
                PyList_SET_ITEM(made.get(), ssize(at), checked(PyLong_FromSize_t((*columns)[at])).release());
            }
            contents.kept = std::move(made);
        }
        return PyRef::new_reference(contents.kept.get());
    });
}

// from_records(records, headers=None): a set of (identifier, sequence) pairs of str, each
// record's header line its identifier unless given.
PyObject* from_records(PyObject*, PyObject* args, PyObject* keywords) noexcept {
    return guarded([&] {
        static const char* names[] = {"records", "headers", nullptr};
        PyObject* given = nullptr;
        PyObject* given_headers = Py_None;
        if (!PyArg_ParseTupleAndKeywords(args, keywords, "O|O:from_records", const_cast<char**>(names), &given,
                                         &given_headers)) {
            throw PythonError{};
        }
        const PyRef pairs = checked(PySequence_Fast(given, "records must be a list of (identifier, sequence) pairs"));
        PyRef header_lines;
        if (given_headers != Py_None) {
            header_lines = checked(PySequence_Fast(given_headers, "headers must be a list of str"));
            if (PySequence_Fast_GET_SIZE(header_lines.get()) != PySequence_Fast_GET_SIZE(pairs.get())) {
                fail(PyExc_ValueError, "headers must hold one line per record");
            }
        }
        auto set = std::make_unique<reader::RecordSet>();
        for (Py_ssize_t index = 0; index < PySequence_Fast_GET_SIZE(pairs.get()); ++index) {
            PyObject* pair = PySequence_Fast_GET_ITEM(pairs.get(), index);
            if (!PyTuple_Check(pair) || PyTuple_GET_SIZE(pair) != 2 || !PyUnicode_Check(PyTuple_GET_ITEM(pair, 0)) ||
                !PyUnicode_Check(PyTuple_GET_ITEM(pair, 1))) {
                fail(PyExc_TypeError, "records must be (identifier, sequence) tuples of str");
            }
            const std::string_view name = utf8_of(PyTuple_GET_ITEM(pair, 0));
            const std::string_view letters = utf8_of(PyTuple_GET_ITEM(pair, 1));
            std::string_view header = name;
            if (!header_lines.is_null()) {
                PyObject* line = PySequence_Fast_GET_ITEM(header_lines.get(), index);
                if (!PyUnicode_Check(line)) fail(PyExc_TypeError, "headers must be a list of str");
                header = utf8_of(line);
            }
            set->take(name, header, letters, facts_of(letters));
        }
        return record_set_object(std::move(set), Marking::none);
    });
}

PyObject* refuse_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
    PyErr_SetString(PyExc_TypeError, "a RecordSet comes from read_records or RecordSet.from_records");
    return nullptr;
}

void deallocate(PyObject* self) noexcept {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<RecordSetObject*>(self)->contents;
    type->tp_free(self);
    Py_DECREF(type);
}

PyMethodDef METHODS[] = {
    {"identifiers", identifiers, METH_VARARGS,
     "identifiers(first=0) -> list[str]: every record's identifier (one list, kept), or those from record first on"},
    {"headers", headers, METH_NOARGS, "headers() -> list[str]: every record's whole header line, made when asked"},
    {"identifier", identifier, METH_O, "identifier(index) -> str"},
    {"header", header, METH_O, "header(index) -> str: a record's whole header line"},
    {"sequence", sequence, METH_VARARGS, "sequence(index, length=-1) -> str: a record's letters (the first length)"},
    {"records", records, METH_NOARGS, "records() -> list[(identifier, sequence)]"},
    {"widths", widths, METH_NOARGS, "widths() -> list[int]: each record's letters, in characters"},
    {"max_width", max_width, METH_NOARGS, "max_width() -> int: the widest record's width"},
    {"file_of", file_of, METH_O, "file_of(index) -> int: which file (0-based) the record came from"},
    {"from_records", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(from_records)),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "from_records(records, headers=None) -> RecordSet of (identifier, sequence) pairs of str"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef PROPERTIES[] = {
    {"format", format, nullptr, "the format read: 'fasta', 'clustal' or 'phylip'", nullptr},
    {"kept", kept, nullptr, "the columns a CLUSTAL file's lines of '#' mark to keep, or None", nullptr},
    {"marked", marked, nullptr,
     "indices of the records with letters outside the plain set, or holding frameshift digits; None unless asked",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyType_Slot SLOTS[] = {
    {Py_tp_dealloc, reinterpret_cast<void*>(deallocate)},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
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

bool add_record_set_type(PyObject* module) noexcept {
    if (record_set_type == nullptr) {
        record_set_type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&SPEC));
        if (record_set_type == nullptr) return false;
    }
    Py_INCREF(record_set_type);
    if (PyModule_AddObject(module, "RecordSet", reinterpret_cast<PyObject*>(record_set_type)) != 0) {
        Py_DECREF(record_set_type);
        return false;
    }
    return true;
}

}  // namespace ntpepmap::tool_extension
