"""What a run tells its user: problems, errors and summaries on standard error."""

from __future__ import annotations

import sys
from collections.abc import Callable

from ..errors import InputError, escaped, plural
from ..result.outcome import LocusOutcome, Status, Tally
from .options import PROG
from ..outputs.atomic_files import AtomicFile, OutputSet

Write = Callable[[str], object]

TYPE_CHECKING = False
if TYPE_CHECKING:
    from ..interrupts import StopGuard


class Reporter:
    """Where a run's words go: problem lines to standard error unless quiet, framed
    reports to --report FILE.

    The report file replaces an older one only when the run completes
    (finish()); an interrupted or failed run leaves the older one as it was.
    """

    def __init__(self, quiet: bool, report_path: str | None,
                 guard: StopGuard | None = None, outputs: OutputSet | None = None) -> None:
        self.quiet = quiet
        self.report_file = None if report_path is None else AtomicFile(report_path, guard)
        self._stream = None if self.report_file is None else self.report_file.open()
        self._failure: InputError | None = None
        self._outputs = outputs  # the run's set, which puts the file in place with the others
        if outputs is not None and self.report_file is not None:
            outputs.add(self.report_file)

    def reports(self, text: str) -> None:
        if text:
            self.to_file(text)

    def to_file(self, text: str) -> None:
        """Writes text to the report file alone; a write that fails ends the file, not the run."""
        if self._stream is None or self.report_file is None:
            return
        try:
            self._stream.write(text)
        except OSError as exc:
            self._failure = self.report_file.failure(exc)
            self.abandon()

    def finish(self) -> None:
        """Puts the report file in place (or leaves it to the run's set); raises InputError
        if it could not be written."""
        if self.report_file is not None and self._failure is None:
            self._stream = None
            if self._outputs is None:
                self.report_file.commit()
        if self._failure is not None:
            raise self._failure

    def abandon(self) -> None:
        """Leaves any older report file as it was."""
        self._stream = None
        if self.report_file is not None:
            self.report_file.discard()


def error(message: str) -> int:
    print(f"{PROG}: error: {escaped(message)}", file=sys.stderr)
    return Status.FAILED


def print_outcome(outcome: LocusOutcome, reporter: Reporter,
                  write: Write | None = None) -> None:
    reporter.reports(outcome.reports)
    emit = write or sys.stderr.write
    if not reporter.quiet and outcome.problems:
        emit("".join(f"{PROG}: {escaped(str(problem))}\n" for problem in outcome.problems))
    said = "error: " if outcome.status == Status.FAILED else ""
    for note in outcome.remarks + outcome.notes:  # remarks are found first
        emit(f"{PROG}: {said}{escaped(note)}\n")


def tally_text(tally: Tally) -> str:
    """'9 records written, 2 codons masked, 0 kept, 0 located, 0 padded, 1 left out', then
    ', 3 frameshifts' when records were written past any, and the stop codons under '*'
    where there are some ('; 3 internal stop codons kept'), the codons that failed in
    columns trimmed away, the final stop codons dropped and the gaps taken out of the CDS
    where there are some: nothing the output lacks goes uncounted."""
    frameshifts = f", {plural(tally.frameshifts, 'frameshift')}" if tally.frameshifts else ""
    if tally.codon_gaps:
        frameshifts += f", {plural(tally.codon_gaps, 'gap')} of whole codons"
    more = [f"{plural(count, words[0])} {words[1]}" for count, words in (
        (tally.stops_kept, ("internal stop codon", "kept")),
        (tally.stops_masked, ("stop codon", "masked")),
        (tally.stops_dropped, ("stop codon", "in columns left out")),
        (tally.read_through, ("selenocysteine or pyrrolysine codon", "under U or O")),
        (tally.trimmed_away, ("codon", "failed in columns trimmed away")),
        (tally.stops_trimmed, ("final stop codon", "dropped")),
        (tally.cds_gaps, ("gap", "taken out of the CDS"))) if count]
    return (f"{plural(tally.written, 'record')} written, {plural(tally.masked, 'codon')} "
            f"masked, {tally.kept} kept, {tally.located} located, {tally.padded} padded, "
            f"{tally.left_out} left out{frameshifts}" + "".join(f"; {told}" for told in more))


def print_summary(outcome: LocusOutcome) -> None:
    """The last line of a single-locus run."""
    unused = f"; {plural(outcome.unused_cds, 'CDS record')} not used" if outcome.unused_cds else ""
    print(f"{PROG}: {tally_text(outcome.tally)}{unused}", file=sys.stderr)
