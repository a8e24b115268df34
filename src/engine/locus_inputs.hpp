#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "engine/locus.hpp"
#include "reader/record_set.hpp"

namespace ntpepmap::engine {

// The proteins in their set's order, each with the CDS record cds_of names: views into the sets,
// which must outlive them. The engine reads rows and CDSs only as ASCII: a record holding other
// letters, a CDS index beyond the set or a count of indices other than the proteins' is refused
// (SettingError), each record checked before any is translated.
[[nodiscard]] std::vector<LocusRecord> paired_records(const reader::RecordSet& proteins, const reader::RecordSet& cds,
                                                      std::span<const std::size_t> cds_of);

}  // namespace ntpepmap::engine
