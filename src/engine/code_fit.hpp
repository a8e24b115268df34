#pragma once

#include <span>
#include <vector>

#include "engine/engine.hpp"
#include "engine/locus.hpp"

namespace ntpepmap::engine {

// The built-in codes under which each codon, alone as the record of its one residue, is written
// without a failure: as a locus of them would be translated unsearched, mismatches masked, the
// other options as given. Those are the codes a locus's failing codons all fit; ascending.
[[nodiscard]] std::vector<TableNumber> codes_fitting(std::span<const LocusRecord> codons, EngineOptions options);

}  // namespace ntpepmap::engine
