#include "tool_module/tool_methods.hpp"

namespace ntpepmap::tool_module {

std::span<const PyMethodDef> engine_methods() noexcept { return {}; }

}  // namespace ntpepmap::tool_module
