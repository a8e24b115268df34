"""``ntpepmap batch --status FILE``: what became of every locus, as a table a program reads.

One row per locus, tab-separated, under a header line: its name (the output
path as the manifest writes it, or the file stem in folder mode), its output
path, its fate, its counts as the summary line has them, and one message.
"""

from __future__ import annotations

from ..job import LocusJob
from ..result.outcome import FATES, LocusOutcome, Status, Tally

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Iterable

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
