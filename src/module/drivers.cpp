#include "module/drivers.hpp"

#include "iupac/iupac.hpp"
#include "module/errors.hpp"
#include "module/python_text.hpp"
#include "module/result_text.hpp"
#include "module/stdout_sink.hpp"
#include "translator/amino_acid_translator.hpp"
#include "translator/codon_lookup.hpp"

namespace ntpepmap::module {
namespace {

// Name, row (three nucleotides per peptide column) and two line feeds per record.
std::size_t estimated_result_size(const RecordList& records) noexcept {
    std::size_t size = 0;
    for (const Record& record : records) {
        size += record.name.size() + 3 * record.aa_seq.size() + 2;
    }
    return size;
}

PyRef back_translate_records(std::string_view file_steem, const CodonTable& table, const RecordList& records) {
    if (records.empty()) {
        return to_python_str({});
    }
    const CodonLookup lookup(table);
    StdoutSink sink;
    ResultText result(estimated_result_size(records));
    std::string row;  // reused: keeps its capacity from record to record
    for (const Record& record : records) {
        AminoAcidTranslator translator(record.aa_header, record.aa_seq, record.nt_header, record.nt_seq, file_steem,
                                       sink);
        translator.streamline();
        translator.do_checks();
        result.append(record.name);
        result.append("\n");
        // A row made from ASCII nucleotides is ASCII: write it in place, no copy and no scan.
        char* room = record.nt_seq_is_ascii ? result.ascii_room(translator.row_capacity()) : nullptr;
        if (room != nullptr) {
            result.commit(static_cast<std::size_t>(translator.translate_into(lookup, room) - room));
        } else {
            row.clear();
            translator.reverse_translate_and_compare(lookup, row);
            result.append(row);
        }
        result.append("\n");
    }
    return result.finish();
}

}  // namespace

std::optional<std::string> attempt_iupac_substitution_impl(std::string_view original_triplet,
                                                           std::vector<std::string> taxa) {
    if (original_triplet.size() > MAX_TRIPLET_BYTES) {
        raise(PyExc_ValueError, "original_triplet must be at most 3 bytes of UTF-8, got " +
                                    std::to_string(original_triplet.size()));
    }
    return ntpepmap::attempt_iupac_substitution(original_triplet, std::move(taxa));
}

PyRef pepthread_impl(std::string_view file_steem, TableNumber table_num, const RecordList& seqs) {
    const CodonTable* table = find_codon_table(table_num);
    if (table == nullptr) {
        raise(PyExc_ValueError, "unknown genetic code table " + std::to_string(table_num) +
                                    ": the built-in tables are 1-6, 9-16 and 21-33");
    }
    return back_translate_records(file_steem, *table, seqs);
}

PyRef pepthread_original_args_impl(std::string_view file_steem, const CodonTable& gene_table,
                                         const RecordList& seqs) {
    return back_translate_records(file_steem, gene_table, seqs);
}

}  // namespace ntpepmap::module
