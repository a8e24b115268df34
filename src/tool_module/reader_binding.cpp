// The reader's side of the tool's private extension: one function that turns the bytes of
// an input file into its records.
#include "tool_module/tool_methods.hpp"

#include <cstring>
#include <new>
#include <optional>
#include <string_view>
#include <vector>

#include "module/py_ref.hpp"
#include "tool_module/binding_errors.hpp"
#include "tool_module/interpreter_lock.hpp"
#include "module/python_text.hpp"
#include "parallel/shares.hpp"
#include "reader/fasta_reader.hpp"
#include "reader/reader.hpp"
#include "tool_module/heap_growth.hpp"

namespace ntpepmap::tool_module {
namespace {

using module::PyRef;

Py_ssize_t ssize(std::size_t size) noexcept { return static_cast<Py_ssize_t>(size); }

// The bytes of a buffer-protocol object (bytes, a mapped file), released however the call ends.
class BufferBytes {
public:
    BufferBytes() = default;
    BufferBytes(const BufferBytes&) = delete;
    BufferBytes& operator=(const BufferBytes&) = delete;
    ~BufferBytes() {
        if (held_) PyBuffer_Release(&view_);
    }

    bool acquire(PyObject* object) {
        held_ = PyObject_GetBuffer(object, &view_, PyBUF_SIMPLE) == 0;
        return held_;
    }
    [[nodiscard]] std::string_view text() const noexcept {
        return {static_cast<const char*>(view_.buf), static_cast<std::size_t>(view_.len)};
    }

private:
    Py_buffer view_{};
    bool held_ = false;
};

// A str of UTF-8 text; ASCII text is copied straight into a fresh str.
PyRef python_text(std::string_view text, bool ascii) {
    if (!ascii) return PyRef::steal(PyUnicode_DecodeUTF8(text.data(), ssize(text.size()), "strict"));
    PyRef result = PyRef::steal(PyUnicode_New(ssize(text.size()), 127));
    if (!result.is_null()) std::memcpy(module::ascii_data(result.get()), text.data(), text.size());
    return result;
}

void append(PyObject* list, PyRef item) {
    if (PyList_Append(list, checked(std::move(item)).get()) != 0) throw PythonError{};
}

// read_records' result: (format, records, marked places or None).
PyRef read_result(reader::Format format, PyObject* records, PyObject* marked) {
    PyRef name = checked(python_text(reader::format_name(format), true));
    return checked(PyTuple_Pack(3, name.get(), records, marked));
}

// What read_records marks: a record holding frameshift digits, when they are read; otherwise one
// holding letters outside the plain set.
bool is_marked(reader::LetterFacts facts, bool frameshift_digits) noexcept {
    return frameshift_digits ? facts.digits() : !facts.plain();
}

// The records as a list of (identifier, sequence) pairs, and the places of those marked.
class RecordList final : public reader::RecordSink {
public:
    RecordList(bool marking, bool frameshift_digits)
        : records_(checked(PyRef::steal(PyList_New(0)))), frameshift_digits_(frameshift_digits) {
        if (marking) marked_ = checked(PyRef::steal(PyList_New(0)));
    }

    void take(std::string_view identifier, std::string_view sequence, reader::LetterFacts facts) override {
        PyRef pair = checked(PyRef::steal(PyTuple_New(2)));
        PyTuple_SET_ITEM(pair.get(), 0, checked(python_text(identifier, false)).release());
        PyTuple_SET_ITEM(pair.get(), 1, checked(python_text(sequence, facts.ascii())).release());
        append(records_.get(), std::move(pair));
        if (!marked_.is_null() && is_marked(facts, frameshift_digits_)) {
            append(marked_.get(), PyRef::steal(PyLong_FromSsize_t(taken_)));
        }
        ++taken_;
    }

    PyRef result(reader::Format format) {
        PyRef marked = marked_.is_null() ? PyRef::new_reference(Py_None) : std::move(marked_);
        return read_result(format, records_.get(), marked.get());
    }

private:
    PyRef records_;
    PyRef marked_;
    Py_ssize_t taken_ = 0;
    bool frameshift_digits_;
};

// A large FASTA file is read side by side, a run of whole records per thread: the records are
// laid out with the lock let go; their str objects are made, as long as their sequence lines,
// with it held; the letters are copied into them with it let go again; each str is cut to its
// letters at the end. Anything unusual (text that is not plain FASTA, a refused identifier,
// letters beyond ASCII) is left to the plain reading, which reads it or says what is wrong.
class FastaSideBySide {
public:
    FastaSideBySide(std::string_view text, const reader::LetterClasses& classes) : text_(text), classes_(classes) {}

    // The records as RecordList's result, or null with nothing set when the plain reading must go on.
    PyRef read(bool marking) {
        if (!lay_out()) return {};
        make_objects();
        if (!copy_letters()) return {};
        return result(marking);
    }

private:
    static constexpr std::size_t LEAST_RUN_BYTES = std::size_t{1} << 20;

    bool lay_out() {
        const std::size_t parts = std::min<std::size_t>(parallel::threads_to_run(0), text_.size() / LEAST_RUN_BYTES);
        if (parts < 2) return false;
        const std::optional<std::vector<std::string_view>> runs = reader::fasta_runs(text_, parts);
        if (!runs || runs->size() < 2) return false;
        runs_.resize(runs->size());
        std::vector<std::uint8_t> laid_out(runs->size());
        {
            const WithoutInterpreterLock unlocked;
            parallel::run_shares(runs->size(), [&](std::size_t run) {
                laid_out[run] = reader::lay_out_fasta((*runs)[run], runs_[run]);
            });
        }
        return std::find(laid_out.begin(), laid_out.end(), 0) == laid_out.end();
    }

    void make_objects() {
        for (const std::vector<reader::FastaRecordText>& run : runs_) {
            for (const reader::FastaRecordText& record : run) {
                identifiers_.push_back(checked(python_text(record.identifier, false)));
                sequences_.push_back(checked(PyUnicode_New(ssize(record.body.size()), 127)));
            }
        }
        counts_.resize(sequences_.size());
        facts_.resize(sequences_.size());
    }

    // False when a record holds letters beyond ASCII.
    bool copy_letters() {
        std::vector<std::size_t> firsts(runs_.size());
        for (std::size_t run = 1; run < runs_.size(); ++run) firsts[run] = firsts[run - 1] + runs_[run - 1].size();
        {
            const WithoutInterpreterLock unlocked;
            parallel::run_shares(runs_.size(), [&](std::size_t run) {
                std::size_t index = firsts[run];
                for (const reader::FastaRecordText& record : runs_[run]) {
                    char* const letters = module::ascii_data(sequences_[index].get());
                    counts_[index] = reader::copy_letters(record.body, classes_, letters, facts_[index]);
                    ++index;
                }
            });
        }
        // Frameshift digits are read line by line, by the plain reading.
        return std::all_of(facts_.begin(), facts_.end(), [&](reader::LetterFacts facts) {
            return facts.ascii() && !facts.digits_to_read(classes_);
        });
    }

    PyRef result(bool marking) {
        PyRef records = checked(PyList_New(ssize(sequences_.size())));
        PyRef marked = marking ? checked(PyList_New(0)) : PyRef::new_reference(Py_None);
        for (std::size_t index = 0; index < sequences_.size(); ++index) {
            cut_to_letters(index);
            PyRef pair = checked(PyTuple_New(2));
            PyTuple_SET_ITEM(pair.get(), 0, identifiers_[index].release());
            PyTuple_SET_ITEM(pair.get(), 1, sequences_[index].release());
            PyList_SET_ITEM(records.get(), ssize(index), pair.release());
            if (marking && is_marked(facts_[index], classes_.frameshift_digits())) {
                append(marked.get(), PyRef::steal(PyLong_FromSize_t(index)));
            }
        }
        return read_result(reader::Format::fasta, records.get(), marked.get());
    }

    // Line ends and white space took room that the letters did not need.
    void cut_to_letters(std::size_t index) {
        PyObject* sequence = sequences_[index].release();
        const int cut = PyUnicode_GET_LENGTH(sequence) == ssize(counts_[index])
                            ? 0
                            : PyUnicode_Resize(&sequence, ssize(counts_[index]));
        sequences_[index] = PyRef::steal(sequence);  // the str as it was, where it could not be cut
        if (cut != 0) throw PythonError{};
    }

    std::string_view text_;
    const reader::LetterClasses& classes_;
    std::vector<std::vector<reader::FastaRecordText>> runs_;
    std::vector<PyRef> identifiers_;
    std::vector<PyRef> sequences_;
    std::vector<std::size_t> counts_;
    std::vector<reader::LetterFacts> facts_;
};

// A name from the input may hold bytes that are not UTF-8: they are replaced, never an error.
void raise_value_error(std::string_view message) {
    PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(message.data(), ssize(message.size()), "replace"));
    if (!text.is_null()) PyErr_SetObject(PyExc_ValueError, text.get());
}

// read_records(data, in_format, plain_letters=None, frameshift_digits=False)
//     -> (format, [(identifier, sequence)], marked)
//
// data: a bytes-like object holding the whole file; in_format: "auto" or a format name;
// plain_letters: bytes; when given, marked lists the places of the records with any other
// letter (None otherwise). frameshift_digits: digits inside the sequences' lines are kept as
// PAL2NAL's frameshift notation, and marked lists the places of the records holding any.
// Text that is not in the format raises ValueError with a one-line message naming line and
// record.
PyObject* read_records(PyObject*, PyObject* args) noexcept {
    PyObject* data = nullptr;
    const char* format_text = nullptr;
    PyObject* plain_letters = Py_None;
    int frameshift_digits = 0;
    if (!PyArg_ParseTuple(args, "Os|Op:read_records", &data, &format_text, &plain_letters, &frameshift_digits)) {
        return nullptr;
    }
    std::optional<reader::Format> format;
    if (std::string_view(format_text) != "auto") {
        format = reader::format_named(format_text);
        if (!format) return PyErr_Format(PyExc_ValueError, "unknown input format '%s'", format_text);
    }
    BufferBytes bytes;
    BufferBytes letters;
    if (!bytes.acquire(data) || (plain_letters != Py_None && !letters.acquire(plain_letters))) return nullptr;
    try {
        const reader::LetterClasses classes(letters.text(), frameshift_digits != 0);
        const bool marking = plain_letters != Py_None || frameshift_digits != 0;
        if (!format || *format == reader::Format::fasta) {
            PyRef read = FastaSideBySide(bytes.text(), classes).read(marking);
            if (!read.is_null()) return read.release();
        }
        RecordList records(marking, frameshift_digits != 0);
        const reader::Format found = reader::read_records(bytes.text(), format, classes, records);
        return records.result(found).release();
    } catch (const PythonError&) {
        return nullptr;
    } catch (const reader::ReadError& error) {
        raise_value_error(error.what());
        return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

// grow_heap_for(expected_bytes) -> bool: readies the heap for records of about that many bytes.
PyObject* grow_heap(PyObject*, PyObject* expected) noexcept {
    const Py_ssize_t bytes = PyLong_AsSsize_t(expected);
    if (bytes == -1 && PyErr_Occurred()) return nullptr;
    return PyBool_FromLong(bytes > 0 && tool_module::grow_heap_for(static_cast<std::size_t>(bytes)));
}

PyMethodDef READER_METHODS[] = {
    {"read_records", read_records, METH_VARARGS,
     "read_records(data, in_format, plain_letters=None, frameshift_digits=False) -> (format, records, marked)"},
    {"grow_heap_for", grow_heap, METH_O,
     "grow_heap_for(expected_bytes) -> bool\n\nGrows the heap once for about that many bytes of records, its new "
     "pages advised\nfor huge pages; for a process that reads one large locus and ends."},
};

}  // namespace

std::span<const PyMethodDef> reader_methods() noexcept { return READER_METHODS; }

}  // namespace ntpepmap::tool_module
