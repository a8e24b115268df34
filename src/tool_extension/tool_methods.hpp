#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <span>

// The private extension of the command-line tool, ntpepmap_cli._native: each part
// of it hands over its functions; the module lists them in this order.
namespace ntpepmap::tool_extension {

[[nodiscard]] std::span<const PyMethodDef> reader_methods() noexcept;
[[nodiscard]] std::span<const PyMethodDef> engine_methods() noexcept;
// Adds the engine's result types and names to the module; false with an error set when that failed.
[[nodiscard]] bool add_engine_types(PyObject* module) noexcept;

}  // namespace ntpepmap::tool_extension
