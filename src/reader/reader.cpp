#include "reader/reader.hpp"

#include <array>
#include <string>

#include "reader/clustal_reader.hpp"
#include "reader/fasta_reader.hpp"
#include "reader/nexus_reader.hpp"
#include "reader/phylip_reader.hpp"
#include "reader/stockholm_reader.hpp"
#include "reader/text_lines.hpp"

namespace ntpepmap::reader {

namespace {

// "not FASTA, CLUSTAL, PHYLIP, Stockholm nor NEXUS (use --in-format)"
std::string unknown_format_message() {
    constexpr std::array<std::string_view, FORMAT_NAMES.size()> SHOWN = {"FASTA", "CLUSTAL", "PHYLIP", "Stockholm", "NEXUS"};
    std::string message = "not ";
    for (std::size_t index = 0; index < SHOWN.size(); ++index) {
        if (index > 0) message += index + 1 == SHOWN.size() ? " nor " : ", ";
        message += SHOWN[index];
    }
    return message + " (use --in-format)";
}

}  // namespace

std::string_view format_name(Format format) noexcept { return FORMAT_NAMES[static_cast<std::size_t>(format)]; }

std::optional<Format> format_named(std::string_view name) noexcept {
    for (std::size_t index = 0; index < FORMAT_NAMES.size(); ++index) {
        if (FORMAT_NAMES[index] == name) return static_cast<Format>(index);
    }
    return std::nullopt;
}

Format detect_format(std::string_view text) {
    TextLines lines(without_byte_order_mark(text));
    std::string_view line;
    if (!lines.next_filled(line)) throw ReadError("empty file");
    line = trim_leading_white_space(line);
    if (line.starts_with('>')) return Format::fasta;
    if (is_clustal_heading(line)) return Format::clustal;
    if (is_phylip_heading(line)) return Format::phylip;
    if (is_stockholm_heading(line)) return Format::stockholm;
    if (is_nexus_heading(line)) return Format::nexus;
    throw ReadError(lines.number(), 0, {}, unknown_format_message());
}

Format read_records(std::string_view text, std::optional<Format> format, const LetterClasses& classes,
                    RecordSink& sink, TextStart start) {
    std::string copy;  // only for old Mac line ends
    if (has_lone_carriage_return(text)) {
        copy = with_line_feeds(text);
        text = copy;
    }
    const Format chosen = format ? *format : detect_format(text);
    text = without_byte_order_mark(text);
    switch (chosen) {
    case Format::fasta: read_fasta(text, classes, sink, start); break;
    case Format::clustal: read_clustal(text, classes, sink); break;
    case Format::phylip: read_phylip(text, classes, sink); break;
    case Format::stockholm: read_stockholm(text, classes, sink); break;
    case Format::nexus: read_nexus(text, classes, sink); break;
    }
    return chosen;
}

}  // namespace ntpepmap::reader
