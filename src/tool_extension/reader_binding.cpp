// The reader's side of the tool's private extension: one function that turns the bytes of
// an input file into a RecordSet of its records.
#include "tool_extension/tool_methods.hpp"

#include <algorithm>
#include <memory>
#include <new>
#include <optional>
#include <string>
#include <span>
#include <string_view>
#include <vector>

#include "module/py_ref.hpp"
#include "tool_extension/binding_errors.hpp"
#include "tool_extension/interpreter_lock.hpp"
#include "module/python_text.hpp"
#include "parallel/shares.hpp"
#include "reader/fasta_pieces.hpp"
#include "reader/fasta_reader.hpp"
#include "reader/reader.hpp"
#include "reader/record_set.hpp"
#include "tool_extension/record_set_binding.hpp"

namespace ntpepmap::tool_extension {
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

// A large FASTA file is read side by side, a run of whole records per thread: the records are
// laid out, then each run's letters are copied into the set's buffer at the run's own place in
// it (a run's letters are never more than its text), so that the letters are copied once. The
// few bytes left between runs are never looked at. Anything unusual (text that is not plain
// FASTA, a refused identifier, letters beyond ASCII) is left to the plain reading, which reads
// it or says what is wrong. Runs with no interpreter lock held.
class FastaSideBySide {
public:
    FastaSideBySide(std::string_view text, const reader::LetterClasses& classes) : text_(text), classes_(classes) {}

    // Adds the records to the set; false, with nothing added, when the plain reading must go on.
    bool read(reader::RecordSet& set) {
        if (!lay_out()) return false;
        const std::size_t base = set.letters_size();
        char* const letters = set.reserve_letters(text_.size());
        if (!copy_letters(letters)) return false;
        hand_over(set, base);
        return true;
    }

private:
    static constexpr std::size_t LEAST_RUN_BYTES = std::size_t{1} << 20;

    bool lay_out() {
        const std::size_t parts = std::min<std::size_t>(parallel::threads_to_run(0), text_.size() / LEAST_RUN_BYTES);
        if (parts < 1) return false;
        // One run too, on one thread: the letters go straight into the set's buffer, not
        // through the plain reading's, which would copy a long record's letters twice.
        const std::optional<std::vector<std::string_view>> runs = reader::fasta_runs(text_, parts);
        if (!runs) return false;
        runs_ = *runs;
        laid_out_.resize(runs_.size());
        std::vector<std::uint8_t> fine(runs_.size());
        parallel::run_shares(runs_.size(), [&](std::size_t run) {
            fine[run] = reader::lay_out_fasta(runs_[run], laid_out_[run]);
        });
        return std::find(fine.begin(), fine.end(), 0) == fine.end();
    }

    // False when a record holds letters beyond ASCII, or frameshift digits, which are read line
    // by line by the plain reading.
    bool copy_letters(char* letters) {
        std::vector<std::size_t> firsts(runs_.size());
        for (std::size_t run = 1; run < runs_.size(); ++run) firsts[run] = firsts[run - 1] + laid_out_[run - 1].size();
        places_.resize(firsts.empty() ? 0 : firsts.back() + laid_out_.back().size());
        parallel::run_shares(runs_.size(), [&](std::size_t run) {
            std::size_t index = firsts[run];
            std::size_t next = static_cast<std::size_t>(runs_[run].data() - text_.data());
            for (const reader::FastaRecordText& record : laid_out_[run]) {
                Place& place = places_[index++];
                place.start = next;
                place.count = reader::copy_letters(record.body, classes_, letters + next, place.facts);
                next += place.count;
            }
        });
        return std::all_of(places_.begin(), places_.end(), [&](const Place& place) {
            return place.facts.ascii() && !place.facts.digits_to_read(classes_);
        });
    }

    void hand_over(reader::RecordSet& set, std::size_t base) {
        std::size_t index = 0;
        for (const std::vector<reader::FastaRecordText>& run : laid_out_) {
            for (const reader::FastaRecordText& record : run) {
                const Place& place = places_[index++];
                set.add_placed(record.identifier, record.header, base + place.start, place.count, place.facts);
            }
        }
    }

    struct Place {
        std::size_t start = 0;  // from the first letter the reading may write
        std::size_t count = 0;
        reader::LetterFacts facts;
    };

    std::string_view text_;
    const reader::LetterClasses& classes_;
    std::vector<std::string_view> runs_;
    std::vector<std::vector<reader::FastaRecordText>> laid_out_;
    std::vector<Place> places_;
};

// A name from the input may hold bytes that are not UTF-8: they are replaced, never an error.
void raise_value_error(std::string_view message) {
    PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(message.data(), ssize(message.size()), "replace"));
    if (!text.is_null()) PyErr_SetObject(PyExc_ValueError, text.get());
}

// Reads one text into the set: a whole file, or a run of whole FASTA records of one whose
// first line is `first_line`. Touches nothing of Python.
reader::Format read_text(std::string_view text, std::optional<reader::Format> format,
                         const reader::LetterClasses& classes, reader::RecordSet& set, std::size_t first_line = 1) {
    if ((!format || *format == reader::Format::fasta) && FastaSideBySide(text, classes).read(set)) {
        return reader::Format::fasta;
    }
    return reader::read_records(text, format, classes, set, {first_line, set.records_in_file() + 1});
}

// Reads a file given as an iterable of pieces of its bytes. FASTA is read a run of whole
// records at a time as the pieces come, a long record's letters written straight into the
// set's buffer, without the interpreter lock, so that the next piece is decompressed
// meanwhile; another format (or one to be found) needs the whole text.
reader::Format read_pieces(PyObject* pieces, std::optional<reader::Format> format,
                           const reader::LetterClasses& classes, reader::RecordSet& set) {
    const PyRef iterator = checked(PyRef::steal(PyObject_GetIter(pieces)));
    std::string whole;
    reader::FastaPieces fasta(classes, set, [&](std::string_view run, reader::TextStart start) {
        const std::size_t before = set.size();
        (void)read_text(run, reader::Format::fasta, classes, set, start.line);
        return set.size() - before;
    });
    const bool by_runs = format == reader::Format::fasta;
    for (PyRef piece = PyRef::steal(PyIter_Next(iterator.get())); !piece.is_null();
         piece = PyRef::steal(PyIter_Next(iterator.get()))) {
        BufferBytes bytes;
        if (!bytes.acquire(piece.get())) throw PythonError{};
        if (by_runs) {
            const WithoutInterpreterLock unlocked;
            fasta.take(bytes.text());
        } else {
            whole.append(bytes.text());
        }
    }
    if (PyErr_Occurred()) throw PythonError{};
    const WithoutInterpreterLock unlocked;
    if (!by_runs) return read_text(whole, format, classes, set);
    fasta.finish();
    return reader::Format::fasta;
}

// Reads the records of a source into the set, as a file of its own.
void read_source(PyObject* source, std::optional<reader::Format> format, const reader::LetterClasses& classes,
                 std::size_t expected, reader::RecordSet& set) {
    if (!PyObject_CheckBuffer(source)) {
        // Room reserved once for about the whole text: a buffer grown as the pieces come faults
        // its pages in one by one; what is reserved and never written costs no memory.
        set.start_file(expected);
        set.set_format(read_pieces(source, format, classes, set));
        return;
    }
    BufferBytes bytes;
    if (!bytes.acquire(source)) throw PythonError{};
    const WithoutInterpreterLock unlocked;
    set.start_file(bytes.text().size());
    set.set_format(read_text(bytes.text(), format, classes, set));
}

// A new set of the source's records, or `into` (a RecordSet) with them appended.
PyRef read_into(PyObject* source, std::optional<reader::Format> format, const reader::LetterClasses& classes,
                Py_ssize_t expected, PyObject* into, Marking marking) {
    const std::size_t expected_size = static_cast<std::size_t>(std::max<Py_ssize_t>(expected, 0));
    if (into == Py_None) {
        auto set = std::make_unique<reader::RecordSet>();
        read_source(source, format, classes, expected_size, *set);
        return record_set_object(std::move(set), marking);
    }
    reader::RecordSet* set = record_set_to_extend(into);
    if (set == nullptr) fail(PyExc_TypeError, "into must be a RecordSet");
    read_source(source, format, classes, expected_size, *set);
    return PyRef::new_reference(into);
}

// read_records(source, in_format, plain_letters=None, frameshift_digits=False, expected_size=0, into=None)
//     -> RecordSet
//
// source: a bytes-like object holding the whole file, or an iterable of bytes-like pieces
// of it (a file being decompressed); in_format: "auto" or a format name; plain_letters:
// bytes; when given, the set's marked lists the records with any other letter (None
// otherwise). frameshift_digits: digits inside the sequences' lines are kept as PAL2NAL's
// frameshift notation, and marked lists the records holding any. expected_size: about how many
// bytes the pieces hold, where they are not all there yet. Every record's whole header
// line is kept, and the columns that a CLUSTAL file's lines of '#' mark to keep. Text that is
// not in the format raises ValueError with a one-line message naming line and record, as in
// the whole file. into: a set the records are appended to, as another file's (several files
// read as one set, each letter copied once), used nowhere else meanwhile. The records are read
// with the interpreter lock let go.
PyObject* read_records(PyObject*, PyObject* args) noexcept {
    PyObject* source = nullptr;
    const char* format_text = nullptr;
    PyObject* plain_letters = Py_None;
    int frameshift_digits = 0;
    Py_ssize_t expected = 0;
    PyObject* into = Py_None;
    if (!PyArg_ParseTuple(args, "Os|OpnO:read_records", &source, &format_text, &plain_letters, &frameshift_digits,
                          &expected, &into)) {
        return nullptr;
    }
    std::optional<reader::Format> format;
    if (std::string_view(format_text) != "auto") {
        format = reader::format_named(format_text);
        if (!format) return PyErr_Format(PyExc_ValueError, "unknown input format '%s'", format_text);
    }
    BufferBytes letters;
    if (plain_letters != Py_None && !letters.acquire(plain_letters)) return nullptr;
    try {
        const reader::LetterClasses classes(letters.text(), frameshift_digits != 0);
        const Marking marking = frameshift_digits != 0    ? Marking::digits
                                : plain_letters != Py_None ? Marking::unusual
                                                           : Marking::none;
        return read_into(source, format, classes, expected, into, marking).release();
    } catch (const PythonError&) {
        return nullptr;
    } catch (const reader::ReadError& error) {
        raise_value_error(error.what());
        return nullptr;
    } catch (const std::bad_alloc&) {
        return PyErr_NoMemory();
    }
}

PyMethodDef READER_METHODS[] = {
    {"read_records", read_records, METH_VARARGS,
     "read_records(source, in_format, plain_letters=None, frameshift_digits=False, expected_size=0, into=None) -> "
     "RecordSet"},
};

}  // namespace

std::span<const PyMethodDef> reader_methods() noexcept { return READER_METHODS; }

}  // namespace ntpepmap::tool_extension
