"""A genetic code of the user's own, from a JSON file, checked before any work.

The module matches codons byte-wise against upper-case DNA, so a table
written in RNA or in lower case would match nothing: its codons are made
upper-case DNA here, and anything that could never match is refused with
the key it was found under.
"""

from __future__ import annotations

from ..errors import InputError
from .input_files import read_text

ROW_GAPS = "-.~"  # gap letters of alignment rows, which no genetic code may name
_NUCLEOTIDES = frozenset("ACGT")


def _json_object(pairs: list[tuple[str, object]]) -> dict[str, object]:
    """json's object hook that refuses a key written twice (json keeps the last silently)."""
    table: dict[str, object] = {}
    for key, value in pairs:
        if key in table:
            raise ValueError(f"key {key!r} is given twice")
        table[key] = value
    return table


def _codons(key: str, value: object) -> list[str]:
    """The codon list of key as the module matches it: upper-case DNA."""
    if not isinstance(value, list) or not value:
        raise ValueError(f"key {key!r}: the value must be a non-empty list of codons")
    codons = []
    for codon in value:
        if not isinstance(codon, str):
            raise ValueError(f"key {key!r}: {codon!r} is not a codon")
        dna = codon.upper().replace("U", "T")
        if len(dna) != 3 or not _NUCLEOTIDES.issuperset(dna):
            raise ValueError(f"key {key!r}: {codon!r} is not three letters of A, C, G, T (or U)")
        codons.append(dna)
    return codons


def checked_gene_table(table: object) -> dict[str, list[str]]:
    if not isinstance(table, dict):
        raise ValueError("the genetic code must be a JSON object of letter to codon list")
    checked: dict[str, list[str]] = {}
    for key, value in table.items():
        if len(key) != 1 or key in ROW_GAPS or key.isspace():
            raise ValueError(f"key {key!r}: keys are single residue letters "
                             f"(not a gap: {', '.join(ROW_GAPS)})")
        checked[key] = _codons(key, value)
    return checked


def load_gene_table(path: str) -> dict[str, list[str]]:
    """A JSON object of one-letter keys to codon lists, with its codons made upper-case DNA."""
    import json

    text = read_text(path)
    try:
        return checked_gene_table(json.loads(text, object_pairs_hook=_json_object))
    except json.JSONDecodeError as exc:
        raise InputError(path, f"not JSON: {exc.msg} at line {exc.lineno}") from None
    except ValueError as exc:
        raise InputError(path, str(exc)) from None
