#include "locate/reverse_complement.hpp"

#include <array>
#include <utility>

namespace ntpepmap::locate {

namespace {

using ComplementTable = std::array<char, 256>;

constexpr char lower(char letter) { return static_cast<char>(letter - 'A' + 'a'); }

// Both cases of each pair, every other byte mapped to itself.
constexpr ComplementTable complement_table(char partner_of_a) {
    ComplementTable table{};
    for (std::size_t byte = 0; byte < table.size(); ++byte) table[byte] = static_cast<char>(byte);
    constexpr std::array<std::pair<char, char>, 9> PAIRS{
        {{'C', 'G'}, {'R', 'Y'}, {'K', 'M'}, {'B', 'V'}, {'D', 'H'}, {'S', 'S'}, {'W', 'W'}, {'N', 'N'}, {'U', 'A'}}};
    for (const auto& [first, second] : PAIRS) {
        for (const bool lower_case : {false, true}) {
            const char a = lower_case ? lower(first) : first;
            const char b = lower_case ? lower(second) : second;
            table[static_cast<unsigned char>(a)] = b;
            table[static_cast<unsigned char>(b)] = a;
        }
    }
    // U -> A is set above; A's partner depends on the kind of nucleic acid, T's is always A.
    table['A'] = partner_of_a;
    table['a'] = lower(partner_of_a);
    table['T'] = 'A';
    table['t'] = 'a';
    return table;
}

constexpr ComplementTable DNA_COMPLEMENT = complement_table('T');
constexpr ComplementTable RNA_COMPLEMENT = complement_table('U');

void append_with(const ComplementTable& table, std::string_view text, std::string& out) {
    const std::size_t start = out.size();
    out.resize(start + text.size());
    char* next = out.data() + start;
    for (auto letter = text.rbegin(); letter != text.rend(); ++letter) {
        *next++ = table[static_cast<unsigned char>(*letter)];
    }
}

bool is_rna(std::string_view text) noexcept {
    return text.find_first_of("Uu") != std::string_view::npos && text.find_first_of("Tt") == std::string_view::npos;
}

}  // namespace

void append_reverse_complement(std::string_view written, std::string& out) {
    append_with(is_rna(written) ? RNA_COMPLEMENT : DNA_COMPLEMENT, written, out);
}

void append_reverse_complement_dna(std::string_view check_copy, std::string& out) {
    append_with(DNA_COMPLEMENT, check_copy, out);
}

}  // namespace ntpepmap::locate
