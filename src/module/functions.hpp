#pragma once

#include "module/py_ref.hpp"

#include <span>

namespace ntpepmap::module {

// The method records of the Python-callable functions, in registration order.
[[nodiscard]] std::span<PyMethodDef> module_functions() noexcept;

}  // namespace ntpepmap::module
