// The reader's side of the tool's private extension: one function that turns the bytes of
// an input file into its records.
#include "tool_extension/tool_methods.hpp"

#include <cstring>
#include <new>
#include <optional>
#include <string>
#include <span>
#include <string_view>
#include <vector>

#include "module/py_ref.hpp"
#include "tool_extension/entry.hpp"
#include "tool_extension/interpreter_lock.hpp"
#include "module/python_text.hpp"
#include "parallel/shares.hpp"
#include "reader/fasta_pieces.hpp"
#include "reader/fasta_reader.hpp"
#include "reader/reader.hpp"
#include "memory/huge_pages.hpp"

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

// A str of UTF-8 text; ASCII text is copied straight into a fresh str.
PyRef python_text(std::string_view text, bool ascii) {
    if (!ascii) return PyRef::steal(PyUnicode_DecodeUTF8(text.data(), ssize(text.size()), "strict"));
    PyRef result = PyRef::steal(PyUnicode_New(ssize(text.size()), 127));
    if (!result.is_null()) std::memcpy(module::ascii_data(result.get()), text.data(), text.size());
    return result;
}

void append(PyObject* list, PyRef item) {
    if (PyList_Append(list, checked(std::move(item)).get()) != 0) module::throw_python_error();
}

// A header line may hold any bytes after the identifier: those that are not UTF-8 are replaced.
PyRef header_text(std::string_view header) {
    return PyRef::steal(PyUnicode_DecodeUTF8(header.data(), ssize(header.size()), "replace"));
}

PyRef list_or_none(bool wanted) { return wanted ? checked(PyList_New(0)) : PyRef::new_reference(Py_None); }

// What a reading asks for besides the records.
struct Wanted {
    bool marking;            // the places of records marked (see is_marked)
    bool headers;            // every record's whole header line
    bool frameshift_digits;  // digits inside rows kept as PAL2NAL's frameshift notation
};

// What read_records marks: a record holding frameshift digits, when they are read; otherwise one
// holding letters outside the plain set.
bool is_marked(reader::LetterFacts facts, bool frameshift_digits) noexcept {
    return frameshift_digits ? facts.digits() : !facts.plain();
}

// The records as a list of (identifier, sequence) pairs, the places of those marked, their
// header lines, as asked, and the columns a CLUSTAL file's lines of '#' mark.
class RecordList final : public reader::RecordSink {
public:
    explicit RecordList(Wanted wanted)
        : records_(checked(PyRef::steal(PyList_New(0)))), marked_(list_or_none(wanted.marking)),
          headers_(list_or_none(wanted.headers)), kept_(PyRef::new_reference(Py_None)),
          frameshift_digits_(wanted.frameshift_digits) {}

    void take(std::string_view identifier, std::string_view header, std::string_view sequence,
              reader::LetterFacts facts) override {
        add(checked(python_text(identifier, false)), checked(python_text(sequence, facts.ascii())), facts, header);
    }

    void add(PyRef identifier, PyRef sequence, reader::LetterFacts facts, std::string_view header) {
        PyRef pair = checked(PyRef::steal(PyTuple_New(2)));
        PyTuple_SET_ITEM(pair.get(), 0, identifier.release());
        PyTuple_SET_ITEM(pair.get(), 1, sequence.release());
        append(records_.get(), std::move(pair));
        if (marked_.get() != Py_None && is_marked(facts, frameshift_digits_)) {
            append(marked_.get(), PyRef::steal(PyLong_FromSsize_t(taken_)));
        }
        if (headers_.get() != Py_None) append(headers_.get(), header_text(header));
        ++taken_;
    }

    void take_kept_columns(std::span<const std::size_t> columns) override {
        kept_ = checked(PyRef::steal(PyList_New(0)));
        for (const std::size_t column : columns) append(kept_.get(), PyRef::steal(PyLong_FromSize_t(column)));
    }

    [[nodiscard]] std::size_t size() const noexcept { return static_cast<std::size_t>(taken_); }

    // read_records' result: (format, records, marked places or None, header lines or None,
    // kept columns or None).
    PyRef result(reader::Format format) {
        PyRef name = checked(python_text(reader::format_name(format), true));
        return checked(PyTuple_Pack(5, name.get(), records_.get(), marked_.get(), headers_.get(), kept_.get()));
    }

private:
    PyRef records_;
    PyRef marked_;
    PyRef headers_;
    PyRef kept_;
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

    // Adds the records to the list; false, with nothing added, when the plain reading must go on.
    bool read(RecordList& records) {
        if (!lay_out()) return false;
        make_objects();
        if (!copy_letters()) return false;
        hand_over(records);
        return true;
    }

private:
    static constexpr std::size_t LEAST_RUN_BYTES = std::size_t{1} << 20;

    bool lay_out() {
        const std::size_t parts = std::min<std::size_t>(parallel::threads_to_run(0), text_.size() / LEAST_RUN_BYTES);
        if (parts < 1) return false;
        // One run too, on one thread: the letters go straight into their str, not through
        // the plain reading's buffer, which would hold a long record's letters twice.
        const std::optional<std::vector<std::string_view>> runs = reader::fasta_runs(text_, parts);
        if (!runs) return false;
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

    void hand_over(RecordList& records) {
        std::size_t index = 0;
        for (const std::vector<reader::FastaRecordText>& run : runs_) {
            for (const reader::FastaRecordText& record : run) {
                cut_to_letters(index);
                records.add(std::move(identifiers_[index]), std::move(sequences_[index]), facts_[index], record.header);
                ++index;
            }
        }
    }

    // Line ends and white space took room that the letters did not need.
    void cut_to_letters(std::size_t index) {
        PyObject* sequence = sequences_[index].release();
        const int cut = PyUnicode_GET_LENGTH(sequence) == ssize(counts_[index])
                            ? 0
                            : PyUnicode_Resize(&sequence, ssize(counts_[index]));
        sequences_[index] = PyRef::steal(sequence);  // the str as it was, where it could not be cut
        if (cut != 0) module::throw_python_error();
    }

    std::string_view text_;
    const reader::LetterClasses& classes_;
    std::vector<std::vector<reader::FastaRecordText>> runs_;
    std::vector<PyRef> identifiers_;
    std::vector<PyRef> sequences_;
    std::vector<std::size_t> counts_;
    std::vector<reader::LetterFacts> facts_;
};

// Reads one text into the records: a whole file, or a run of whole FASTA records of one
// whose first line is `first_line`.
reader::Format read_text(std::string_view text, std::optional<reader::Format> format,
                         const reader::LetterClasses& classes, RecordList& records, std::size_t first_line = 1) {
    if ((!format || *format == reader::Format::fasta) && FastaSideBySide(text, classes).read(records)) {
        return reader::Format::fasta;
    }
    return reader::read_records(text, format, classes, records, {first_line, records.size() + 1});
}

// A long record's letters written straight into the str that is to hold them, grown by
// PyUnicode_Resize: a realloc, which moves a large block's pages rather than copying them.
class StrRoom final : public reader::LetterRoom {
public:
    char* grow(std::size_t size, std::size_t) override {
        const WithInterpreterLock locked;
        if (str_.is_null()) {
            str_ = checked(PyUnicode_New(ssize(size), 127));
        } else {
            resize(size);
        }
        return module::ascii_data(str_.get());
    }

    // The str cut to the letters, where they lie in it (the room is then empty); null otherwise.
    PyRef take(std::string_view letters) {
        if (str_.is_null() || letters.data() != module::ascii_data(str_.get())) return {};
        resize(letters.size());
        return std::move(str_);
    }

    void clear() noexcept { str_ = PyRef(); }

private:
    void resize(std::size_t size) {
        PyObject* str = str_.release();
        const int failed = PyUnicode_Resize(&str, ssize(size));
        str_ = PyRef::steal(str);  // the str as it was, where it could not be resized
        if (failed != 0) module::throw_python_error();
    }

    PyRef str_;
};

// Hands long records to the list with the interpreter lock taken back: pieces are read
// without it, so that the next piece is decompressed meanwhile.
class LockedSink final : public reader::RecordSink {
public:
    explicit LockedSink(RecordList& records) noexcept : records_(records) {}

    void take(std::string_view identifier, std::string_view header, std::string_view sequence,
              reader::LetterFacts facts) override {
        const WithInterpreterLock locked;
        PyRef letters = facts.ascii() ? room_.take(sequence) : PyRef();
        if (!letters.is_null()) {
            records_.add(checked(python_text(identifier, false)), std::move(letters), facts, header);
            return;
        }
        records_.take(identifier, header, sequence, facts);  // letters beyond ASCII: decoded
        room_.clear();
    }

    reader::LetterRoom* letter_room() noexcept override { return &room_; }

private:
    RecordList& records_;
    StrRoom room_;
};

// Reads a file given as an iterable of pieces of its bytes. FASTA is read a run of whole
// records at a time as the pieces come; another format (or one to be found) needs the
// whole text.
reader::Format read_pieces(PyObject* pieces, std::optional<reader::Format> format,
                           const reader::LetterClasses& classes, RecordList& records) {
    const PyRef iterator = checked(PyRef::steal(PyObject_GetIter(pieces)));
    std::string whole;
    LockedSink locked_records(records);
    reader::FastaPieces fasta(classes, locked_records, [&](std::string_view run, reader::TextStart start) {
        const WithInterpreterLock locked;
        const std::size_t before = records.size();
        (void)read_text(run, reader::Format::fasta, classes, records, start.line);
        return records.size() - before;
    });
    const bool by_runs = format == reader::Format::fasta;
    for (PyRef piece = PyRef::steal(PyIter_Next(iterator.get())); !piece.is_null();
         piece = PyRef::steal(PyIter_Next(iterator.get()))) {
        BufferBytes bytes;
        if (!bytes.acquire(piece.get())) module::throw_python_error();
        if (by_runs) {
            const WithoutInterpreterLock unlocked;
            fasta.take(bytes.text());
        } else {
            whole.append(bytes.text());
        }
    }
    if (PyErr_Occurred()) module::throw_python_error();
    if (!by_runs) return read_text(whole, format, classes, records);
    fasta.finish();
    return reader::Format::fasta;
}

// read_records(source, in_format, plain_letters=None, headers=False, frameshift_digits=False)
//     -> (format, [(identifier, sequence)], marked, header lines, kept)
//
// source: a bytes-like object holding the whole file, or an iterable of bytes-like pieces
// of it (a file being decompressed); in_format: "auto" or a format name; plain_letters:
// bytes; when given, marked lists the places of the records with any other letter (None
// otherwise); headers: when true, every record's whole header line, in order (None
// otherwise). frameshift_digits: digits inside the sequences' lines are kept as PAL2NAL's
// frameshift notation, and marked lists the places of the records holding any. kept lists
// the columns that a CLUSTAL file's lines of '#' mark to keep (None without them). Text that
// is not in the format raises ValueError with a one-line message naming line and record, as
// in the whole file.
PyRef read_records_impl(PyObject* source, std::string_view format_text, PyObject* plain_letters, bool headers,
                        bool frameshift_digits) {
    std::optional<reader::Format> format;
    if (format_text != "auto") {
        format = reader::format_named(format_text);
        if (!format) module::raise(PyExc_ValueError, "unknown input format '" + std::string(format_text) + "'");
    }
    BufferBytes letters;
    if (plain_letters != Py_None && !letters.acquire(plain_letters)) module::throw_python_error();
    const reader::LetterClasses classes(letters.text(), frameshift_digits);
    RecordList records(Wanted{plain_letters != Py_None || frameshift_digits, headers, frameshift_digits});
    reader::Format found{};
    if (PyObject_CheckBuffer(source)) {
        BufferBytes bytes;
        if (!bytes.acquire(source)) module::throw_python_error();
        found = read_text(bytes.text(), format, classes, records);
    } else {
        found = read_pieces(source, format, classes, records);
    }
    return records.result(found);
}

constexpr std::string_view READ_RECORDS_PARAMETERS[] = {"source", "in_format", "plain_letters", "headers",
                                                        "frameshift_digits"};
constexpr auto READ_RECORDS = described("read_records", READ_RECORDS_PARAMETERS, 2);

PyObject* read_records(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return enter<READ_RECORDS>(args, nargs, kwnames, [](const auto& slots, module::ArgumentConversion& convert) {
        const std::string_view format = convert("in_format", module::borrow_text, slots[1]);
        PyObject* const plain_letters = slots[2] == nullptr ? Py_None : slots[2];
        const bool headers = slots[3] != nullptr && convert("headers", truth_of, slots[3]);
        const bool frameshift_digits = slots[4] != nullptr && convert("frameshift_digits", truth_of, slots[4]);
        return read_records_impl(slots[0], format, plain_letters, headers, frameshift_digits);
    });
}

constexpr std::string_view GROW_HEAP_PARAMETERS[] = {"expected_bytes"};
constexpr auto GROW_HEAP = described("grow_heap_for", GROW_HEAP_PARAMETERS, 1);

// grow_heap_for(expected_bytes) -> bool: readies the heap for records of about that many bytes.
PyObject* grow_heap(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) noexcept {
    return enter<GROW_HEAP>(args, nargs, kwnames, [](const auto& slots, module::ArgumentConversion& convert) {
        const Py_ssize_t bytes = convert("expected_bytes", ssize_of, slots[0]);
        return checked(PyBool_FromLong(bytes > 0 && memory::grow_heap_for(static_cast<std::size_t>(bytes))));
    });
}

PyMethodDef READER_METHODS[] = {
    {"read_records", as_method(read_records), METH_FASTCALL | METH_KEYWORDS,
     "read_records(source, in_format, plain_letters=None, headers=False, frameshift_digits=False) -> (format, "
     "records, marked, headers, kept)"},
    {"grow_heap_for", as_method(grow_heap), METH_FASTCALL | METH_KEYWORDS,
     "grow_heap_for(expected_bytes) -> bool\n\nGrows the heap once for about that many bytes of records, its new "
     "pages advised\nfor huge pages; for a process that reads one large locus and ends."},
};

}  // namespace

std::span<const PyMethodDef> reader_methods() noexcept { return READER_METHODS; }

}  // namespace ntpepmap::tool_extension
