"""CDS records read once for many loci, or from several files for one.

A batch whose loci share CDS files (one per species, or a whole proteome's)
reads and indexes them here once, before its workers are forked: each worker
finds them in its copy of the parent's memory, nothing pickled per locus.
"""

from __future__ import annotations

import os
from collections import Counter

from ..errors import InputError, name_some, shown_path
from .header_rules import CdsLookup
from .identifiers import NUCLEOTIDE_LETTERS, check_nucleotide
from .._native import RecordSet
from ..reading.input_files import read_records
from ..locus.run import bare_stem

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Sequence


class CdsSource:
    """The records of one or more CDS files as one native set, checked, and the name
    messages give them."""

    __slots__ = ("paths", "name", "records", "lookup")

    def __init__(self, paths: Sequence[str], records: RecordSet, lookup: CdsLookup) -> None:
        self.paths = tuple(paths)
        self.name = name_some([shown_path(path) for path in self.paths])
        self.records = records
        self.lookup = lookup


def read_cds_source(paths: Sequence[str]) -> CdsSource:
    """The CDS records of the files as one set, each file checked to hold coding DNA, indexed
    by identifier. An identifier repeated within a file pairs as repeats do; one found in
    several files (BRAKER names every species' genes g1.t1, g2.t1...) is known there as
    'STEM|ID', STEM the file's name without its suffixes, as a protein 'Species|ID' names it."""
    records: RecordSet | None = None
    index_of: dict[str, int] = {}
    across: set[str] = set()  # identifiers in several files
    # Room for every file's letters at once: grown file by file, the set would move the
    # letters read so far each time (8 species' files: 0.48 s wall and 149 MiB, against
    # 0.14 s and 64 MiB read into room made once).
    sizes = [_size(path) for path in paths]
    for number, path in enumerate(paths):
        before = len(records) if records is not None else 0
        reading = read_records(path, "fasta", NUCLEOTIDE_LETTERS, into=records,
                               room=sum(sizes[number:]))
        records = reading.records
        assert reading.marked is not None
        check_nucleotide(records, path, marked=[index for index in reading.marked if index >= before])
        idents = records.identifiers(before) if before else records.identifiers()
        across |= index_of.keys() & set(idents)
        index_of.update((ident, before + index) for index, ident in enumerate(idents))
    if records is None or not len(records):
        raise InputError(name_some(list(paths)), "no CDS records")
    if not across:
        return CdsSource(paths, records, CdsLookup(records, index_of))
    return CdsSource(paths, records, CdsLookup(records, idents=_qualified(records, paths, across)))


def _qualified(records: RecordSet, paths: Sequence[str], across: set[str]) -> list[str]:
    """The records' identifiers, each of those in several files led by its file's stem."""
    stems = [bare_stem(path) for path in paths]
    sharing = sorted({records.file_of(index) for index, ident in enumerate(records.identifiers())
                      if ident in across})
    alike = [stem for stem, count in Counter(stems[at] for at in sharing).items() if count > 1]
    if alike:
        named = [paths[at] for at in sharing if stems[at] in alike]
        raise InputError(name_some(named), f"{len(across)} identifier(s) in several files, "
                                           f"such as {name_some(sorted(across))}, and the files "
                                           f"have the same name {name_some(alike)}: an identifier "
                                           f"in several files pairs by the file's name")
    return [f"{stems[records.file_of(index)]}|{ident}" if ident in across else ident
            for index, ident in enumerate(records.identifiers())]


def _size(path: str) -> int:
    """A file's size in bytes; 0 for standard input or a file that cannot be looked at (its
    reading says why)."""
    try:
        return os.stat(path).st_size if path != "-" else 0
    except OSError:
        return 0
