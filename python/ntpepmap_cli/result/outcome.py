"""What became of a locus: the one result that the command, the batch, the API and the
workflow all read."""

from __future__ import annotations

from enum import IntEnum

from .problems import Problem

TYPE_CHECKING = False  # typing itself costs a batch noticeable start-up time
if TYPE_CHECKING:
    from typing import Any

    from ..job import LocusJob
    from ..qc.cells import CellMap

Record = tuple[str, str]  # (identifier, sequence)


class Status(IntEnum):
    """Also the exit status of a single-locus run."""
    CLEAN = 0
    REPORTED = 1
    FAILED = 2


class Tally:
    """Records and codons of one locus or a whole batch, for the summary line."""

    __slots__ = ("written", "masked", "kept", "located", "padded", "left_out", "stops_kept",
                 "stops_masked", "stops_dropped", "trimmed_away", "frameshifts", "codon_gaps",
                 "read_through", "stops_trimmed", "cds_gaps")

    def __init__(self) -> None:
        self.written = self.masked = self.kept = self.located = self.padded = self.left_out = 0
        # Stop codons under '*': inside the protein and kept; masked; in columns left out.
        self.stops_kept = self.stops_masked = self.stops_dropped = 0
        self.trimmed_away = 0  # codons that fail their residue in columns not written: a note
        self.frameshifts = 0  # in the records written
        self.read_through = 0  # TGA under U, TAG under O: kept, masked or left out as --stops says
        self.codon_gaps = 0  # whole codons gained or lost, one run of them each, in the records written
        # Letters of the records written that the output lacks: final stop codons dropped
        # (--trim-stop), and gaps taken out of an aligned CDS.
        self.stops_trimmed = self.cds_gaps = 0

    def add(self, other: Tally) -> None:
        for name in self.__slots__:
            setattr(self, name, getattr(self, name) + getattr(other, name))

    def lacks_data(self) -> bool:
        """Whether the output lacks data the user gave: a record padded or left out. Masked and
        kept codons and stop codons are in the output and in the summary."""
        return bool(self.padded or self.left_out)

    def counts(self) -> tuple[int, ...]:
        return tuple(getattr(self, name) for name in self.__slots__)

    # Pickled as its counts, not as a dict of them.
    def __getstate__(self) -> tuple[int, ...]:
        return self.counts()

    def __setstate__(self, counts: tuple[int, ...]) -> None:
        for name, count in zip(self.__slots__, counts):
            setattr(self, name, count)

    def __repr__(self) -> str:
        return "Tally(" + ", ".join(f"{name}={getattr(self, name)}" for name in self.__slots__) + ")"


_STATUSES = tuple(Status)  # by value: indexing costs less than calling the enum
FATES = {Status.CLEAN: "written", Status.REPORTED: "written with changes", Status.FAILED: "failed"}


class LocusOutcome:
    """A locus back-translated (or not), filled in as it runs: the rows to write, and
    everything to tell of it. What was found before an error stays, to be told with it."""

    __slots__ = ("job", "status", "rows", "text", "width", "problems", "remarks", "notes",
                 "located", "tally", "reports", "unused_cds", "stop_columns", "cells")

    def __init__(self, job: LocusJob, status: Status = Status.CLEAN,
                 reports: str = "", notes: list[str] | None = None) -> None:
        self.job = job                    # the inputs and output of the locus
        self.status = status
        self.rows: list[Record] = []      # the codon rows to write, in the alignment's order
        self.text: memoryview | None = None  # or their FASTA text (UTF-8), when asked for
        self.width = 0                    # codon columns of the alignment
        self.problems: list[Problem] = []
        # What was done as asked (records paired by a header rule): told, nothing to act on.
        self.remarks: list[str] = []
        self.notes: list[str] = [] if notes is None else notes  # errors and notes, a line each
        self.located: list[str] = []      # records written from a coding region found in their CDS
        self.tally = Tally()
        self.reports = reports            # the module's framed reports, verbatim, when asked for
        self.unused_cds = 0               # CDS records that no protein took (told by one locus)
        self.stop_columns: list[int] = []  # 1-based protein columns holding a stop codon in a row
        self.cells: CellMap | None = None  # what became of each codon, when a page is asked for

    def changed(self) -> None:
        """The output lacks data the user gave."""
        if self.status == Status.CLEAN:
            self.status = Status.REPORTED

    def failed(self, message: str) -> None:
        self.status = Status.FAILED
        self.notes.append(message)

    def fate(self) -> str:
        """'written', 'written with changes' (a codon or a record not as given) or 'failed'."""
        return FATES[self.status]

    def first_message(self) -> str:
        """The error that ended the locus, or else its first problem or note; '' for none
        (remarks are not what a locus's message is for)."""
        if self.status == Status.FAILED and self.notes:
            return self.notes[-1]
        if self.problems:
            return self.problems[0].message
        return self.notes[0] if self.notes else ""

    # Its state, whole but for its job (whoever receives it knows the job already: a batch
    # gave it to the worker; received(job) puts it back), is of builtins alone, which marshal
    # carries from a batch's worker: no class looked up by name per locus, as pickle does.
    def __getstate__(self) -> tuple[object, ...]:
        return (int(self.status), self.rows, None if self.text is None else bytes(self.text),
                self.width, [problem.fields() for problem in self.problems], self.remarks,
                self.notes, self.located, self.tally.counts(), self.reports, self.unused_cds,
                self.stop_columns)

    def __setstate__(self, state: tuple[Any, ...]) -> None:
        (status, self.rows, self.text, self.width, problems, self.remarks, self.notes, self.located, counts,
         self.reports, self.unused_cds, self.stop_columns) = state
        self.status = _STATUSES[status]
        self.cells = None  # its page is written where it ran
        self.problems = [Problem(*fields) for fields in problems]
        self.tally = Tally()
        self.tally.__setstate__(counts)

    def received(self, job: LocusJob) -> LocusOutcome:
        """The outcome, rebuilt from its state, given back its job."""
        self.job = job
        return self

    def __repr__(self) -> str:
        return (f"LocusOutcome({self.job!r}, {self.status!r}, problems={self.problems!r}, "
                f"notes={self.notes!r}, {self.tally!r})")

