#pragma once

#include "engine/locus.hpp"
#include "tool_extension/entry.hpp"

namespace ntpepmap::tool_extension {

// The LocusTranslation of a locus's result, with its rows (or None) and its text (or None).
[[nodiscard]] PyRef locus_translation(const engine::LocusResult& result, PyRef rows, PyRef text);

}  // namespace ntpepmap::tool_extension
