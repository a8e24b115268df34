#include "module/records.hpp"

#include "module/conversions.hpp"
#include "module/python_text.hpp"

#include <unordered_map>

namespace ntpepmap::module {
namespace {

void fill_nucleotide_sequence(Record& record, PyObject* sequence) {
    record.nt_seq = borrow_text(sequence);
    record.nt_seq_is_ascii = is_ascii_str(sequence);
}

void fill_peptide_pair(Record& record, PyObject* pair) {
    const auto [header, row] = tuple_items<2>(pair);
    record.aa_header = borrow_text(header);
    record.aa_seq = borrow_text(row);
}

// Each returns whether converting the part may have run Python code (which may mutate `seqs`).
bool fill_numbered_nucleotides(Record& record, PyObject* triple) {
    const auto [number, header, sequence] = tuple_items<3>(triple);
    static_cast<void>(to_int32(number));  // must convert, but nothing uses it
    record.nt_header = borrow_text(header);
    fill_nucleotide_sequence(record, sequence);
    return !PyLong_CheckExact(number);  // __index__
}

bool fill_nucleotides(Record& record, PyObject* pair) {
    const auto [header, sequence] = tuple_items<2>(pair);
    record.nt_header = borrow_text(header);
    fill_nucleotide_sequence(record, sequence);
    return false;
}

// Two names with equal text need str subclasses with their own equality, or a dict
// that Python code re-filled while it was being converted.
void merge_equal_names(RecordList& records) {
    std::unordered_map<std::string_view, std::size_t> first_position;
    first_position.reserve(records.size());
    std::size_t kept = 0;
    for (std::size_t i = 0; i < records.size(); ++i) {
        const auto [found, inserted] = first_position.try_emplace(records[i].name, kept);
        Record& target = inserted ? records[kept++] : records[found->second];
        if (&target == &records[i]) {
            continue;
        }
        if (inserted) {
            target = std::move(records[i]);
            continue;
        }
        target.value_owner = std::move(records[i].value_owner);
        target.aa_header = records[i].aa_header;
        target.aa_seq = records[i].aa_seq;
        target.nt_header = records[i].nt_header;
        target.nt_seq = records[i].nt_seq;
        target.nt_seq_is_ascii = records[i].nt_seq_is_ascii;
    }
    records.erase(records.begin() + static_cast<std::ptrdiff_t>(kept), records.end());
}

template <typename FillNucleotides>
RecordList to_record_list(PyObject* seqs, FillNucleotides fill_nucleotide_part) {
    expect_dict(seqs);
    RecordList records;
    records.reserve(static_cast<std::size_t>(PyDict_Size(seqs)));
    bool names_may_repeat = false;
    for_each_dict_entry(seqs, [&](PyRef key, PyRef value) {
        Record record;
        record.name = borrow_text(key.get());
        names_may_repeat = names_may_repeat || !PyUnicode_CheckExact(key.get());
        const auto [peptide, nucleotide] = tuple_items<2>(value.get());
        fill_peptide_pair(record, peptide);
        names_may_repeat = fill_nucleotide_part(record, nucleotide) || names_may_repeat;
        record.name_owner = std::move(key);
        record.value_owner = std::move(value);
        records.push_back(std::move(record));
    });
    if (names_may_repeat) {
        merge_equal_names(records);
    }
    return records;
}

}  // namespace

RecordList to_numbered_records(PyObject* seqs) { return to_record_list(seqs, fill_numbered_nucleotides); }

RecordList to_records(PyObject* seqs) { return to_record_list(seqs, fill_nucleotides); }

CodeEntries to_code_entries(PyObject* gene_table) {
    expect_dict(gene_table);
    CodeEntries entries;
    entries.reserve(static_cast<std::size_t>(PyDict_Size(gene_table)));
    for_each_dict_entry(gene_table, [&](PyRef key, PyRef value) {
        const char32_t letter = to_char(key.get());
        entries.emplace_back(letter, to_text_list(value.get()));
    });
    return entries;
}

CodonTable to_codon_table(PyObject* gene_table) {
    CodonTable table;
    for (auto& [letter, codons] : to_code_entries(gene_table)) table.insert_or_assign(letter, std::move(codons));
    return table;
}

}  // namespace ntpepmap::module
