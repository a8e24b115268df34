#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "engine/engine.hpp"
#include "engine/locus.hpp"

namespace ntpepmap::engine {

// The built-in codes under which each codon, alone as the record of its one residue, is written
// without a failure: as a locus of them would be translated unsearched, mismatches masked, the
// other options as given. Those are the codes a locus's failing codons all fit; ascending.
[[nodiscard]] std::vector<TableNumber> codes_fitting(std::span<const LocusRecord> codons, EngineOptions options);

// A locus as it was translated, and what its run came to: another code must do as well.
struct LocusRun {
    std::span<const LocusRecord> records;  // the locus
    std::span<const LocusRecord> failing;  // its failing codons, each alone as for codes_fitting
    std::size_t left_out = 0;              // the records the run left out
    TableNumber code = 0;                  // the built-in code it ran under
};

// The other built-in codes that the failing codons all fit and under which the whole locus, as
// the settings translate it but mismatches masked, fails no residue and leaves out no more
// records than the run did; ascending. The codons sort the codes first: each code the whole
// locus is translated under costs a run of its own.
[[nodiscard]] std::vector<TableNumber> codes_fitting_locus(const LocusRun& run, const LocusSettings& settings);

}  // namespace ntpepmap::engine
