#include "tool_extension/native_text.hpp"

#include <cstdlib>
#include <new>

#include "tool_extension/entry.hpp"

namespace ntpepmap::tool_extension {
namespace {

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

}  // namespace

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
