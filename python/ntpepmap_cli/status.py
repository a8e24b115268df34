"""``ntpepmap batch --status FILE``: what became of every locus, as a table a program reads.

One row per locus, tab-separated, under a header line: its name (the output
path as the manifest writes it, or the file stem in folder mode), its output
path, its fate, its counts as the summary line has them, and one message.
"""

from __future__ import annotations

from .locus import LocusJob, LocusOutcome, Status, write_bytes
from .translation import Tally

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Iterable

WRITTEN, FAILED, INTERRUPTED = "written", "failed", "interrupted"
COLUMNS = ("locus", "output", "fate", *Tally.__slots__, "message")
_FIELD_BREAKS = str.maketrans("\t\n\r", "   ")  # a field stays on its line and in its column


def first_message(outcome: LocusOutcome) -> str:
    """A failed locus's error (its last note); else its first problem or note."""
    if outcome.status == Status.FAILED and outcome.notes:
        return outcome.notes[-1]
    if outcome.problems:
        return str(outcome.problems[0])
    return outcome.notes[0] if outcome.notes else ""


def _row(name: str, job: LocusJob, outcome: LocusOutcome | None) -> str:
    if outcome is None:
        fields = [name, job.out_path, INTERRUPTED, *("0" for _ in Tally.__slots__), ""]
    else:
        fate = FAILED if outcome.status == Status.FAILED else WRITTEN
        counts = (str(getattr(outcome.tally, count)) for count in Tally.__slots__)
        fields = [name, job.out_path, fate, *counts, first_message(outcome)]
    return "\t".join(field.translate(_FIELD_BREAKS) for field in fields) + "\n"


def write_status(path: str, loci: Iterable[tuple[str, LocusJob]],
                 outcomes: Iterable[LocusOutcome]) -> None:
    """The table of loci, (name, job) in the order given, to path ('-': standard output);
    a locus without an outcome was not finished."""
    by_job = {id(outcome.job): outcome for outcome in outcomes}
    lines = ["\t".join(COLUMNS) + "\n"]
    lines += [_row(name, job, by_job.get(id(job))) for name, job in loci]
    write_bytes(path, "".join(lines).encode("utf-8", "surrogateescape"))
