#include "engine/locus_inputs.hpp"

#include <string>

#include "engine/locus_settings.hpp"

namespace ntpepmap::engine {
namespace {

std::string_view ascii_letters(const reader::RecordSet& set, std::size_t index, std::string_view name,
                               const char* what) {
    if (!set.facts(index).ascii()) {
        throw SettingError(what + std::string(" of record ") + std::string(name) + " holds letters that are not ASCII");
    }
    return set.sequence(index);
}

}  // namespace

std::vector<LocusRecord> paired_records(const reader::RecordSet& proteins, const reader::RecordSet& cds,
                                        std::span<const std::size_t> cds_of) {
    if (cds_of.size() != proteins.size()) throw SettingError("cds_of must name one CDS record per protein record");
    std::vector<LocusRecord> records;
    records.reserve(proteins.size());
    for (std::size_t index = 0; index < proteins.size(); ++index) {
        const std::size_t at = cds_of[index];
        if (at >= cds.size()) throw SettingError("cds_of names a CDS record beyond the set");
        const std::string_view name = proteins.identifier(index);
        records.push_back({name, ascii_letters(proteins, index, name, "the aligned row"),
                           ascii_letters(cds, at, name, "the CDS"), cds.facts(at).acgt_only()});
    }
    return records;
}

}  // namespace ntpepmap::engine
