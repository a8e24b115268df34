"""What a batch tells on standard error: a line per problem, naming its locus, as each locus
finishes; its notes, merged across loci into one line per kind, once all have finished.

A clean batch of 300 loci paired by the same header rule would otherwise say so 300 times.
"""

from __future__ import annotations

import re

from ..errors import escaped, name_some, shown_path
from ..locus.run import file_stem
from ..command.messages import tally_text
from ..result.outcome import LocusOutcome, Status, Tally
from ..command.options import PROG

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Callable, Sequence

    from ..command.messages import Reporter
    from ..job import LocusJob

# A count in a note ("6 record(s)", "131 masked codons") differs from locus to locus and does not
# make a kind of its own; a table's number ("table 2", "-t 2") does.
_COUNT = re.compile(r"(?<!table )(?<!tables )(?<!-t )\b\d+\b")


def locus_label(job: LocusJob) -> str:
    """The locus as its lines name it: its output's stem (a locus without output, its name)."""
    return file_stem(job.out_path) if job.out_path else job.name


def _without_path(note: str, job: LocusJob) -> str:
    """The note without the locus's own file that it starts with: that part names the locus."""
    for path in (job.pep_path, job.cds_path, job.kept_path):
        if path:
            prefix = shown_path(path) + ": "
            if note.startswith(prefix):
                return note[len(prefix):]
    return note


class _Kind:
    """The notes of one kind: the loci that had one, and what the first of them said."""

    __slots__ = ("labels", "first", "first_note", "first_label", "alike")

    def __init__(self, label: str, said: str, note: str) -> None:
        self.labels = [label]
        self.first = said  # without the locus's file
        self.first_note = note
        self.first_label = label
        self.alike = True


class BatchVoice:
    """Tells each locus's problems and error as it finishes; gathers its notes."""

    def __init__(self, reporter: Reporter) -> None:
        self.reporter = reporter
        self._kinds: dict[str, _Kind] = {}

    def finished(self, outcome: LocusOutcome, write: Callable[[str], object]) -> None:
        self.reporter.reports(outcome.reports)
        label = locus_label(outcome.job)
        lines = [] if self.reporter.quiet else [f"{PROG}: {label}: {escaped(str(problem))}\n"
                                                for problem in outcome.problems]
        notes = outcome.remarks + outcome.notes
        if outcome.status == Status.FAILED and outcome.notes:
            notes = notes[:-1]  # the last is the error that ended it
            lines.append(f"{PROG}: error: {label}: {escaped(outcome.notes[-1])}\n")
        if lines:
            write("".join(lines))
        for note in notes:
            self._gather(label, escaped(_without_path(note, outcome.job)), escaped(note))

    def _gather(self, label: str, said: str, note: str) -> None:
        key = _COUNT.sub("#", said)
        kind = self._kinds.get(key)
        if kind is None:
            self._kinds[key] = _Kind(label, said, note)
            return
        if kind.labels[-1] != label:
            kind.labels.append(label)
        kind.alike = kind.alike and said == kind.first

    def note_lines(self) -> list[str]:
        """One line per kind of note; none when quiet."""
        if self.reporter.quiet:
            return []
        lines = []
        for kind in self._kinds.values():
            if len(kind.labels) == 1:
                lines.append(f"{PROG}: {kind.first_label}: {kind.first_note}\n")
                continue
            loci = f"in {len(kind.labels)} loci ({name_some(sorted(kind.labels))})"
            as_in = "" if kind.alike else f", as in {kind.first_label}"  # their counts differ
            lines.append(f"{PROG} batch: {loci}{as_in}: {kind.first}\n")
        return lines


def summary_line(outcomes: Sequence[LocusOutcome], seconds: float) -> str:
    """One line of counts: the batch's last words."""
    failed = sum(outcome.status == Status.FAILED for outcome in outcomes)
    changed = sum(outcome.status == Status.REPORTED for outcome in outcomes)
    records = Tally()
    for outcome in outcomes:
        records.add(outcome.tally)
    return (f"{PROG} batch: {len(outcomes) - failed} loci done, {changed} with records padded or left out, "
            f"{failed} failed; {tally_text(records)}; {seconds:.2f} s elapsed\n")


def failed_loci_lines(outcomes: Sequence[LocusOutcome], with_errors: bool) -> list[str]:
    """The failed loci, the list to work through afterwards: each by its name (the output's
    stem: loci may share a protein file), and (with_errors) the error that ended it (its last
    note), which standard error has shown already as the locus finished."""
    failed = [outcome for outcome in outcomes if outcome.status == Status.FAILED]
    if not failed:
        return []
    return [f"{PROG} batch: failed loci ({len(failed)}):\n"] + [
        f"  {locus_label(outcome.job)}"
        f"{': ' + outcome.notes[-1] if with_errors and outcome.notes else ''}\n"
        for outcome in failed]
