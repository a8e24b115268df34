#include "engine/locus_placement.hpp"

#include <cstring>

#include "memory/huge_pages.hpp"
#include "writer/fasta_text.hpp"

namespace ntpepmap::engine {

RowPlacement::RowPlacement(std::span<char* const> rooms, std::size_t records)
    : rooms_(rooms), lengths_(records, LEFT_OUT) {}

void RowPlacement::place(std::size_t index, const LocusRecord&, const RecordOutcome& outcome) noexcept {
    if (outcome.fate != RecordFate::written) return;
    if (!outcome.row.empty()) std::memcpy(rooms_[index], outcome.row.data(), outcome.row.size());
    lengths_[index] = outcome.row.size();
}

void RowPlacement::finish(LocusResult& result) const {
    result.rows.assign(lengths_.size(), std::nullopt);
    for (std::size_t index = 0; index < lengths_.size(); ++index) {
        if (lengths_[index] != LEFT_OUT) result.rows[index] = std::string_view(rooms_[index], lengths_[index]);
    }
}

TextPlacement::TextPlacement(const Locus& locus, char* text)
    : starts_(locus.text_starts()), full_(locus.records().size()), wrap_(locus.settings().wrap), text_(text) {
    memory::advise_huge_pages(text, locus.text_room());
}

void TextPlacement::place(std::size_t index, const LocusRecord& record, const RecordOutcome& outcome) noexcept {
    if (!is_full(outcome, record.row)) return;
    writer::put_fasta_record(text_ + starts_[index], record.name, outcome.row, wrap_);
    full_[index] = 1;
}

void TextPlacement::finish(LocusResult& result) {
    std::size_t length = 0;
    for (std::size_t index = 0; index < full_.size(); ++index) {
        if (full_[index] == 0) continue;
        const std::size_t size = starts_[index + 1] - starts_[index];
        if (length != starts_[index]) std::memmove(text_ + length, text_ + starts_[index], size);
        length += size;
    }
    result.text = std::string_view(text_, length);
}

}  // namespace ntpepmap::engine
