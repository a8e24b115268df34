#include "engine/locus_settings.hpp"

#include <algorithm>

#include "engine/stop_codons.hpp"
#include "parallel/shares.hpp"

namespace ntpepmap::engine {
namespace {

template <class Enum, std::size_t Count>
Enum choice(SettingSource& source, const char* name, const EnumNames<Enum, Count>& table) {
    if (const auto value = table.value_named(source.text(name))) return *value;
    throw SettingError(std::string("settings.") + name + " must be one of " + table.quoted());
}

std::size_t count(SettingSource& source, const char* name, const char* zero) {
    const std::ptrdiff_t value = source.number(name);
    if (value < 0) throw SettingError(std::string("settings.") + name + " must be 0 (" + zero + ") or more");
    return static_cast<std::size_t>(value);
}

}  // namespace

LocusSettings read_locus_settings(SettingSource& source) {
    LocusSettings locus;
    EngineOptions& options = locus.engine;
    options.mismatch = choice(source, "mismatch", MISMATCH_POLICY_NAMES);
    options.frameshifts = choice(source, "frameshifts", FRAMESHIFT_POLICY_NAMES);
    options.letters = {source.flag("upper_case"), source.flag("resolve_ambiguity"), source.flag("t_for_u")};
    options.keep_reports = source.flag("keep_reports");
    options.locate = source.flag("locate");
    options.both_strands = source.flag("both_strands");
    options.trim_stop = source.flag("trim_stop");
    if (options.trim_stop) {
        const auto bits = codon_bits(source.texts("terminal_stops"));
        if (!bits) throw SettingError("settings.terminal_stops must be upper-case DNA codons");
        options.terminal_stops = *bits;
    }
    options.keep_short = source.flag("keep_short");
    options.stops = choice(source, "stops", STOP_POLICY_NAMES);
    options.note_resolved = source.flag("note_resolved");
    // Beyond the most threads that are run, any number asks for as many.
    const std::size_t threads = count(source, "threads", "as many as there are CPUs");
    locus.threads = static_cast<unsigned>(std::min<std::size_t>(threads, parallel::MOST_USEFUL_THREADS));
    locus.wrap = count(source, "wrap", "no wrapping");
    locus.output = source.flag("fasta_text") ? LocusOutput::fasta_text : LocusOutput::rows;
    return locus;
}

const GeneticCodeDefinition& built_in_code(long long number) {
    const auto found = std::find_if(GENETIC_CODES.begin(), GENETIC_CODES.end(),
                                    [number](const GeneticCodeDefinition& each) { return each.number == number; });
    if (found == GENETIC_CODES.end()) throw SettingError("no built-in genetic code " + std::to_string(number));
    return *found;
}

GeneticCode genetic_code(const CodeSetting& code, CodonTable& table) {
    if (code.is_own) {
        table.clear();
        for (const auto& [letter, codons] : code.own) table.insert_or_assign(letter, codons);
        return GeneticCode(table);
    }
    const TableNumber number = built_in_code(code.number).number;
    return GeneticCode(*GeneticCode::built_in(number), number);
}

TableNumber built_in_number(const CodeSetting& code) {
    if (code.is_own) throw SettingError("settings.code must be a built-in code's number");
    return built_in_code(code.number).number;
}

CodonLetters codon_letters_of(const CodeSetting& code) {
    if (!code.is_own) return codon_letters(built_in_code(code.number).amino_acids);
    CodonLetters letters = codon_letters(std::string_view{});
    for (const auto& [letter, codons] : code.own) {
        for (const std::string& codon : codons) give_letter(letters, codon, letter);
    }
    return letters;
}

}  // namespace ntpepmap::engine
