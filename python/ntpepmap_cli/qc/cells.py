"""What became of each cell of a locus (a record's codon in a protein column), one byte per
cell, taken from the engine's result of the locus: the page draws it and tells each cell's
problem.

Made only when a page is asked for: the engine's result tells the failed residues,
frameshifts, stop codons and (asked for with the page) resolved ambiguous triplets of each
record; the protein rows say where the gaps are."""

from __future__ import annotations

from ..result.fates import Fate, SiteReason

TYPE_CHECKING = False
if TYPE_CHECKING:
    from .._native import LocusTranslation, RecordReport, RecordSet
    from ..result.problems import Problem

# The states, by their byte; the page's legend and colours follow this order.
STATES = ("clean", "gap", "masked mismatch", "kept mismatch", "resolved ambiguity", "frameshift",
          "stop codon", "no nucleotides", "column trimmed away", "record left out")
(CLEAN, GAP, MASKED, KEPT, RESOLVED, FRAMESHIFT, STOP, NO_NUCLEOTIDES, TRIMMED,
 LEFT_OUT) = range(len(STATES))

# A protein letter's state before the engine's word: gaps as even_row reads them, and a
# frameshift digit (PAL2NAL's nucleotides that encode no residue) as a frameshift.
_LETTER_STATES = bytes(GAP if chr(byte) in "-.~ " else FRAMESHIFT if chr(byte) in "123"
                       else CLEAN for byte in range(256))
_LEFT_OUT_ROW = bytes(LEFT_OUT if state in (CLEAN, GAP) else state for state in range(256))
_TRIMMED_CELL = bytes(state if state in (STOP, LEFT_OUT) else TRIMMED for state in range(256))

# Up to this many cells the page also carries every residue, to show under the pointer.
RESIDUES_UP_TO = 2_000_000


class CellMap:
    """A locus's cells row by row (the protein alignment's order, records left out too):
    states[row * width + column - 1], and each row's name, fate and problems."""

    __slots__ = ("width", "names", "states", "fates", "problems", "residues", "codons")

    def __init__(self, width: int, names: list[str], states: bytearray,
                 residues: bytes | None) -> None:
        self.width = width
        self.names = names
        self.states = states
        self.fates = ["written"] * len(names)
        self.problems: list[list[Problem]] = [[] for _ in names]
        self.residues = residues  # the rows' letters, as wide as the states; None: too many
        self.codons: bytearray | None = None  # the codons written, 3 letters a cell, where shown

    def told(self, row: int, problems: list[Problem]) -> None:
        self.problems[row] += problems


def cell_map(found: LocusTranslation, proteins: RecordSet, mismatch: str,
             keep_short: bool) -> CellMap:
    """The cells of a translated locus, every column written (see mark_trimmed)."""
    width = found.width
    records = proteins.records()
    letters = b"".join(row.encode("ascii", "replace").ljust(width, b"-")[:width]
                       for _, row in records)
    cells = CellMap(width, [ident for ident, _ in records], bytearray(letters.translate(_LETTER_STATES)),
                    letters if len(letters) <= RESIDUES_UP_TO else None)
    if found.rows is not None and cells.residues is not None:  # a small locus's: shown too
        cells.codons = bytearray(b"".join(_codon_row(row, 3 * width) for row in found.rows))
    failed_state = KEPT if mismatch == "keep" else MASKED
    for record in found.records:
        _mark_record(cells, record, failed_state, 3 * width, keep_short)
    return cells


def _codon_row(row: str | None, full: int) -> bytes:
    """A record's codons as written, a short row padded and a record left out blank."""
    return (row or "").encode("ascii", "replace")[:full].ljust(full, b" ")


def _mark_record(cells: CellMap, record: RecordReport, failed_state: int, full: int,
                 keep_short: bool) -> None:
    row, width = record.index, cells.width
    start = row * width
    if record.fate != Fate.written or (record.row_length != full and not keep_short):
        cells.states[start:start + width] = bytes(cells.states[start:start + width]).translate(
            _LEFT_OUT_ROW)
        cells.fates[row] = "left out: " + (Fate(record.fate).name.replace("_", " ")
                                           if record.fate != Fate.written else "CDS too short")
        if cells.codons is not None:  # none of its codons was written
            cells.codons[3 * start:3 * (start + width)] = b" " * (3 * width)
        return
    for column in record.resolved:
        cells.states[start + column - 1] = RESOLVED
    for site in record.sites:
        if site.reason == SiteReason.too_few_nucleotides:
            _mark_residues_from(cells, start, site.column, width, NO_NUCLEOTIDES)
        else:
            cells.states[start + site.column - 1] = failed_state
    for frameshift in record.frameshifts:
        _mark_residues_from(cells, start, frameshift.column, 1 + frameshift.masked_after,
                            FRAMESHIFT)
    for stop in record.stops:
        cells.states[start + stop.column - 1] = STOP


def _mark_residues_from(cells: CellMap, start: int, column: int, count: int, state: int) -> None:
    """The cell of the column and the next count - 1 cells of residues after it."""
    states = cells.states
    at, end = start + column - 1, start + cells.width
    while count > 0 and at < end:
        if states[at] != GAP:
            states[at] = state
            count -= 1
        at += 1


def mark_trimmed(cells: CellMap, written: list[int]) -> None:
    """The columns not written (written: the 0-based columns that are); a stop codon keeps
    its state, whose column may be why."""
    states, width = cells.states, cells.width
    for column in sorted(set(range(width)) - set(written)):  # a column's cells at once
        states[column::width] = bytes(states[column::width]).translate(_TRIMMED_CELL)


def mark_gap_columns(cells: CellMap) -> None:
    """The columns --drop-gap-columns leaves out: a gap in any row written."""
    width = cells.width
    mark_trimmed(cells, [column for column in range(width)
                         if GAP not in cells.states[column::width]])
