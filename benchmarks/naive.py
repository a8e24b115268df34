"""Pure-Python threaders that check nothing: the baselines pepthread must beat.

``thread_naive`` is what one writes first, a loop over the alignment row;
``thread_by_runs`` is the quicker idiom that slices the CDS once per run of
residues. Both take and return what ``ntpepmap.pepthread`` does.
"""
from __future__ import annotations

import re

_RUNS = re.compile(r"-+|[^-]+")


def thread_record_naive(row: str, cds: str) -> str:
    pieces = []
    position = 0
    for residue in row:
        if residue == "-":
            pieces.append("---")
        else:
            pieces.append(cds[position:position + 3])
            position += 3
    return "".join(pieces)


def thread_record_by_runs(row: str, cds: str) -> str:
    pieces = []
    position = 0
    for run in _RUNS.findall(row):
        width = 3 * len(run)
        if run[0] == "-":
            pieces.append("-" * width)
        else:
            pieces.append(cds[position:position + width])
            position += width
    return "".join(pieces)


def thread_naive(file_steem: str, table_num: int, seqs: dict) -> str:
    return "".join(
        f"{name}\n{thread_record_naive(row, cds)}\n"
        for name, ((_, row), (_, _, cds)) in seqs.items()
    )


def thread_by_runs(file_steem: str, table_num: int, seqs: dict) -> str:
    return "".join(
        f"{name}\n{thread_record_by_runs(row, cds)}\n"
        for name, ((_, row), (_, _, cds)) in seqs.items()
    )


def copy_floor(seqs: dict) -> str:
    """The same bytes moved by C code: every name and CDS joined once."""
    return "".join([name + "\n" + cds + "\n" for name, (_, (_, _, cds)) in seqs.items()])
