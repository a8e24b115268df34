#include "tool_module/tool_methods.hpp"

namespace ntpepmap::tool_module {

std::span<const PyMethodDef> reader_methods() noexcept { return {}; }

}  // namespace ntpepmap::tool_module
