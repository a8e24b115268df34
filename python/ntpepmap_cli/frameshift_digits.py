"""PAL2NAL's frameshift digits in protein rows.

A digit n inside a protein row stands for n nucleotides of the CDS at that point
that encode no residue (PAL2NAL, GeneWise and tfastx write them). As PAL2NAL
writes them, the digit takes ceil(n/3) codon columns: its own, and the others
added after it in every row. The engine reads a column of 1 to 3 nucleotides
as a digit 1 to 3, so a larger digit becomes several: 4 is 3 then 1.
"""

from __future__ import annotations

import re

from .errors import InputError
from .seqio import Record

_LARGE_DIGIT = re.compile(r"[4-9]")
_UNREADABLE = re.compile(r"[0-9]{2,}|0")
_DIGIT = re.compile(r"[0-9]")


def _as_columns(digit: int, width: int) -> str:
    """The digit as columns of at most 3 nucleotides each, padded with gaps to width."""
    columns = "3" * (digit // 3) + (str(digit % 3) if digit % 3 else "")
    return columns.ljust(width, "-")


def expand_frameshift_digits(records: list[Record], holding: list[int]) -> list[Record]:
    """The rows with each digit above 3 spread over its columns; `holding`: the
    indices of the records that hold digits."""
    widths: dict[int, int] = {}  # a large digit's column: the columns it takes
    for index in holding:
        for match in _LARGE_DIGIT.finditer(records[index][1]):
            widths[match.start()] = max(widths.get(match.start(), 1), -(-int(match.group()) // 3))
    if not widths:
        return records
    columns = sorted(widths)
    expanded = []
    for ident, row in records:
        pieces = []
        start = 0
        for column in columns:
            if column >= len(row):
                break
            letter = row[column]
            spread = _as_columns(int(letter), widths[column]) if "4" <= letter <= "9" else \
                letter + "-" * (widths[column] - 1)
            pieces += (row[start:column], spread)
            start = column + 1
        pieces.append(row[start:])
        expanded.append((ident, "".join(pieces)))
    return expanded


def read_given_digits(records: list[Record], name: str) -> list[Record]:
    """Records given as text (not read from a file, so with no position numbers):
    their digits read as frameshifts, or InputError for digits that cannot be."""
    holding = []
    for index, (ident, row) in enumerate(records):
        if not _DIGIT.search(row):
            continue
        bad = _UNREADABLE.search(row)
        if bad:
            raise InputError(name, f"{ident}: '{bad.group()}' inside the sequence is neither a "
                                   "position number nor a frameshift (one digit, 1 to 9)")
        holding.append(index)
    return expand_frameshift_digits(records, holding) if holding else records
