"""The columns a trimmer kept of a protein alignment, and the codon rows cut down to them.

Phylogenomic pipelines trim the protein alignment and want the codon alignment
of the kept columns. The untrimmed alignment is back-translated, every codon
checked against its residue, and only the codons of the kept columns written.
The kept columns come from the file the trimmer wrote, known by its content:
trimAl's '#ColumnsMap' line (-colnumbering, 0-based), ClipKIT's log (-l, one
line per column, 1-based) or a list made by hand ('1-120,131', 1-based); or
from lines of '#' under the blocks of a CLUSTAL alignment (--blocks).
"""

from __future__ import annotations

import os
import re
from collections.abc import Iterable

from ..errors import InputError, name_some, shown_path
from .input_files import Record, read_text

TRIMAL_MAP = "trimAl column map"
CLIPKIT_LOG = "ClipKIT log"
COLUMN_LIST = "column list"
BLOCK_MARKS = "lines of '#'"
PYTHON_LIST = "list of 0-based columns"
_NUMBERED_FROM_0 = (TRIMAL_MAP, PYTHON_LIST)

_COLUMNS_MAP = "#ColumnsMap"
# Column numbers of ASCII digits, short enough to be read as numbers at all.
_CLIPKIT_LINE = re.compile(r"\s*(\d{1,15})\s+(keep|trim)(?:\s|$)", re.ASCII)
_LIST_LINE = re.compile(r"[\d,\s-]*", re.ASCII)
_LIST_ITEM = re.compile(r"(\d{1,15})(?:-(\d{1,15}))?", re.ASCII)
_NUMBER = re.compile(r"\d{1,15}", re.ASCII)
_NEGATIVE = re.compile(r"-\d{1,15}", re.ASCII)
# What may follow a locus's stem in the name of its file in a folder of kept columns.
_STEM_ENDS = ".-_"


class KeptColumns:
    """The kept columns as a file gives them, not yet checked against the alignment: runs
    of them (first, last, 0-based) each with its line (0 where none gives it)."""

    __slots__ = ("path", "kind", "runs", "log_width", "problem")

    def __init__(self, path: str, kind: str, runs: list[tuple[int, int, int]],
                 log_width: int | None = None, problem: str | None = None) -> None:
        self.path = path
        self.kind = kind
        self.runs = runs            # a range of a list stays one run until it is known to fit
        self.log_width = log_width  # a log's own count of the alignment's columns
        self.problem = problem      # found as the file was read; told with the widths

    def fitted(self, width: int, pep_name: str) -> list[int]:
        """The columns, once they are known to fit an alignment of `width` columns:
        each within it, rising, and for a log one line per column."""
        if self.problem is not None:
            raise self._refusal(self.problem, width, pep_name)
        if self.log_width is not None and self.log_width != width:
            raise self._refusal("its lines do not number the alignment's columns", width, pep_name)
        previous = -1
        for first, last, line in self.runs:
            where = f"line {line}: " if line else ""
            if first < 0:  # before the rising check: column 0 of a 1-based list is no repeat
                base = 0 if self.kind in _NUMBERED_FROM_0 else 1
                raise self._refusal(f"{where}column {self._shown(first)} is out of range: a "
                                    f"{self.kind} numbers columns from {base}", width, pep_name)
            if first <= previous:
                said = "repeats" if first == previous else f"comes after {self._shown(previous)}"
                raise self._refusal(f"{where}column {self._shown(first)} {said}: kept columns "
                                    f"must rise", width, pep_name)
            if last >= width:
                raise self._refusal(f"{where}column {self._shown(last)} is not in the "
                                    f"alignment", width, pep_name)
            previous = last
        if not self.runs:
            raise self._refusal("no column is kept", width, pep_name)
        return [column for first, last, _ in self.runs for column in range(first, last + 1)]

    def _shown(self, column: int) -> int:
        """A column as the file numbers it."""
        return column if self.kind in _NUMBERED_FROM_0 else column + 1

    def _refusal(self, detail: str, width: int, pep_name: str) -> InputError:
        if self.log_width is not None:
            extent = f"of {self.log_width} columns"
        else:
            extent = f"up to column {max((self._shown(last) for _, last, _ in self.runs), default=0)}"
        return InputError(self.path, f"{detail}: {self.kind} {extent}, alignment "
                                     f"{shown_path(pep_name)} of {width} columns; nothing written")


def single_columns(path: str, kind: str, columns: list[int]) -> KeptColumns:
    """Columns given one by one, on no line of a file."""
    return KeptColumns(path, kind, [(column, column, 0) for column in columns])


def read_kept_columns(path: str) -> KeptColumns:
    """The kept columns of a trimAl column map, a ClipKIT log or a list, known by content."""
    lines = read_text(path).split("\n")
    maps = [number for number, line in enumerate(lines, 1) if line.startswith(_COLUMNS_MAP)]
    if maps:
        return _column_map(path, lines, maps)
    filled = [(number, line) for number, line in enumerate(lines, 1) if line.strip()]
    if not filled:
        raise InputError(path, "empty; expected kept columns")
    if _CLIPKIT_LINE.match(filled[0][1]):
        return _clipkit_log(path, filled)
    return _column_list(path, filled)


def _column_map(path: str, lines: list[str], maps: list[int]) -> KeptColumns:
    """trimAl -colnumbering: '#ColumnsMap<TAB>0, 1, 5, ...'; its other lines say nothing of columns."""
    if len(maps) > 1:
        raise InputError(path, f"line {maps[1]}: a second '{_COLUMNS_MAP}' line")
    number = maps[0]
    items = lines[number - 1][len(_COLUMNS_MAP):].replace(",", " ").split()
    _refuse_negative(path, number, items, TRIMAL_MAP, 0)
    if not all(_NUMBER.fullmatch(item) for item in items):
        raise InputError(path, f"line {number}: '{_COLUMNS_MAP}' followed by more than column "
                               f"numbers and commas")
    return KeptColumns(path, TRIMAL_MAP, [(int(item), int(item), number) for item in items])


def _refuse_negative(path: str, number: int, items: list[str], kind: str, first: int) -> None:
    """A column numbered below the first is out of range, not a word the file cannot hold."""
    negative = next((item for item in items if _NEGATIVE.fullmatch(item)), None)
    if negative is not None:
        raise InputError(path, f"line {number}: column {negative} is out of range: a {kind} "
                               f"numbers columns from {first}")


def _clipkit_log(path: str, filled: list[tuple[int, str]]) -> KeptColumns:
    """ClipKIT -l: 'POSITION keep|trim CLASS GAPPYNESS', one line per column, in order."""
    runs: list[tuple[int, int, int]] = []
    problem = None
    for place, (number, line) in enumerate(filled, 1):
        match = _CLIPKIT_LINE.match(line)
        if match is None:
            raise InputError(path, f"line {number}: not a line of a ClipKIT log "
                                   f"('POSITION keep|trim CLASS GAPPYNESS')")
        if int(match[1]) != place and problem is None:
            problem = f"line {number}: column {match[1]} where column {place} belongs"
        if match[2] == "keep":
            runs.append((place - 1, place - 1, number))
    return KeptColumns(path, CLIPKIT_LOG, runs, len(filled), problem)


def _column_list(path: str, filled: list[tuple[int, str]]) -> KeptColumns:
    """Columns and ranges of them, 1-based: '1-120,131,140-300'."""
    runs: list[tuple[int, int, int]] = []
    problem = None
    for number, line in filled:
        items = [item for item in re.split(r"[,\s]+", line.strip()) if item]
        if _LIST_LINE.fullmatch(line):
            _refuse_negative(path, number, items, COLUMN_LIST, 1)
        matches = [_LIST_ITEM.fullmatch(item) for item in items]
        if not _LIST_LINE.fullmatch(line) or None in matches:
            raise InputError(path, f"line {number}: neither trimAl's '{_COLUMNS_MAP}' line, "
                                   f"ClipKIT's log ('1 keep ...') nor a list of columns "
                                   f"('1-120,131')")
        for match in matches:
            assert match is not None
            first, last = int(match[1]), int(match[2] or match[1])
            if last < first and problem is None:
                problem = f"line {number}: range {match[0]} runs backwards"
            runs.append((first - 1, last - 1, number))
    return KeptColumns(path, COLUMN_LIST, runs, problem=problem)


def block_columns(path: str, marked: list[int] | None) -> KeptColumns:
    """The columns lines of '#' marked under the blocks of a CLUSTAL alignment."""
    if marked is None:
        raise InputError(path, "--blocks: no line of '#' under a block marks columns to keep "
                               "(CLUSTAL input, as Gblocks and PAL2NAL mark them)")
    return single_columns(path, BLOCK_MARKS, marked)


def files_by_locus(folder: str, stems: Iterable[str]) -> dict[str, list[str]]:
    """The files of a folder of kept columns that belong to each locus: those whose name
    starts with its stem, followed by '.', '-', '_' or nothing; a file that more than
    one stem starts belongs to the longest."""
    try:
        with os.scandir(folder) as entries:
            names = sorted(entry.name for entry in entries
                           if not entry.name.startswith(".") and entry.is_file())
    except OSError as exc:
        raise InputError(folder, exc.strerror or str(exc)) from None
    by_length = sorted(stems, key=len, reverse=True)
    found: dict[str, list[str]] = {stem: [] for stem in by_length}
    for name in names:
        owner = next((stem for stem in by_length if name.startswith(stem)
                      and (len(name) == len(stem) or name[len(stem)] in _STEM_ENDS)), None)
        if owner is not None:
            found[owner].append(os.path.join(folder, name))
    return found


def locus_file(folder: str, stem: str, files: list[str]) -> str:
    """The one file of a locus in a folder of kept columns."""
    if not files:
        raise InputError(folder, f"no file of kept columns for locus {stem} (a name that "
                                 f"starts with {stem} and then '.', '-', '_' or nothing)")
    if len(files) > 1:
        names = name_some([os.path.basename(path) for path in files])
        raise InputError(folder, f"{len(files)} files of kept columns for locus {stem}: {names}")
    return files[0]


def column_runs(columns: Iterable[int], size: int = 1) -> list[tuple[int, int]]:
    """Rising columns of `size` characters each, as (start, end) runs of characters."""
    runs: list[tuple[int, int]] = []
    for column in columns:
        start = column * size
        if runs and runs[-1][1] == start:
            runs[-1] = (runs[-1][0], start + size)
        else:
            runs.append((start, start + size))
    return runs


def kept_codon_rows(rows: list[Record], columns: list[int]) -> list[Record]:
    """The codon rows with only the codons of the kept protein columns, in order."""
    runs = column_runs(columns, 3)
    return [(ident, "".join([row[start:end] for start, end in runs])) for ident, row in rows]
