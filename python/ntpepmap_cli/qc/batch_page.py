"""A batch's page: every locus with its fate, counts and first problem, and a link to its
own page."""

from __future__ import annotations

import os

from ..result.outcome import Status
from .locus_page import summary
from .pages import packed_json, write_page

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Iterable

    from ..job import LocusJob
    from ..outputs.atomic_files import OutputSet
    from ..result.outcome import LocusOutcome

TEMPLATE = "batch.html"
_COUNTS = ("written", "masked", "frameshifts", "stops", "left_out")


def _locus_row(name: str, job: LocusJob, outcome: LocusOutcome | None,
               folder: str) -> dict[str, object]:
    if outcome is None:
        return {"locus": name, "fate": "interrupted", "message": "", "page": ""}
    counts = summary(outcome.tally)
    page = ""
    if job.html_path is not None and outcome.status != Status.FAILED:
        page = os.path.relpath(job.html_path, folder).replace(os.sep, "/")
    return {"locus": name, "fate": outcome.fate(), "message": outcome.first_message(),
            "page": page, **{key: counts[key] for key in _COUNTS}}


def write_batch_page(outputs: OutputSet, path: str, loci: Iterable[tuple[str, LocusJob]],
                     outcomes: Iterable[LocusOutcome]) -> None:
    """The page of loci, (name, job) in the order given; a locus without an outcome was not
    finished."""
    by_job = {id(outcome.job): outcome for outcome in outcomes}
    folder = os.path.dirname(os.path.abspath(path))
    rows = [_locus_row(name, job, by_job.get(id(job)), folder) for name, job in loci]
    fates: dict[str, int] = {}
    for row in rows:
        fates[str(row["fate"])] = fates.get(str(row["fate"]), 0) + 1
    write_page(outputs, path, TEMPLATE, "batch", {"loci": len(rows), "fates": fates,
                                                  "rows": packed_json(rows)})
