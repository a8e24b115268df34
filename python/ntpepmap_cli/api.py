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
from typing import IO, TYPE_CHECKING, Any, TypeVar, Union

from .codes import CODES_BY_NUMBER
from .errors import InputError, name_some
from .reading.gene_table import checked_gene_table, load_gene_table
from .pairing.id_map import load_id_map
from .pairing.header_rules import pattern_rule
from .reading.kept_columns import PYTHON_LIST, KeptColumns, read_kept_columns, single_columns
from .reading.kept_columns import block_columns
from .locus.run import (LocusInputs, LocusJob, LocusOptions, align_locus, file_stem,
                        without_gap_columns)
from .qc.cells import mark_gap_columns
from .qc.locus_page import write_locus_page
from .outputs.atomic_files import OutputSet
from .option_table import (CHOICE, FLAG_CHOICE, NEGATED, NUMBER, ON_OFF, OUT_FILE, SWITCH, TEXT,
                           Option, api_options, choices_of, flag_meanings, keyword_help,
                           out_of_range)
from .result.outcome import LocusOutcome, Tally
from .pairing.identifiers import NUCLEOTIDE_LETTERS, repeated_identifiers
from .result.problems import Problem
from .reading.frameshift_digits import read_given_digits
from ._native import RecordSet
from .reading.input_files import Reading, Record, read_content, read_records
from .locus.translation import located_notes

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
            repeated = repeated_identifiers([ident for ident, _ in self._rows])
            raise ValueError(f"repeated identifiers: {name_some(repeated)}; a dict keeps one row "
                             f"per identifier (iterate over the alignment to get every row)")
        return rows

    def write_html(self, path: Path) -> None:
        """Writes the locus's page, as --html does; the result must come from
        codon_align(..., html=...), which keeps what the page shows."""
        if self._outcome.cells is None:
            raise ValueError("write_html() needs a result of codon_align(..., html=PATH), "
                             "which keeps what the page shows")
        outputs = OutputSet()
        write_locus_page(outputs, _path(path, "html"), self._outcome,
                         file_stem(self._outcome.job.pep_path))
        outputs.commit()

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
                in_format: str = "auto", drop_gap_columns: bool = False,
                pair_by_order: bool = False, id_map: Path | Mapping[str, str] | None = None,
                id_pattern: str | None = None, trim_stop: bool = True, locate: bool = True,
                both_strands: bool = False, kept_columns: Path | Iterable[int] | None = None,
                blocks: bool = False, letter_case: str = "keep", upper_case: bool = False,
                resolve_ambiguity: bool = False, t_for_u: bool = False, mismatch: str = "mask",
                frameshifts: str = "mask", stops: str = "keep", strict: bool = False,
                keep_short: bool = False, threads: int = 0,
                html: Path | None = None) -> CodonAlignment:
    """Back-translates aligned protein rows into a codon alignment, as the
    ntpepmap command does.

    protein: a file (any format and compression the command reads) or an open
    one, a dict of identifier to aligned row, a Biopython MultipleSeqAlignment,
    Bio.Align.Alignment or iterable of SeqRecord. cds: a FASTA file or an open
    one, a mapping of identifier to coding sequence (str, Seq or SeqRecord:
    SeqIO.index and SeqIO.to_dict give one), or an iterable of SeqRecord; CDS
    records that no protein pairs with are left aside. Records pair by
    identifier, else by the annotations of their header lines (a SeqRecord's
    description).

    The keyword arguments are the command's options of one locus, by the same
    names, checked alike; only those that write files (--out-format, --wrap,
    --partitions, --rename, --report, --quiet) have none. table is an
    NCBI number, gene_table a code of one's own (letter -> codons, or a JSON
    file of it), id_map protein identifier -> CDS identifier (or a file of the
    two columns), kept_columns a file as --kept-columns reads it or 0-based
    column numbers; in_format and blocks concern a protein file; upper_case=True
    is letter_case='upper'. keep_short may leave rows shorter than the others.
    html names a file for the locus's page, as --html writes it; the result's
    write_html() writes it again elsewhere.

    Raises TypeError or ValueError for wrong arguments, and InputError, with
    the command's one-line message, for inputs it cannot back-translate; its
    problems are those found before, such as why every record was left out.
    """
    keywords = dict(locals())
    options = _options(keywords)
    proteins = _records(protein, "protein", PROTEIN_NAME, in_format)
    coding = _records(cds, "cds", CDS_NAME)
    outcome = LocusOutcome(LocusJob(proteins.name, coding.name, ""))
    try:
        kept = block_columns(proteins.name, proteins.marks) if blocks else _kept(kept_columns)
        align_locus(LocusInputs(proteins.records, coding.records, proteins.name, coding.name,
                                coding.marked, kept=kept, headers_read=True),
                    options, outcome)
    except InputError as error:
        error.args = (_keywords_for_flags(str(error)),)
        error.problems = tuple(outcome.problems)
        raise
    if drop_gap_columns:
        outcome.rows = without_gap_columns(outcome.rows)
        if outcome.cells is not None:
            mark_gap_columns(outcome.cells)
    result = CodonAlignment(outcome, located_notes(outcome.located, coding.name))
    if html is not None:
        result.write_html(html)
    return result


if codon_align.__doc__:  # not under python -OO
    codon_align.__doc__ += f"\n{keyword_help()}"

_FLAG = re.compile(r"--[a-z][a-z-]*")


def _keywords_for_flags(message: str) -> str:
    """The message with each option that codon_align has as a keyword named as one."""
    meanings = flag_meanings()
    return _FLAG.sub(lambda flag: meanings.get(flag.group(0), flag.group(0)), message)


class _Input:
    """An input's records (a native set, made once, their whole header lines among them),
    the name messages give it, the CDS records that may hold more than nucleotides (None:
    any may), and the columns that a CLUSTAL file's lines of '#' mark (None: no such lines)."""

    __slots__ = ("records", "name", "marked", "marks")

    def __init__(self, records: RecordSet, name: str, marked: list[int] | None = None,
                 marks: list[int] | None = None) -> None:
        self.records = records
        self.name = name
        self.marked = marked
        self.marks = marks


def _read_input(reading: Reading, name: str, protein: bool) -> _Input:
    """A file's records (an alignment's with PAL2NAL's frameshift digits spread, as read)."""
    return _Input(reading.records, name, None if protein else reading.marked, reading.kept)


def _records(source: object, argument: str, name: str, in_format: str = "fasta") -> _Input:
    """The records of an input: a path, an open file, a mapping, a Biopython alignment or
    records. Biopython's objects are known by their attributes, not by importing it."""
    protein = argument == "protein"
    letters = None if protein else NUCLEOTIDE_LETTERS
    if isinstance(source, (str, os.PathLike)):
        path = _path(source, argument)
        return _read_input(read_records(path, in_format, letters, protein), path, protein)
    if hasattr(source, "read"):  # an open file, text or binary
        own_name = getattr(source, "name", None)
        name = own_name if isinstance(own_name, str) else name
        content = source.read()
        data = content.encode("utf-8") if isinstance(content, str) else content
        return _read_input(read_content(data, name, in_format, letters, protein), name,
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
    return _Input(RecordSet.from_records(records, headers), name, None)


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


def _options(keywords: dict[str, Any]) -> LocusOptions:
    """The keywords checked as the command checks its options, into the run's options."""
    if not isinstance(keywords["upper_case"], bool):
        raise TypeError(f"upper_case must be True or False, not {keywords['upper_case']!r:.40}")
    if keywords["upper_case"] and keywords["letter_case"] == "keep":
        keywords["letter_case"] = "upper"
    values = [(option, keywords[str(option.api)]) for option in api_options()]
    for exclusive in dict.fromkeys(option.exclusive for option, _ in values if option.exclusive):
        given = [str(option.api) for option, value in values
                 if option.exclusive == exclusive and value != option.default]
        if len(given) > 1:
            raise ValueError(f"give {' or '.join(given)}, not both")
    for option, value in values:
        _check(option, value)
    fields = {str(option.field): value is not None if option.kind == OUT_FILE else value
              for option, value in values if option.field}
    fields.update(gene_table=_gene_table(keywords["gene_table"]), id_map=_id_map(keywords["id_map"]))
    return LocusOptions(**fields)


def _check(option: Option, value: object) -> None:
    """A keyword's value, checked as the command checks the option's."""
    keyword = option.api
    if option.kind in (SWITCH, NEGATED, ON_OFF) and not isinstance(value, bool):
        raise TypeError(f"{keyword} must be True or False, not {value!r:.40}")
    if option.kind == NUMBER:
        if not isinstance(value, int) or isinstance(value, bool):
            raise TypeError(f"{keyword} must be an int, not {type(value).__name__}")
        if option.name == "table" and value not in CODES_BY_NUMBER:
            raise ValueError(f"table {value} is not a genetic code; NCBI numbers: "
                             f"{', '.join(map(str, sorted(CODES_BY_NUMBER)))}")
        wrong = out_of_range(option, value)
        if wrong is not None:
            raise ValueError(f"{keyword} {wrong}")
    if option.kind in (CHOICE, FLAG_CHOICE) and value not in choices_of(option.name):
        raise ValueError(f"{keyword} must be one of "
                         f"{', '.join(map(repr, choices_of(option.name)))}, not {value!r:.40}")
    if option.kind == TEXT and value is not None:
        _check_pattern(value)
    if option.kind == OUT_FILE and value is not None:
        _path(value, str(keyword))  # type: ignore[arg-type]


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
