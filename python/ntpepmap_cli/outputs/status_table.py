"""``ntpepmap batch --status FILE``: what became of every locus, as a table a program reads.

One row per locus, tab-separated, under a header line: its name (the output
path as the manifest writes it, or the file stem in folder mode), its output
path, its fate, its counts as the summary line has them, and one message.
"""

from __future__ import annotations

import os

from ..result.outcome import FATES, LocusOutcome, Status, Tally

TYPE_CHECKING = False
if TYPE_CHECKING:  # the engine's names are not needed: MultiQC reads these tables through here
    from collections.abc import Iterable

    from ..job import LocusJob
    from .atomic_files import OutputSet

# Fates: LocusOutcome.fate()'s, and one for a locus that a stopped batch did not finish.
FAILED, INTERRUPTED = FATES[Status.FAILED], "interrupted"
NOT_WRITTEN = (FAILED, INTERRUPTED)
COLUMNS = ("locus", "output", "fate", *Tally.__slots__, "message")
_FIELD_BREAKS = str.maketrans("\t\n\r", "   ")  # a field stays on its line and in its column


def _row(name: str, job: LocusJob, outcome: LocusOutcome | None) -> str:
    if outcome is None:
        fields = [name, job.out_path, INTERRUPTED, *("0" for _ in Tally.__slots__), ""]
    else:
        fields = [name, job.out_path, outcome.fate(), *map(str, outcome.tally.counts()),
                  outcome.first_message()]
    return "\t".join(field.translate(_FIELD_BREAKS) for field in fields) + "\n"


def write_status(outputs: OutputSet, path: str, loci: Iterable[tuple[str, LocusJob]],
                 outcomes: Iterable[LocusOutcome]) -> None:
    """The table of loci, (name, job) in the order given, to path ('-': standard output) as
    one of the run's outputs; a locus without an outcome was not finished; each row read
    from the locus's outcome."""
    by_job = {id(outcome.job): outcome for outcome in outcomes}
    lines = ["\t".join(COLUMNS) + "\n"]
    lines += [_row(name, job, by_job.get(id(job))) for name, job in loci]
    outputs.write(path, "".join(lines).encode("utf-8", "surrogateescape"))


def batch_page_path(folder: str | None) -> str | None:
    """Where a batch's page goes: beside its loci's pages, in the folder given for them."""
    return os.path.join(folder, "index.html") if folder else None


def write_tables(outputs: OutputSet, status_path: str | None, html_folder: str | None,
                 loci: Iterable[tuple[str, LocusJob]], outcomes: Iterable[LocusOutcome]) -> None:
    """The status table and the batch's page, those asked for (an interrupted batch's too:
    what was not finished shows), into the run's set of outputs."""
    loci, outcomes = list(loci), list(outcomes)
    if status_path is not None:
        write_status(outputs, status_path, loci, outcomes)
    page_path = batch_page_path(html_folder)
    if page_path is not None:  # imported only where asked for
        from ..qc.batch_page import write_batch_page

        write_batch_page(outputs, page_path, loci, outcomes)
