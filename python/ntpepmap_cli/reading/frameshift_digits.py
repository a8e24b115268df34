"""PAL2NAL's frameshift digits in protein rows.

A digit n inside a protein row stands for n nucleotides of the CDS at that point
that encode no residue (PAL2NAL, GeneWise and tfastx write them). As PAL2NAL
writes them, the digit takes ceil(n/3) codon columns: its own, and the others
added after it in every row. The engine reads a column of 1 to 3 nucleotides
as a digit 1 to 3, so a larger digit becomes several: 4 is 3 then 1.
"""

from __future__ import annotations

from ..errors import InputError

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Callable, Mapping, Sequence
    from typing import Union

    # The records that hold digits, by index: all of them, or those fetched from a record set.
    Held = Union[Sequence["Record"], Mapping[int, "Record"]]

Record = tuple[str, str]  # (identifier, sequence)

_DIGITS = "0123456789"
_LARGE_DIGITS = "456789"


def _as_columns(digit: int, width: int) -> str:
    """The digit as columns of at most 3 nucleotides each, padded with gaps to width."""
    columns = "3" * (digit // 3) + (str(digit % 3) if digit % 3 else "")
    return columns.ljust(width, "-")


def _digit_widths(records: Held, holding: list[int]) -> dict[int, int]:
    """Each column of a digit above 3, and the columns it takes."""
    widths: dict[int, int] = {}
    for index in holding:
        for column, letter in enumerate(records[index][1]):
            if letter in _LARGE_DIGITS:
                widths[column] = max(widths.get(column, 1), -(-int(letter) // 3))
    return widths


def spread_columns(columns: list[int], records: Held, holding: list[int]) -> list[int]:
    """Columns of the rows as read, as columns of the rows with their digits spread: a
    large digit's column becomes all of its columns."""
    widths = _digit_widths(records, holding)
    spread: list[int] = []
    added, passed = 0, sorted(widths)
    next_digit = 0
    for column in columns:
        while next_digit < len(passed) and passed[next_digit] < column:
            added += widths[passed[next_digit]] - 1
            next_digit += 1
        spread += range(column + added, column + added + widths.get(column, 1))
    return spread


def expand_frameshift_digits(held: Held, holding: list[int],
                             every_record: Callable[[], list[Record]]) -> list[Record] | None:
    """Every row (every_record gives them) with each digit above 3 spread over its columns;
    None where no digit is above 3, as the rows are then. held: at least the records at the
    indices `holding`, those that hold digits."""
    widths = _digit_widths(held, holding)  # a large digit's column: the columns it takes
    return _widened(every_record(), widths) if widths else None


def _widened(records: list[Record], widths: dict[int, int]) -> list[Record]:
    columns = sorted(widths)
    expanded = []
    for ident, row in records:
        pieces = []
        start = 0
        for column in columns:
            if column >= len(row):
                break
            letter = row[column]
            spread = (_as_columns(int(letter), widths[column]) if letter in _LARGE_DIGITS
                      else letter + "-" * (widths[column] - 1))
            pieces += (row[start:column], spread)
            start = column + 1
        pieces.append(row[start:])
        expanded.append((ident, "".join(pieces)))
    return expanded


def _unreadable_digits(row: str) -> str | None:
    """The first run of digits that is no frameshift (0, or more than one digit), if any."""
    column = 0
    while column < len(row):
        if row[column] not in _DIGITS:
            column += 1
            continue
        end = column + 1
        while end < len(row) and row[end] in _DIGITS:
            end += 1
        if end - column > 1 or row[column] == "0":
            return row[column:end]
        column = end
    return None


def read_given_digits(records: list[Record], name: str) -> list[Record]:
    """Records given as text (not read from a file, so with no position numbers):
    their digits read as frameshifts, or InputError for digits that cannot be."""
    holding = []
    for index, (ident, row) in enumerate(records):
        if not any(digit in row for digit in _DIGITS):
            continue
        bad = _unreadable_digits(row)
        if bad is not None:
            raise InputError(name, f"{ident}: '{bad}' inside the sequence is neither a "
                                   "position number nor a frameshift (one digit, 1 to 9)")
        holding.append(index)
    widened = expand_frameshift_digits(records, holding, lambda: records) if holding else None
    return records if widened is None else widened
