"""codon_align: the command-line tool's back-translation for Python callers.

Files, dicts and Biopython records go through the same steps as the tool's
input files (pairing, preparation, the engine, the mismatch policy); only
the writing differs: the rows come back as a CodonAlignment, and each
problem as a Problem value instead of a line on standard error.
"""

from __future__ import annotations

import os
from collections.abc import Callable, Iterable, Iterator, Mapping, Sequence
from typing import TYPE_CHECKING, TypeVar, Union

from .codes import CODES_BY_NUMBER
from .errors import InputError, name_some
from .gene_table import checked_gene_table, load_gene_table
from .id_map import load_id_map
from .locus import LocusInputs, LocusJob, LocusOptions, align_locus, read_cds
from .outcome import LocusOutcome
from .pairing import repeated_identifiers
from .problems import Problem
from .seqio import Record, read_alignment
from .frameshift_digits import read_given_digits
from .translation import FRAMESHIFT_POLICIES, MISMATCH_POLICIES, located_notes

if TYPE_CHECKING:
    from Bio.Align import MultipleSeqAlignment
    from Bio.SeqRecord import SeqRecord

__all__ = ["CodonAlignment", "codon_align"]

T = TypeVar("T")
Path = Union[str, "os.PathLike[str]"]
Sequences = Union[Path, Mapping[str, str], Iterable["SeqRecord"]]

# What messages call inputs that are not files.
PROTEIN_NAME = "<protein>"
CDS_NAME = "<cds>"


class CodonAlignment:
    """Codon-aligned rows in the protein alignment's order, and the problems met.

    Iterating gives (identifier, row) pairs, repeated identifiers included.
    """

    __slots__ = ("_rows", "problems")

    def __init__(self, rows: Sequence[tuple[str, str]], problems: Sequence[Problem]) -> None:
        self._rows = list(rows)
        self.problems: tuple[Problem, ...] = tuple(problems)

    def __iter__(self) -> Iterator[tuple[str, str]]:
        return iter(self._rows)

    def __len__(self) -> int:
        return len(self._rows)

    def __repr__(self) -> str:
        width = len(self._rows[0][1]) if self._rows else 0
        return (f"<CodonAlignment: {len(self._rows)} rows of {width} columns, "
                f"{len(self.problems)} problems>")

    def as_dict(self) -> dict[str, str]:
        """Identifier -> codon row; ValueError when an identifier repeats."""
        rows = dict(self._rows)
        if len(rows) < len(self._rows):
            repeated = repeated_identifiers(self._rows)
            raise ValueError(f"repeated identifiers: {name_some(repeated)}; a dict keeps one row "
                             f"per identifier (iterate over the alignment to get every row)")
        return rows

    def to_biopython(self) -> MultipleSeqAlignment:
        """The rows as a Biopython MultipleSeqAlignment (needs Biopython)."""
        try:
            from Bio.Align import MultipleSeqAlignment
            from Bio.Seq import Seq
            from Bio.SeqRecord import SeqRecord
        except ImportError as exc:
            raise ImportError("to_biopython() needs Biopython: pip install biopython") from exc
        records = [SeqRecord(Seq(row), id=ident, name=ident, description="")
                   for ident, row in self._rows]
        return MultipleSeqAlignment(records)  # type: ignore[no-untyped-call]  # Biopython's own


def codon_align(protein: Sequences, cds: Sequences, *, table: int = 1,
                gene_table: Path | Mapping[str, list[str]] | None = None,
                pair_by_order: bool = False, id_map: Path | Mapping[str, str] | None = None,
                locate: bool = True, both_strands: bool = False, mismatch: str = "mask",
                frameshifts: str = "mask", upper_case: bool = False,
                resolve_ambiguity: bool = False) -> CodonAlignment:
    """Back-translates aligned protein rows into a codon alignment, as the
    ntpepmap command does.

    protein: a file (any format and compression the command reads), a dict of
    identifier to aligned row, or a Biopython MultipleSeqAlignment or iterable
    of SeqRecord. cds: a FASTA file, a dict of identifier to coding sequence,
    or an iterable of SeqRecord. The keyword arguments are the command's
    options of the same names; table is an NCBI number, gene_table a code of
    one's own (letter -> codons, or a JSON file of it), id_map protein
    identifier -> CDS identifier (or a file of the two columns).

    Raises TypeError or ValueError for wrong arguments, and InputError, with
    the command's one-line message, for inputs it cannot back-translate; its
    problems are those found before, such as why every record was left out.
    """
    options = _options(table, gene_table, pair_by_order, id_map, locate, both_strands, mismatch,
                       frameshifts, upper_case, resolve_ambiguity)
    proteins, pep_name, _ = _records(protein, "protein", PROTEIN_NAME)
    coding, cds_name, marked = _records(cds, "cds", CDS_NAME)
    outcome = LocusOutcome(LocusJob(pep_name, cds_name, ""))
    try:
        align_locus(LocusInputs(proteins, coding, pep_name, cds_name, marked), options, outcome)
    except InputError as error:
        error.problems = tuple(outcome.problems)
        raise
    return CodonAlignment(outcome.rows, outcome.problems + located_notes(outcome.located, cds_name))


def _records(source: object, argument: str,
             name: str) -> tuple[list[Record], str, list[int] | None]:
    """The records of an input, the name messages give it, and for a CDS file the
    records that may hold more than nucleotides (None: any may)."""
    if isinstance(source, (str, os.PathLike)):
        path = _path(source, argument)
        if argument == "protein":
            return read_alignment(path, "auto"), path, None
        cds, marked = read_cds(path)
        return cds, path, marked
    if isinstance(source, Mapping):
        records = [(_text(ident, argument, "identifiers"), _text(seq, argument, "sequences"))
                   for ident, seq in source.items()]
    elif isinstance(source, Iterable) and not isinstance(source, (bytes, bytearray)):
        records = [_from_seq_record(record, argument) for record in source]
    else:
        raise TypeError(f"{argument} must be a path, a dict of identifier to sequence or "
                        f"Biopython records, not {type(source).__name__}")
    if not records:
        raise InputError(name, "no records")
    if argument == "protein":
        records = read_given_digits(records, name)
    return records, name, None


def _path(value: Path, argument: str) -> str:
    path = os.fspath(value)
    if not isinstance(path, str):
        raise TypeError(f"{argument}: a path must be a str or a str's PathLike, not bytes")
    return path


def _text(value: object, argument: str, what: str) -> str:
    if not isinstance(value, str):
        raise TypeError(f"{argument}: {what} must be str, not {type(value).__name__} "
                        f"({value!r:.40})")
    return value


def _from_seq_record(record: object, argument: str) -> Record:
    """(identifier, sequence) of a Biopython SeqRecord, or of anything with .id and .seq."""
    ident, seq = getattr(record, "id", None), getattr(record, "seq", None)
    if ident is None or seq is None:
        raise TypeError(f"{argument} must be a path, a dict of identifier to sequence or "
                        f"Biopython records; found a {type(record).__name__} among the records")
    return _text(ident, argument, "record identifiers"), str(seq)


def _options(table: int, gene_table: Path | Mapping[str, list[str]] | None, pair_by_order: bool,
             id_map: Path | Mapping[str, str] | None, locate: bool, both_strands: bool,
             mismatch: str, frameshifts: str, upper_case: bool,
             resolve_ambiguity: bool) -> LocusOptions:
    switches = {"pair_by_order": pair_by_order, "locate": locate, "both_strands": both_strands,
                "upper_case": upper_case, "resolve_ambiguity": resolve_ambiguity}
    for keyword, value in switches.items():
        if not isinstance(value, bool):
            raise TypeError(f"{keyword} must be True or False, not {value!r:.40}")
    if not isinstance(table, int) or isinstance(table, bool):
        raise TypeError(f"table must be an int, not {type(table).__name__}")
    if table not in CODES_BY_NUMBER:
        raise ValueError(f"table {table} is not a genetic code; NCBI numbers: "
                         f"{', '.join(map(str, sorted(CODES_BY_NUMBER)))}")
    if gene_table is not None and table != 1:
        raise ValueError("give table or gene_table, not both")
    if pair_by_order and id_map is not None:
        raise ValueError("give pair_by_order or id_map, not both")
    if mismatch not in MISMATCH_POLICIES:
        raise ValueError(f"mismatch must be one of {', '.join(map(repr, MISMATCH_POLICIES))}, "
                         f"not {mismatch!r:.40}")
    if frameshifts not in FRAMESHIFT_POLICIES:
        raise ValueError(f"frameshifts must be one of {', '.join(map(repr, FRAMESHIFT_POLICIES))}, "
                         f"not {frameshifts!r:.40}")
    return LocusOptions(table_num=table, gene_table=_gene_table(gene_table),
                        pair_by_order=pair_by_order, id_map=_id_map(id_map), mismatch=mismatch,
                        frameshifts=frameshifts,
                        upper_case=upper_case, resolve_ambiguity=resolve_ambiguity,
                        locate=locate, both_strands=both_strands)


def _given(value: Path | Mapping[str, T] | None, argument: str, load: Callable[[str], dict[str, T]],
           what: str) -> Mapping[str, T] | None:
    """A mapping as it was given, or loaded from the file it names."""
    if value is None or isinstance(value, Mapping):
        return value
    if isinstance(value, (str, os.PathLike)):
        return load(_path(value, argument))
    raise TypeError(f"{argument} must be {what} or a file of it, not {type(value).__name__}")


def _gene_table(gene_table: Path | Mapping[str, list[str]] | None) -> dict[str, list[str]] | None:
    if isinstance(gene_table, Mapping):
        return checked_gene_table({_text(key, "gene_table", "keys"): value
                                   for key, value in gene_table.items()})
    table = _given(gene_table, "gene_table", load_gene_table, "a dict of letter to codons")
    return None if table is None else dict(table)  # a file's is checked as it is loaded


def _id_map(id_map: Path | Mapping[str, str] | None) -> dict[str, str] | None:
    cds_of = _given(id_map, "id_map", load_id_map, "a dict of protein to CDS identifier")
    if cds_of is None:
        return None
    return {_text(protein, "id_map", "identifiers"): _text(cds, "id_map", "identifiers")
            for protein, cds in cds_of.items()}
