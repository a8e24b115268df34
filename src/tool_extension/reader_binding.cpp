// The reader's side of the tool's private extension: one function that turns the bytes of
// an input file into a RecordSet of its records.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>

#include "reader/file_reading.hpp"
#include "reader/gzip_reading.hpp"
#include "tool_extension/entry.hpp"
#include "tool_extension/record_set_binding.hpp"

namespace ntpepmap::tool_extension {
namespace {

// The bytes of a buffer-protocol object (bytes, a mapped file), released however the call ends.
class BufferBytes {
public:
    explicit BufferBytes(PyObject* object) {
        if (PyObject_GetBuffer(object, &view_, PyBUF_SIMPLE) != 0) module::throw_python_error();
    }
    BufferBytes(const BufferBytes&) = delete;
    BufferBytes& operator=(const BufferBytes&) = delete;
    ~BufferBytes() { PyBuffer_Release(&view_); }

    [[nodiscard]] std::string_view text() const noexcept {
        return {static_cast<const char*>(view_.buf), static_cast<std::size_t>(view_.len)};
    }

private:
    Py_buffer view_{};
};

// Reads a file given as an iterable of pieces of its bytes. A piece read as it comes is read
// without the interpreter lock, so that the next piece is decompressed meanwhile.
void read_pieces(PyObject* pieces, reader::FileInPieces& file) {
    const PyRef iterator = checked(PyObject_GetIter(pieces));
    for (PyRef piece = PyRef::steal(PyIter_Next(iterator.get())); !piece.is_null();
         piece = PyRef::steal(PyIter_Next(iterator.get()))) {
        const BufferBytes bytes(piece.get());
        const auto take = [&] { file.take(bytes.text()); };
        file.reads_as_it_comes() ? without_lock(take) : take();
    }
    if (PyErr_Occurred()) module::throw_python_error();
    without_lock([&] { file.finish(); });
}

// A new set of the source's records, or `into` (a RecordSet) with them appended, as a file of
// its own.
PyRef read_records_impl(PyObject* source, std::optional<reader::Format> format, const reader::LetterClasses& classes,
                        std::size_t expected_size, PyObject* into, Marking marking) {
    auto made = into == Py_None ? std::make_unique<reader::RecordSet>() : nullptr;
    reader::RecordSet* set = made ? made.get() : record_set_to_extend(into);
    if (set == nullptr) module::raise(PyExc_TypeError, "into must be a RecordSet");
    if (PyObject_CheckBuffer(source)) {
        const BufferBytes bytes(source);
        without_lock([&] { reader::read_whole_file(bytes.text(), format, classes, *set, expected_size); });
    } else {
        reader::FileInPieces file(format, classes, *set, expected_size);
        read_pieces(source, file);
    }
    return made ? record_set_object(std::move(made), marking) : PyRef::new_reference(into);
}

std::optional<reader::Format> format_of(PyObject* given) {
    const std::string_view name = module::borrow_text(given);
    if (name == "auto") return std::nullopt;
    const std::optional<reader::Format> format = reader::format_named(name);
    if (!format) module::raise(PyExc_ValueError, "unknown input format '" + std::string(name) + "'");
    return format;
}

// The classes of a reading: the plain letters' bytes are read into them, then let go.
reader::LetterClasses classes_of(PyObject* plain_letters, bool frameshift_digits) {
    if (plain_letters == Py_None) return reader::LetterClasses({}, frameshift_digits);
    const BufferBytes letters(plain_letters);
    return reader::LetterClasses(letters.text(), frameshift_digits);
}

PyRef read_records_entry(PyObject*, Slots slots, module::ArgumentConversion& convert) {
    const std::optional<reader::Format> format = convert("in_format", format_of, slots[1]);
    PyObject* const plain_letters = slots[2] != nullptr ? slots[2] : Py_None;
    const bool digits = slots[3] != nullptr && convert("frameshift_digits", truth_of, slots[3]);
    const Py_ssize_t expected = slots[4] != nullptr ? convert("expected_size", ssize_of, slots[4]) : 0;
    const Marking marking = digits ? Marking::digits : plain_letters != Py_None ? Marking::unusual : Marking::none;
    return read_records_impl(slots[0], format, classes_of(plain_letters, digits),
                             static_cast<std::size_t>(std::max<Py_ssize_t>(expected, 0)),
                             slots[5] != nullptr ? slots[5] : Py_None, marking);
}

constexpr std::string_view READ_RECORDS_PARAMETERS[] = {"source", "in_format", "plain_letters",
                                                        "frameshift_digits", "expected_size", "into"};
constexpr auto READ_RECORDS = described("read_records", READ_RECORDS_PARAMETERS, 2);

constexpr char READ_RECORDS_DOC[] =
    "read_records(source, in_format, plain_letters=None, frameshift_digits=False, expected_size=0, into=None)\n--\n\n"
    "The records of an input file as a RecordSet. source: a bytes-like object holding the whole file, or an\n"
    "iterable of bytes-like pieces of it (a file being decompressed); gzip data given whole is inflated here\n"
    "where gzip_inflated_here(); in_format: 'auto' or a format name;\n"
    "plain_letters: bytes; when given, the set's marked lists the records with any other letter (None\n"
    "otherwise). frameshift_digits: digits inside the sequences' lines are kept as PAL2NAL's frameshift\n"
    "notation, and marked lists the records holding any. expected_size: about how many bytes the pieces hold,\n"
    "where they are not all there yet. Every record's whole header line is kept, and the columns that a CLUSTAL\n"
    "file's lines of '#' mark to keep. Text that is not in the format raises ValueError with a one-line message\n"
    "naming line and record, as in the whole file. into: a set the records are appended to, as another file's\n"
    "(several files read as one set, each letter copied once), used nowhere else meanwhile. The records are\n"
    "read with the interpreter lock let go.";

PyRef gzip_inflated_here_entry(PyObject*, Slots, module::ArgumentConversion&) {
    return PyRef::new_reference(reader::gzip_inflated_here() ? Py_True : Py_False);
}

constexpr auto GZIP_INFLATED_HERE = described("gzip_inflated_here", {}, 0);

PyRef most_inflated_bytes_entry(PyObject*, Slots, module::ArgumentConversion&) {
    return to_python(reader::most_inflated_bytes());
}

PyRef inflated_too_far_entry(PyObject*, Slots slots, module::ArgumentConversion&) {
    const std::size_t most = count_of(slots[0], "most must be 0 or more");
    return to_python(std::string_view(reader::inflated_too_far(most)));
}

constexpr auto MOST_INFLATED_BYTES = described("most_inflated_bytes", {}, 0);
constexpr std::string_view MOST[] = {"most"};
constexpr auto INFLATED_TOO_FAR = described("inflated_too_far", MOST, 1);

PyMethodDef READER_FUNCTIONS[] = {
    {"read_records", as_method(entry<READ_RECORDS, read_records_entry>), METH_FASTCALL | METH_KEYWORDS,
     READ_RECORDS_DOC},
    {"gzip_inflated_here", as_method(entry<GZIP_INFLATED_HERE, gzip_inflated_here_entry>),
     METH_FASTCALL | METH_KEYWORDS,
     "gzip_inflated_here()\n--\n\nWhether read_records inflates gzip data given whole (built with ISA-L)."},
    {"most_inflated_bytes", as_method(entry<MOST_INFLATED_BYTES, most_inflated_bytes_entry>),
     METH_FASTCALL | METH_KEYWORDS,
     "most_inflated_bytes()\n--\n\nThe most text a compressed file is inflated to before its reading stops."},
    {"inflated_too_far", as_method(entry<INFLATED_TOO_FAR, inflated_too_far_entry>), METH_FASTCALL | METH_KEYWORDS,
     "inflated_too_far(most)\n--\n\nThe problem told of a compressed file whose text passes `most` bytes."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

void add_reader_functions(PyObject* module) {
    if (PyModule_AddFunctions(module, READER_FUNCTIONS) != 0) module::throw_python_error();
    PyRef names = checked(PyTuple_New(static_cast<Py_ssize_t>(reader::FORMAT_NAMES.size())));
    for (std::size_t index = 0; index < reader::FORMAT_NAMES.size(); ++index) {
        PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(index), to_python(reader::FORMAT_NAMES[index]).release());
    }
    add_to_module(module, "IN_FORMATS", std::move(names));
}

}  // namespace ntpepmap::tool_extension
