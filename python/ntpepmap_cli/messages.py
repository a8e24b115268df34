"""What a run tells its user: reports, notes and errors on standard error."""

from __future__ import annotations

import sys
from collections.abc import Callable
from io import TextIOWrapper

from .errors import InputError
from .locus import LocusOutcome, Status
from .options import PROG

Write = Callable[[str], object]


class Reporter:
    """Where the module's reports go: standard error unless quiet, and --report FILE."""

    def __init__(self, quiet: bool, report_path: str | None) -> None:
        self.quiet = quiet
        self.report_file: TextIOWrapper | None = None
        if report_path is not None:
            try:
                self.report_file = open(report_path, "w", encoding="utf-8")
            except OSError as exc:
                raise InputError(report_path, exc.strerror or str(exc)) from None

    def reports(self, text: str, write_stderr: Write | None = None) -> None:
        if not text:
            return
        if self.report_file is not None:
            self.report_file.write(text)
        if not self.quiet:
            (write_stderr or sys.stderr.write)(text)

    def close(self) -> None:
        if self.report_file is not None:
            self.report_file.close()


def error(message: str) -> int:
    print(f"{PROG}: error: {message}", file=sys.stderr)
    return Status.FAILED


def print_outcome(outcome: LocusOutcome, reporter: Reporter,
                  write: Write | None = None) -> None:
    reporter.reports(outcome.reports, write)
    emit = write or sys.stderr.write
    for note in outcome.notes:
        emit(f"{PROG}: {'error: ' if outcome.status == Status.FAILED else ''}{note}\n")
