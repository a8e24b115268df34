"""CDS records read once for many loci, or from several files for one.

A batch whose loci share CDS files (one per species, or a whole proteome's)
reads and indexes them here once, before its workers are forked: each worker
finds them in its copy of the parent's memory, nothing pickled per locus.
"""

from __future__ import annotations

from .errors import InputError, name_some, shown_path
from .header_pairing import CdsLookup
from .pairing import NUCLEOTIDE_LETTERS, check_nucleotide
from .seqio import Record, read_records

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Sequence


class CdsSource:
    """The records of one or more CDS files as one, checked, and the name messages give them."""

    __slots__ = ("paths", "name", "records", "lookup")

    def __init__(self, paths: Sequence[str], records: list[Record], lookup: CdsLookup) -> None:
        self.paths = tuple(paths)
        self.name = name_some([shown_path(path) for path in self.paths])
        self.records = records
        self.lookup = lookup

    def read_headers(self) -> None:
        """Gives the lookup the records' header lines, read again from the files: most
        batches pair by identifier alone and never need them."""
        if self.lookup.headers is None and not self.lookup.complete:
            self.lookup.set_headers([header for path in self.paths for header in
                                     read_records(path, "fasta", headers=True).headers or []])


def read_cds_source(paths: Sequence[str]) -> CdsSource:
    """The CDS records of the files, each checked to hold coding DNA, indexed by
    identifier. An identifier repeated within a file pairs as repeats do; one found in
    two files is an error naming both."""
    records: list[Record] = []
    headers: list[str] = []
    seq_of: dict[str, str] = {}
    ends: list[int] = []  # where each file's records end in records
    now = "-" in paths  # standard input cannot be read again for its header lines
    for path in paths:
        reading = read_records(path, "fasta", NUCLEOTIDE_LETTERS, headers=now)
        check_nucleotide(reading.records, path, marked=reading.marked)
        own = dict(reading.records)
        repeated = own.keys() & seq_of.keys()
        if repeated:
            raise InputError(path, f"{len(repeated)} identifier(s) also in "
                                   f"{_file_of(repeated, records, ends, paths)}: "
                                   f"{name_some(sorted(repeated))}; identifiers must be unique "
                                   f"across the CDS files")
        seq_of.update(own)
        records += reading.records
        ends.append(len(records))
        headers += reading.headers or []
    if not records:
        raise InputError(name_some(list(paths)), "no CDS records")
    return CdsSource(paths, records, CdsLookup(records, headers if now else None, seq_of))


def _file_of(idents: set[str], records: list[Record], ends: list[int],
             paths: Sequence[str]) -> str:
    """The file of the first record read that has one of the identifiers."""
    at = next(index for index, (ident, _) in enumerate(records) if ident in idents)
    return next(path for path, end in zip(paths, ends) if at < end)
