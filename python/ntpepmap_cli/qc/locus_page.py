"""A locus's page: its counts, every record's codons coloured by what became of them, and
its records with their problems."""

from __future__ import annotations

from .cells import STATES, CellMap
from .pages import packed, packed_json, write_page

TYPE_CHECKING = False
if TYPE_CHECKING:
    from ..outputs.atomic_files import OutputSet
    from ..result.outcome import LocusOutcome, Tally

TEMPLATE = "locus.html"


def summary(tally: Tally) -> dict[str, int]:
    """The counts the page's summary shows, stop codons of every policy as one."""
    counts = {name: getattr(tally, name) for name in tally.__slots__}
    counts["stops"] = tally.stops_kept + tally.stops_masked + tally.stops_dropped
    return counts


def _problem_rows(cells: CellMap) -> list[list[object]]:
    """[row, column or 0, residue, triplet, kind, action, line] of each problem."""
    return [[row, problem.column or 0, problem.residue or "", problem.triplet or "", problem.kind,
             problem.action, problem.message]
            for row, problems in enumerate(cells.problems) for problem in problems]


def locus_data(outcome: LocusOutcome, title: str) -> dict[str, object]:
    cells = outcome.cells
    if cells is None:
        raise ValueError("the locus kept no cells: its page is asked for before it runs")
    return {
        "title": title, "fate": outcome.fate(), "summary": summary(outcome.tally),
        "width": cells.width, "rows": len(cells.names), "states": list(STATES),
        "notes": outcome.notes,
        "cells": packed(bytes(cells.states)),
        "residues": None if cells.residues is None else packed(cells.residues),
        "codons": None if cells.codons is None else packed(bytes(cells.codons)),
        "details": packed_json({"names": cells.names, "fates": cells.fates,
                                "problems": _problem_rows(cells)}),
    }


def write_locus_page(outputs: OutputSet, path: str, outcome: LocusOutcome, title: str) -> None:
    write_page(outputs, path, TEMPLATE, title, locus_data(outcome, title))
