#pragma once

#include <string>
#include <string_view>

namespace ntpepmap::locate {

// Appends the reverse complement of `written` to `out`, keeping each letter's case and
// ambiguity (R pairs with Y, K with M, B with V, D with H; S, W and N pair with themselves).
// A pairs with T, or with U when the text is RNA (it holds U and no T); U always pairs with A.
// Bytes that are not nucleotide letters ('-', '.', anything else) keep their value and move
// to their mirrored place.
void append_reverse_complement(std::string_view written, std::string& out);

// The same for an upper-case DNA check copy, without looking for RNA first.
void append_reverse_complement_dna(std::string_view check_copy, std::string& out);

}  // namespace ntpepmap::locate
