#pragma once

#include "engine/locus.hpp"
#include "tool_extension/entry.hpp"

namespace ntpepmap::tool_extension {

// _native.Text: bytes made natively, in memory of their own rather than the interpreter's, and
// handed to Python as a read-only memoryview: an output file's text, as long as the file, is
// written from it and let go without Python ever allocating it. A Text of `size` bytes, not yet
// written:
[[nodiscard]] PyRef native_text(std::size_t size);
[[nodiscard]] char* native_text_data(PyObject* text) noexcept;
// The text cut to its first `size` bytes, before any view of it is made.
void cut_native_text(PyObject* text, std::size_t size) noexcept;
// A read-only memoryview of the text, which keeps it.
[[nodiscard]] PyRef native_text_view(PyObject* text);
void add_native_text_type(PyObject* module);

// The LocusTranslation of a locus's result, with its rows (or None) and its text (or None).
[[nodiscard]] PyRef locus_translation(const engine::LocusResult& result, PyRef rows, PyRef text);

}  // namespace ntpepmap::tool_extension
