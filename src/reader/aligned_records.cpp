#include "reader/aligned_records.hpp"

#include <algorithm>

#include "reader/record_checks.hpp"
#include "reader/text_lines.hpp"

namespace ntpepmap::reader {

void AlignedRecords::start(std::string_view line, std::size_t line_number) {
    const Words words = first_word(line);
    if (const auto problem = identifier_problem(words.first)) {
        throw ReadError(line_number, records_.size() + 1, {}, *problem);
    }
    records_.push_back(AlignedRecord{words.first, {}, {}});
    append(records_.size(), words.rest, line_number, static_cast<std::size_t>(words.rest.data() - line.data()) + 1);
}

void AlignedRecords::start_named(std::string_view name, std::string_view piece, std::size_t line_number) {
    std::string& kept = names_.emplace_back(trim_white_space(name));
    std::replace_if(kept.begin(), kept.end(), [](char byte) { return is_white_space(static_cast<unsigned char>(byte)); }, '_');
    if (const auto problem = identifier_problem(kept)) throw ReadError(line_number, records_.size() + 1, {}, *problem);
    records_.push_back(AlignedRecord{kept, {}, {}});
    append(records_.size(), piece, line_number);
}

void AlignedRecords::append(std::size_t number, std::string_view piece, std::size_t line_number,
                            std::size_t first_column) {
    AlignedRecord& record = records_[number - 1];
    LetterFacts facts;
    const std::size_t before = record.sequence.size();
    append_letters(record.sequence, piece, classes_, facts);
    if (facts.digits_to_read(classes_)) {
        record.sequence.resize(before);
        facts = {};
        if (const auto problem = append_frameshift_line(record.sequence, piece, classes_, facts)) {
            throw ReadError(line_number, number, record.identifier, *problem);
        }
    }
    if (facts.lines_to_check()) {
        if (const auto problem = sequence_line_problem(piece, first_column)) {
            throw ReadError(line_number, number, record.identifier, *problem);
        }
    }
    record.facts.bits |= facts.bits;
}

void AlignedRecords::match_first(char match) {
    if (records_.empty()) return;
    const AlignedRecord& first = records_.front();
    for (std::size_t number = 1; number < records_.size(); ++number) {
        AlignedRecord& record = records_[number];
        const std::size_t shared = std::min(record.sequence.size(), first.sequence.size());
        for (std::size_t at = 0; at < shared; ++at) {
            if (record.sequence[at] == match) record.sequence[at] = first.sequence[at];
        }
        record.facts.bits |= first.facts.bits;
    }
}

void AlignedRecords::hand_over(RecordSink& sink) const {
    for (const AlignedRecord& record : records_) sink.take(record.identifier, record.identifier, record.sequence, record.facts);
}

}  // namespace ntpepmap::reader
