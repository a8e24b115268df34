"""CDS records read once for many loci, or from several files for one.

A batch whose loci share CDS files (one per species, or a whole proteome's)
reads and indexes them here once, before its workers are forked: each worker
finds them in its copy of the parent's memory, nothing pickled per locus.
"""

from __future__ import annotations

from .errors import InputError, name_some
from .header_pairing import CdsLookup, rules_for
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
        self.name = name_some(list(self.paths))
        self.records = records
        self.lookup = lookup


def read_cds_source(paths: Sequence[str], id_pattern: str | None = None) -> CdsSource:
    """The CDS records of the files, each checked to hold coding DNA, indexed for pairing
    by identifier and by header. An identifier repeated within a file pairs as repeats
    do; one found in two files is an error naming both."""
    records: list[Record] = []
    headers: list[str] = []
    seq_of: dict[str, str] = {}
    ends: list[int] = []  # where each file's records end in records
    for path in paths:
        reading = read_records(path, "fasta", NUCLEOTIDE_LETTERS, headers=True)
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
    lookup = CdsLookup(records, headers, seq_of)
    lookup.build(rules_for(id_pattern))
    return CdsSource(paths, records, lookup)


def _file_of(idents: set[str], records: list[Record], ends: list[int],
             paths: Sequence[str]) -> str:
    """The file of the first record read that has one of the identifiers."""
    at = next(index for index, (ident, _) in enumerate(records) if ident in idents)
    return next(path for path, end in zip(paths, ends) if at < end)
