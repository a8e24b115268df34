"""What a run tells its user: problems, errors and summaries on standard error."""

from __future__ import annotations

import sys
from collections.abc import Callable
from io import TextIOWrapper

from .errors import InputError
from .locus import LocusOutcome, Status
from .options import PROG
from .translation import Tally

Write = Callable[[str], object]


class Reporter:
    """Where a run's words go: problem lines to standard error unless quiet, framed
    reports to --report FILE."""

    def __init__(self, quiet: bool, report_path: str | None) -> None:
        self.quiet = quiet
        self.report_file: TextIOWrapper | None = None
        if report_path is not None:
            try:
                self.report_file = open(report_path, "w", encoding="utf-8")
            except OSError as exc:
                raise InputError(report_path, exc.strerror or str(exc)) from None

    def reports(self, text: str) -> None:
        if text and self.report_file is not None:
            self.report_file.write(text)

    def close(self) -> None:
        if self.report_file is not None:
            self.report_file.close()


def error(message: str) -> int:
    print(f"{PROG}: error: {message}", file=sys.stderr)
    return Status.FAILED


def print_outcome(outcome: LocusOutcome, reporter: Reporter,
                  write: Write | None = None) -> None:
    reporter.reports(outcome.reports)
    emit = write or sys.stderr.write
    if not reporter.quiet and outcome.problems:
        emit("".join(f"{PROG}: {problem}\n" for problem in outcome.problems))
    for note in outcome.notes:
        emit(f"{PROG}: {'error: ' if outcome.status == Status.FAILED else ''}{note}\n")


def _plural(count: int, word: str) -> str:
    return f"{count} {word}{'' if count == 1 else 's'}"


def tally_text(tally: Tally) -> str:
    """'9 records written, 2 codons masked, 0 kept, 0 located, 0 padded, 1 left out'."""
    return (f"{_plural(tally.written, 'record')} written, {_plural(tally.masked, 'codon')} "
            f"masked, {tally.kept} kept, {tally.located} located, {tally.padded} padded, "
            f"{tally.left_out} left out")


def print_summary(outcome: LocusOutcome) -> None:
    """The last line of a single-locus run."""
    print(f"{PROG}: {tally_text(outcome.tally)}", file=sys.stderr)
