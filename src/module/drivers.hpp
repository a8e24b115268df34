#pragma once

#include "module/py_ref.hpp"
#include "module/records.hpp"
#include "tables/genetic_codes.hpp"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The bodies of the three Python functions, on converted native values.
namespace ntpepmap::module {

// Raises ValueError (PythonErrorSet) for a triplet of more than three bytes.
[[nodiscard]] std::optional<std::string> attempt_iupac_substitution_impl(std::string_view original_triplet,
                                                                         std::vector<std::string> taxa);

// Raises ValueError (PythonErrorSet) for a table number without a built-in table.
// Both drivers return the result text as a new str.
[[nodiscard]] PyRef pepthread_impl(std::string_view file_steem, TableNumber table_num, const RecordList& seqs);

[[nodiscard]] PyRef pepthread_original_args_impl(std::string_view file_steem, const CodonTable& gene_table,
                                                       const RecordList& seqs);

}  // namespace ntpepmap::module
