"""codon_align: the command-line tool's back-translation for Python callers.

Files, dicts and Biopython records go through the same steps as the tool's
input files (pairing, preparation, the engine, the mismatch policy); only
the writing differs: the rows come back as a CodonAlignment, and each
problem as a Problem value instead of a line on standard error.
"""

from __future__ import annotations

import os
import re
from collections.abc import Callable, Iterable, Iterator, Mapping, Sequence
from typing import IO, TYPE_CHECKING, TypeVar, Union

from .codes import CODES_BY_NUMBER
from .errors import InputError, name_some
from .gene_table import checked_gene_table, load_gene_table
from .id_map import load_id_map
from .header_pairing import pattern_rule
from .kept_columns import PYTHON_LIST, KeptColumns, read_kept_columns, single_columns
from .locus import LocusInputs, LocusJob, LocusOptions, align_locus
from .outcome import LocusOutcome, Tally
from .pairing import NUCLEOTIDE_LETTERS, repeated_identifiers
from .problems import Problem
from .frameshift_digits import read_given_digits
from .seqio import Reading, Record, read_content, read_records
from .translation import FRAMESHIFT_POLICIES, MISMATCH_POLICIES, STOP_POLICIES, located_notes

if TYPE_CHECKING:
    from Bio.Align import Alignment, MultipleSeqAlignment
    from Bio.SeqRecord import SeqRecord

__all__ = ["CodonAlignment", "codon_align"]

T = TypeVar("T")
Path = Union[str, "os.PathLike[str]"]
# A path, an open file, a mapping of identifier to str, Seq or SeqRecord (SeqIO.index's
# too), a MultipleSeqAlignment or Bio.Align.Alignment, or an iterable of SeqRecord.
Sequences = Union[Path, IO[str], IO[bytes], Mapping[str, object], "Alignment",
                  Iterable["SeqRecord"]]

# What messages call inputs that are not files.
PROTEIN_NAME = "<protein>"
CDS_NAME = "<cds>"

class CodonAlignment:
    """Codon-aligned rows in the protein alignment's order, and the problems met.

    Iterating gives (identifier, row) pairs, repeated identifiers included.
    """

    __slots__ = ("_outcome", "_located")

    def __init__(self, outcome: LocusOutcome, located: Sequence[Problem] = ()) -> None:
        # The locus's one result, read as the tool's status table reads it; located: the
        # notes of records written from a coding region found in their CDS, which only the
        # API turns into problems.
        self._outcome = outcome
        self._located = tuple(located)

    @property
    def _rows(self) -> list[Record]:
        return self._outcome.rows

    @property
    def problems(self) -> tuple[Problem, ...]:
        return (*self._outcome.problems, *self._located)

    # As `ntpepmap batch --status` tells each locus: 'written' or 'written with changes',
    # the records' and codons' counts, and the first problem's line.
    @property
    def fate(self) -> str:
        return self._outcome.fate()

    @property
    def counts(self) -> dict[str, int]:
        return dict(zip(Tally.__slots__, self._outcome.tally.counts()))

    @property
    def first_message(self) -> str:
        return self._outcome.first_message()

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
        # NEXUS and other writers need to know the letters are DNA
        records = [SeqRecord(Seq(row), id=ident, name=ident, description="",
                             annotations={"molecule_type": "DNA"}) for ident, row in self._rows]
        return MultipleSeqAlignment(records)  # type: ignore[no-untyped-call]  # Biopython's own


def codon_align(protein: Sequences, cds: Sequences, *, table: int = 1,
                gene_table: Path | Mapping[str, list[str]] | None = None,
                pair_by_order: bool = False, id_map: Path | Mapping[str, str] | None = None,
                locate: bool = True, both_strands: bool = False, mismatch: str = "mask",
                frameshifts: str = "mask", upper_case: bool = False,
                resolve_ambiguity: bool = False, id_pattern: str | None = None,
                stops: str = "keep",
                kept_columns: Path | Iterable[int] | None = None) -> CodonAlignment:
    """Back-translates aligned protein rows into a codon alignment, as the
    ntpepmap command does.

    protein: a file (any format and compression the command reads) or an open
    one, a dict of identifier to aligned row, a Biopython MultipleSeqAlignment,
    Bio.Align.Alignment or iterable of SeqRecord. cds: a FASTA file or an open
    one, a mapping of identifier to coding sequence (str, Seq or SeqRecord:
    SeqIO.index and SeqIO.to_dict give one), or an iterable of SeqRecord; CDS
    records that no protein pairs with are left aside. Records pair by
    identifier, else by the annotations of their header lines (a SeqRecord's
    description). The keyword arguments are the command's options of the same
    names; table is an NCBI number, gene_table a code of one's own (letter ->
    codons, or a JSON file of it), id_map protein identifier -> CDS identifier
    (or a file of the two columns), id_pattern a regular expression whose one
    capture group, found in both header lines, pairs the records. stops says
    what becomes of a stop codon the protein carries as '*': 'keep' (a Problem
    of kind 'stop codon' for each one inside the protein), 'mask' (NNN, the
    terminal ones too) or 'drop-columns' (its column left out of every row).
    kept_columns: the columns a trimmer kept of the (untrimmed) protein
    alignment, a file as --kept-columns reads it, or 0-based column numbers.

    Raises TypeError or ValueError for wrong arguments, and InputError, with
    the command's one-line message, for inputs it cannot back-translate; its
    problems are those found before, such as why every record was left out.
    """
    options = _options(table, gene_table, pair_by_order, id_map, locate, both_strands, mismatch,
                       frameshifts, upper_case, resolve_ambiguity, id_pattern, stops)
    proteins = _records(protein, "protein", PROTEIN_NAME)
    coding = _records(cds, "cds", CDS_NAME)
    outcome = LocusOutcome(LocusJob(proteins.name, coding.name, ""))
    try:
        align_locus(LocusInputs(proteins.records, coding.records, proteins.name, coding.name,
                                coding.marked, proteins.headers, coding.headers,
                                kept=_kept(kept_columns)),
                    options, outcome)
    except InputError as error:
        error.args = (_keywords_for_flags(str(error)),)
        error.problems = tuple(outcome.problems)
        raise
    return CodonAlignment(outcome, located_notes(outcome.located, coding.name))


# Command-line options that codon_align takes as keywords, and what a message calls them.
_SWITCHES = ("pair-by-order", "both-strands", "upper-case", "resolve-ambiguity")
_VALUED = ("id-map", "id-pattern", "mismatch", "table", "gene-table", "stops")
_FLAG = re.compile(r"--(no-)?([a-z][a-z-]*)")


def _keywords_for_flags(message: str) -> str:
    """The message with each option that codon_align has as a keyword named as one."""
    def keyword(flag: re.Match[str]) -> str:
        negated, name = flag.groups()
        word = name.replace("-", "_")
        if negated and word == "locate":
            return "locate=False"
        if not negated and name in _SWITCHES:
            return f"{word}=True"
        if not negated and name in _VALUED:
            return f"{word}="
        return flag.group(0)

    return _FLAG.sub(keyword, message)


class _Input:
    """An input's records, the name messages give it, the CDS records that may hold more
    than nucleotides (None: any may), and the records' whole header lines."""

    __slots__ = ("records", "name", "marked", "headers")

    def __init__(self, records: list[Record], name: str, marked: list[int] | None = None,
                 headers: list[str] | None = None) -> None:
        self.records = records
        self.name = name
        self.marked = marked
        self.headers = headers


def _read_input(reading: Reading, name: str, protein: bool) -> _Input:
    """A file's records (an alignment's with PAL2NAL's frameshift digits spread, as read)."""
    return _Input(reading.records, name, None if protein else reading.marked, reading.headers)


def _records(source: object, argument: str, name: str) -> _Input:
    """The records of an input: a path, an open file, a mapping, a Biopython alignment or
    records. Biopython's objects are known by their attributes, not by importing it."""
    protein = argument == "protein"
    in_format, letters = ("auto", None) if protein else ("fasta", NUCLEOTIDE_LETTERS)
    if isinstance(source, (str, os.PathLike)):
        path = _path(source, argument)
        return _read_input(read_records(path, in_format, letters, True, protein), path, protein)
    if hasattr(source, "read"):  # an open file, text or binary
        own_name = getattr(source, "name", None)
        name = own_name if isinstance(own_name, str) else name
        content = source.read()
        data = content.encode("utf-8") if isinstance(content, str) else content
        return _read_input(read_content(data, name, in_format, letters, True, protein), name,
                           protein)
    if isinstance(source, Mapping):
        pairs = [(_text(ident, argument, "identifiers"), _sequence(seq, argument))
                 for ident, seq in source.items()]
        records = [(ident, seq) for ident, (seq, _) in pairs]
        headers = [header or ident for ident, (_, header) in pairs]
    elif hasattr(source, "sequences") and hasattr(source, "coordinates"):  # Bio.Align.Alignment
        records, headers = _aligned_rows(source, argument)
    elif isinstance(source, Iterable) and not isinstance(source, (bytes, bytearray)):
        records, headers = [], []
        for record in source:
            ident, seq, header = _from_seq_record(record, argument)
            records.append((ident, seq))
            headers.append(header)
    else:
        raise TypeError(f"{argument} must be a path, a dict of identifier to sequence, an "
                        f"open file or Biopython records, not {type(source).__name__}")
    if not records:
        raise InputError(name, "no records")
    if argument == "protein":
        records = read_given_digits(records, name)
    return _Input(records, name, None, headers)


def _sequence(value: object, argument: str) -> tuple[str, str]:
    """The letters of a mapping's value (str, Seq or SeqRecord), and its header line if any."""
    if isinstance(value, str):
        return value, ""
    if hasattr(value, "seq") and hasattr(value, "id"):  # a SeqRecord
        _, seq, header = _from_seq_record(value, argument)
        return seq, header
    if type(value).__module__.startswith("Bio."):  # a Seq, or another of its sequence types
        return str(value), ""
    raise TypeError(f"{argument}: sequences must be str, Seq or SeqRecord, not "
                    f"{type(value).__name__} ({value!r:.40})")


def _aligned_rows(alignment: object, argument: str) -> tuple[list[Record], list[str]]:
    """The rows of a Bio.Align.Alignment, named by its sequences' records."""
    sequences = list(alignment.sequences)  # type: ignore[attr-defined]
    records: list[Record] = []
    headers: list[str] = []
    for index, sequence in enumerate(sequences):
        ident, _, header = _from_seq_record(sequence, argument)
        records.append((ident, str(alignment[index])))  # type: ignore[index]
        headers.append(header)
    return records, headers


def _kept(kept_columns: Path | Iterable[int] | None) -> KeptColumns | None:
    if kept_columns is None:
        return None
    if isinstance(kept_columns, (str, os.PathLike)):
        return read_kept_columns(_path(kept_columns, "kept_columns"))
    if not isinstance(kept_columns, Iterable) or isinstance(kept_columns, (bytes, bytearray)):
        raise TypeError(f"kept_columns must be a path or column numbers, not "
                        f"{type(kept_columns).__name__}")
    columns = list(kept_columns)
    for column in columns:
        if not isinstance(column, int) or isinstance(column, bool):
            raise TypeError(f"kept_columns: column numbers must be int, not "
                            f"{type(column).__name__} ({column!r:.40})")
    return single_columns("kept_columns", PYTHON_LIST, columns)


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


def _from_seq_record(record: object, argument: str) -> tuple[str, str, str]:
    """(identifier, sequence, whole header line) of a Biopython SeqRecord, or of anything
    with .id and .seq (and maybe .description)."""
    ident, seq = getattr(record, "id", None), getattr(record, "seq", None)
    if ident is None or seq is None:
        raise TypeError(f"{argument} must be a path, a dict of identifier to sequence, an "
                        f"open file or Biopython records; found a {type(record).__name__} "
                        f"among the records")
    ident = _text(ident, argument, "record identifiers")
    description = getattr(record, "description", "")
    if not isinstance(description, str) or description in ("", "<unknown description>"):
        return ident, str(seq), ident
    # SeqIO's FASTA records describe themselves by the whole line, Bio.Align's without the id
    own = description.split(None, 1)[:1] == [ident]
    return ident, str(seq), description if own else f"{ident} {description}"


def _options(table: int, gene_table: Path | Mapping[str, list[str]] | None, pair_by_order: bool,
             id_map: Path | Mapping[str, str] | None, locate: bool, both_strands: bool,
             mismatch: str, frameshifts: str, upper_case: bool, resolve_ambiguity: bool,
             id_pattern: str | None, stops: str) -> LocusOptions:
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
    pairings = [name for name, given in (("pair_by_order", pair_by_order),
                                         ("id_map", id_map is not None),
                                         ("id_pattern", id_pattern is not None)) if given]
    if len(pairings) > 1:
        raise ValueError(f"give {' or '.join(pairings)}, not both")
    if id_pattern is not None:
        _check_pattern(id_pattern)
    for keyword, value, policies in (("mismatch", mismatch, MISMATCH_POLICIES),
                                     ("frameshifts", frameshifts, FRAMESHIFT_POLICIES),
                                     ("stops", stops, STOP_POLICIES)):
        if value not in policies:
            raise ValueError(f"{keyword} must be one of {', '.join(map(repr, policies))}, "
                             f"not {value!r:.40}")
    return LocusOptions(table_num=table, gene_table=_gene_table(gene_table),
                        pair_by_order=pair_by_order, id_map=_id_map(id_map), mismatch=mismatch,
                        frameshifts=frameshifts,
                        upper_case=upper_case, resolve_ambiguity=resolve_ambiguity,
                        locate=locate, both_strands=both_strands, id_pattern=id_pattern,
                        stops=stops)


def _check_pattern(id_pattern: object) -> None:
    if not isinstance(id_pattern, str):
        raise TypeError(f"id_pattern must be a str, not {type(id_pattern).__name__}")
    try:
        pattern_rule(id_pattern)
    except re.error as exc:
        raise ValueError(f"id_pattern: {exc}") from None


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
