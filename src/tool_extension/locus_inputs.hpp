#pragma once

#include <vector>

#include "engine/locus.hpp"
#include "module/py_ref.hpp"

namespace ntpepmap::tool_extension {

// A locus's records as the engine reads them: views into Python objects, which the holders keep
// alive while the interpreter lock is let go, whatever happens meanwhile to what the caller gave.
struct LocusInputs {
    std::vector<module::PyRef> holders;
    std::vector<engine::LocusRecord> records;
};

// translate_locus's proteins ([(identifier, aligned row)]) and cds ([coding sequence of each]);
// or, with cds_of, two record sets and the index in cds of each protein's CDS record. Each
// record is checked before any is translated.
LocusInputs locus_inputs(PyObject* proteins, PyObject* cds, PyObject* cds_of = nullptr);

// codes_fitting_locus's failing: (residue, triplet) pairs of ASCII str, as records of one residue each.
LocusInputs codon_records(PyObject* failing);

// looks_trimmed's left_out: record indices, each one of the locus's `records`.
std::vector<std::size_t> indices_of(PyObject* given, std::size_t records);

}  // namespace ntpepmap::tool_extension
