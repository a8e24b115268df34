#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/genetic_code.hpp"
#include "engine/locus.hpp"
#include "engine/trim_signs.hpp"

// A locus's settings as the tool hands them over, by name, each checked as it is read: a setting
// refused is told by the name the tool gave it.
namespace ntpepmap::engine {

// A setting refused, with the message the tool shows ("settings.wrap must be 0 (no wrapping) or more").
class SettingError : public std::invalid_argument {
public:
    using std::invalid_argument::invalid_argument;
};

// Where the settings are read from, one by name at a time, in the order the engine asks.
class SettingSource {
public:
    [[nodiscard]] virtual bool flag(const char* name) = 0;
    [[nodiscard]] virtual std::string text(const char* name) = 0;
    [[nodiscard]] virtual std::ptrdiff_t number(const char* name) = 0;
    [[nodiscard]] virtual std::vector<std::string> texts(const char* name) = 0;

protected:
    ~SettingSource() = default;
};

// The settings of a locus's run: choices by their names in the engine's tables, counts of 0 or
// more, terminal stops (read only with trim_stop) as upper-case DNA codons.
[[nodiscard]] LocusSettings read_locus_settings(SettingSource& source);

// The built-in code of that number; SettingError for any other number.
[[nodiscard]] const GeneticCodeDefinition& built_in_code(long long number);

// settings.code: a built-in code's number, or the caller's own code, each letter with its codons
// in the order given.
struct CodeSetting {
    long long number = 0;
    std::vector<std::pair<char32_t, std::vector<std::string>>> own;
    bool is_own = false;
};

// The code a locus runs under; `table` holds the caller's own code, which the code refers to.
[[nodiscard]] GeneticCode genetic_code(const CodeSetting& code, CodonTable& table);
// The built-in code's number, which the hints compare the others with; SettingError for an own code.
[[nodiscard]] TableNumber built_in_number(const CodeSetting& code);
// The letter of each codon under the code; of an own code, a codon given twice is the later letter's.
[[nodiscard]] CodonLetters codon_letters_of(const CodeSetting& code);

}  // namespace ntpepmap::engine
