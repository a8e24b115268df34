#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "engine/locus.hpp"

// Where a locus's codon rows go as its records are translated: straight into the room its caller
// made. Records of different indices may be placed at once, from different threads.
namespace ntpepmap::engine {

// A row per record, in a room of its own as long as a full row; a row that came out shorter
// keeps its length.
class RowPlacement {
public:
    RowPlacement(std::span<char* const> rooms, std::size_t records);

    void place(std::size_t index, const LocusRecord& record, const RecordOutcome& outcome) noexcept;
    void finish(LocusResult& result) const;

private:
    static constexpr std::size_t LEFT_OUT = static_cast<std::size_t>(-1);
    std::span<char* const> rooms_;
    std::vector<std::size_t> lengths_;
};

// The FASTA text of the full rows, the output file as it is: each record has its own place in it,
// where it starts when every record before it is full; the text closes up at the end where one
// is not full.
class TextPlacement {
public:
    TextPlacement(const Locus& locus, char* text);

    void place(std::size_t index, const LocusRecord& record, const RecordOutcome& outcome) noexcept;
    void finish(LocusResult& result);

private:
    const std::vector<std::size_t>& starts_;
    std::vector<std::uint8_t> full_;
    std::size_t wrap_;
    char* text_;
};

}  // namespace ntpepmap::engine
