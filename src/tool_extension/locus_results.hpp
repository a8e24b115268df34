#pragma once

#include "engine/locus.hpp"
#include "module/py_ref.hpp"

namespace ntpepmap::tool_extension {

// The LocusTranslation of a locus's result, with its rows (or None) and its text (or None).
module::PyRef locus_translation(const engine::LocusResult& result, module::PyRef rows, module::PyRef text);

}  // namespace ntpepmap::tool_extension
