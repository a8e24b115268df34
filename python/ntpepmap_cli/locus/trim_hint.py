"""Telling a user that a protein alignment looks trimmed.

A trimmed alignment (ClipKIT, trimAl, Gblocks) has lost residues in its
columns that were cut, so most of its records no longer fit their CDS and
are left out. Such a record's residues are still found, in order, as a few
stretches of its CDS's translation. The trim itself cannot be recovered
without the untrimmed alignment: the hint names --kept-columns, nothing more.
"""

from __future__ import annotations

from collections.abc import Callable, Mapping, Sequence
from itertools import product

from .._native import code_letters

TRIMMED_HINT = ("the alignment looks trimmed: give the untrimmed alignment and the trimmer's "
                "kept columns with --kept-columns")

_GAPS = str.maketrans("", "", "-.~")
# Unrelated residues are found in order too, when the translation is long enough: each
# costs about 20 letters of it (one per amino acid). A trim that keeps a tenth of the
# columns or more costs fewer than 10 per residue; a row too short to tell is no sign.
_MOST_LETTERS_PER_RESIDUE = 10
_LEAST_RESIDUES = 10
# Records looked at, spread over those left out: about a millisecond each for 1,000
# residues, and a failing run of 10,000 records should not take 10 s more to say why.
_MOST_LOOKED_AT = 100


def looks_trimmed(left_out: Sequence[int], pair_of: Callable[[int], tuple[str, str]],
                  records: int, table_num: int,
                  gene_table: Mapping[str, Sequence[str]] | None) -> bool:
    """Whether more than half of a locus's records were left out and each of those (or of
    a hundred spread over them), an aligned row with its CDS (pair_of gives them, asked only
    for those looked at), is found as two or more stretches of the CDS's translation."""
    if 2 * len(left_out) <= records or not left_out:
        return False
    codons = _codon_table(table_num, gene_table)
    step = -(-len(left_out) // _MOST_LOOKED_AT)
    return all(_in_stretches(row.translate(_GAPS).upper(), cds, codons)
               for row, cds in map(pair_of, left_out[::step]))


def _codon_table(table_num: int, gene_table: Mapping[str, Sequence[str]] | None
                 ) -> dict[str, str]:
    """Upper-case DNA codon -> its letter."""
    if gene_table is not None:
        return {codon.upper().replace("U", "T"): letter
                for letter, codons in gene_table.items() for codon in codons}
    letters = code_letters(table_num)
    return {"".join(bases): letter for bases, letter in zip(product("TCAG", repeat=3), letters)}


def _in_stretches(residues: str, cds: str, codons: dict[str, str]) -> bool:
    """Whether, in one of the CDS's three frames, the residues are found in order as two
    or more stretches of its translation, closer together than chance puts them."""
    if len(residues) < _LEAST_RESIDUES:
        return False
    bases = cds.upper().replace("U", "T").translate(_GAPS)
    for frame in range(3):
        translation = "".join([codons.get(bases[start:start + 3], "X")
                               for start in range(frame, len(bases) - 2, 3)])
        found = _stretches(residues, translation)
        if found is not None:
            stretches, span = found
            if stretches >= 2 and span <= _MOST_LETTERS_PER_RESIDUE * len(residues):
                return True
    return False


def _stretches(residues: str, translation: str) -> tuple[int, int] | None:
    """How many stretches of the translation the residues are found in, in order, each
    at its first place (which keeps a stretch going wherever it can), and how many
    letters they span; None when they are not found so. An X of the translation (an
    ambiguous codon) stands for any residue."""
    stretches, first, place = 0, 0, 0
    for residue in residues:
        if stretches and translation[place:place + 1] in (residue, "X"):
            place += 1
            continue
        found = _first_of(translation, residue, place)
        if found < 0:
            return None
        if not stretches:
            first = found
        stretches += 1
        place = found + 1
    return stretches, place - first


def _first_of(translation: str, residue: str, place: int) -> int:
    """Where the residue or an X is first found from place on; -1 where neither is."""
    found = translation.find(residue, place)
    unknown = translation.find("X", place, found if found >= 0 else len(translation))
    return unknown if unknown >= 0 else found
