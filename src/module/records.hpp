#pragma once

#include "module/py_ref.hpp"
#include "tables/genetic_codes.hpp"

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ntpepmap::module {

// One entry of `seqs`. The texts are borrowed from the Python objects that the
// record keeps alive: the key, and the value tuple (whose nested tuples and
// strings are immutable), so no sequence is copied on the way in.
struct Record {
    PyRef name_owner;
    PyRef value_owner;
    std::string_view name;
    std::string_view aa_header;
    std::string_view aa_seq;
    std::string_view nt_header;
    std::string_view nt_seq;
    bool nt_seq_is_ascii = false;  // then its row is ASCII too
};

// Records in the order of the dict. Keys that convert to the same text keep the
// first one's position and the last one's value, as a dict update would.
using RecordList = std::vector<Record>;

// `seqs` of pepthread: {name: ((aa_header, aa_seq), (number, nt_header, nt_seq))}.
[[nodiscard]] RecordList to_numbered_records(PyObject* seqs);

// `seqs` of pepthread_original_args: {name: ((aa_header, aa_seq), (nt_header, nt_seq))}.
[[nodiscard]] RecordList to_records(PyObject* seqs);

// `gene_table`: {one-character str: sequence of str}, its letters with their codons in the dict's order.
using CodeEntries = std::vector<std::pair<char32_t, std::vector<std::string>>>;
[[nodiscard]] CodeEntries to_code_entries(PyObject* gene_table);
// The same as a table.
[[nodiscard]] CodonTable to_codon_table(PyObject* gene_table);

}  // namespace ntpepmap::module
