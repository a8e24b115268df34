#pragma once

#include "module/py_ref.hpp"

#include <cstdint>
#include <memory>

#include "reader/record_set.hpp"

// _native.RecordSet: the records of one reading (or of several files as one), held natively;
// Python asks for identifiers, header lines and, for a few records, their letters.
namespace ntpepmap::tool_extension {

// Which records `marked` lists: none, those with letters outside the reading's plain set, or
// those holding frameshift digits.
enum class Marking : std::uint8_t { none, unusual, digits };

// A new RecordSet object owning the set.
[[nodiscard]] module::PyRef record_set_object(std::unique_ptr<reader::RecordSet> set, Marking marking);
// The set of a RecordSet object; null for any other object.
[[nodiscard]] const reader::RecordSet* record_set_of(PyObject* object) noexcept;
// The set of a RecordSet object, to have records appended (what was made of it is let go); null
// for any other object.
[[nodiscard]] reader::RecordSet* record_set_to_extend(PyObject* object) noexcept;
// Adds the type to the module.
void add_record_set_type(PyObject* module);

}  // namespace ntpepmap::tool_extension
