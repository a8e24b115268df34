"""Checking the two inputs of a locus and pairing their records.

Every check here exists because a silent mistake would otherwise reach the
alignment: records paired by position after an aligner reordered them,
identifiers repeated unequally, a protein file given as CDS.
"""

from __future__ import annotations

from collections import Counter
from collections.abc import Callable, Container, Iterable, Mapping, Set

from ..errors import InputError, name_some, shown_path
from .._native import RecordSet
from ..outputs.formats import UNIQUE_NAME_FORMATS

# Letters of plain nucleotides; a CDS made mostly of anything else is protein.
_PLAIN_NUCLEOTIDES = str.maketrans("", "", "ACGTUNacgtun-.")
NUCLEOTIDE_LETTERS = b"ACGTUN-."  # all that a usual CDS holds
_PLAIN_LOWER_BYTES = b"acgtun"
_MIN_PLAIN_FRACTION = 0.5


# Telling a swapped pair of files apart needs only a sample of each.
_SAMPLED_RECORDS = 32
_SAMPLED_LETTERS = 4096
_NUCLEOTIDE_BYTES = b"ACGTUNacgtun"
_NOT_LETTERS = b"-.~*"  # gaps and stops; a non-ASCII letter is sampled as "?", a letter
# A protein alignment is refused as nucleotides only when almost all the
# letters of its sample are ACGTUN, which A, C, G, T and N residues (about a
# quarter of a protein) never come near in as many letters as this, unless
# the CDS file holding protein says the same.
_MIN_LETTERS_TO_JUDGE = 20
_MIN_DNA_FRACTION = 0.9


# The whole header lines of the protein alignment's records and of the CDS records, where known.
HeaderLines = Callable[[], "tuple[list[str], list[str]] | None"]
# For each protein record, the index of its CDS record in the CDS set.
CdsIndices = list[int]


class Repeats:
    """Identifiers that name more than one record, each as 'name (count)'."""

    __slots__ = ("by_occurrence", "by_header")

    def __init__(self, by_occurrence: list[str], by_header: list[str]) -> None:
        self.by_occurrence = by_occurrence  # the n-th record paired with the n-th CDS
        self.by_header = by_header  # each record paired with the CDS of its whole header line

    def __bool__(self) -> bool:
        return bool(self.by_occurrence or self.by_header)


def repeated_identifiers(idents: list[str]) -> list[str]:
    """Identifiers that more than one record carries, in order of first appearance."""
    if len(set(idents)) == len(idents):
        return []
    return [ident for ident, count in Counter(idents).items() if count > 1]


def check_names_fit(idents: list[str], out_format: str, path: str) -> None:
    """Tree programs refuse an alignment that names two taxa alike; FASTA and CLUSTAL may."""
    if out_format not in UNIQUE_NAME_FORMATS:
        return
    repeated = repeated_identifiers(idents)
    if repeated:
        raise InputError(path, f"repeated identifiers: {name_some(repeated)}; "
                               f"{out_format.upper()} output needs every name once: "
                               f"--rename makes them unique (FASTA and CLUSTAL output may "
                               f"repeat them)")


def _letters_sample(seqs: Iterable[str]) -> bytes:
    """The first letters of the sequences, gaps and stops aside, a non-ASCII one as '?'."""
    joined = "".join(seq[:_SAMPLED_LETTERS] for seq in seqs)
    return joined.encode("ascii", "replace").translate(None, _NOT_LETTERS)


def _first_letters(records: RecordSet, index: int) -> str:
    """The letters of a record that a sample looks at, and no more."""
    return records.sequence(index, _SAMPLED_LETTERS)


def _nucleotide_count(letters: bytes) -> int:
    return len(letters) - len(letters.translate(None, _NUCLEOTIDE_BYTES))


def _holds_nucleotides(proteins: RecordSet, min_letters: int) -> bool:
    sampled = range(min(len(proteins), _SAMPLED_RECORDS))
    letters = _letters_sample(_first_letters(proteins, index) for index in sampled)
    return (len(letters) >= max(min_letters, 1)
            and _nucleotide_count(letters) >= _MIN_DNA_FRACTION * len(letters))


def _holds_protein(cds: RecordSet, marked: Iterable[int] | None) -> bool:
    """Whether most of the first records look like protein. Only the marked records
    can: the others hold nothing but NUCLEOTIDE_LETTERS."""
    sampled = min(len(cds), _SAMPLED_RECORDS)
    suspects = range(sampled) if marked is None else [
        index for index in marked if index < _SAMPLED_RECORDS]
    if not suspects:
        return False
    judged = protein_like = 0
    for index in suspects:
        letters = _letters_sample((_first_letters(cds, index),))
        if letters:
            judged += 1
            protein_like += _looks_like_protein(len(letters) - _nucleotide_count(letters),
                                                len(letters))
    suspect = set(suspects)
    judged += sum(1 for index in range(sampled)
                  if index not in suspect and _first_letters(cds, index).strip("-."))
    return 2 * protein_like > judged


def check_not_swapped(proteins: RecordSet, cds: RecordSet, pep_path: str, cds_path: str,
                      marked: Iterable[int] | None = None) -> None:
    """Refuses a protein file of nucleotides or a CDS file of protein, saying which way round.

    Only the CDS records at the marked indices can hold more than NUCLEOTIDE_LETTERS
    (by default all can)."""
    cds_is_protein = _holds_protein(cds, marked)
    protein_is_dna = _holds_nucleotides(proteins, 0 if cds_is_protein else _MIN_LETTERS_TO_JUDGE)
    order = "the protein alignment comes first, then the CDS"
    if protein_is_dna and cds_is_protein:
        raise InputError(pep_path, f"holds nucleotides and {shown_path(cds_path)} holds "
                                   f"protein: the two files look swapped ({order})")
    if cds_is_protein:
        raise InputError(cds_path, f"holds protein, not coding DNA: was the protein alignment "
                                   f"given as the CDS? ({order})")
    if protein_is_dna:
        raise InputError(pep_path, f"holds nucleotides, not protein: was the CDS given as the "
                                   f"protein alignment? ({order})")


def _looks_like_protein(other: int, length: int) -> bool:
    return other > (1.0 - _MIN_PLAIN_FRACTION) * length


def check_nucleotide(records: RecordSet, path: str, marked: Iterable[int] | None = None) -> None:
    """Refuses CDS records that look like protein or hold non-ASCII letters.

    The answer comes from the letters that are not NUCLEOTIDE_LETTERS: in a
    usual CDS there are none, and bytes.translate finds that out several times
    faster than str.translate.
    Only the records at the marked indices, in increasing order, can hold
    other letters (by default all can): only theirs are fetched.
    """
    protein_like: list[str] = []
    non_ascii: list[str] = []
    for index in range(len(records)) if marked is None else marked:
        seq = records.sequence(index)
        if not seq.isascii():
            non_ascii.append(records.identifier(index))
            if _looks_like_protein(len(seq.translate(_PLAIN_NUCLEOTIDES)), len(seq)):
                protein_like.append(records.identifier(index))
            continue
        unusual = seq.encode("ascii").translate(None, NUCLEOTIDE_LETTERS)
        if not unusual:
            continue
        if _looks_like_protein(len(unusual.translate(None, _PLAIN_LOWER_BYTES)), len(seq)):
            protein_like.append(records.identifier(index))
    if protein_like:
        raise InputError(path, f"looks like protein, not coding DNA: {name_some(protein_like)}")
    if non_ascii:
        raise InputError(path, f"non-ASCII letters in the CDS: {name_some(non_ascii)}")


class MissingCds(InputError):
    """Some aligned records, not all, have no CDS: the locus runs without them unless told to
    be strict. indices: those records' places in the alignment; hint: why, in words."""

    def __init__(self, cds_path: str, detail: str, indices: list[int], hint: str) -> None:
        super().__init__(cds_path, detail)
        self.indices = indices
        self.hint = hint


def _check_all_found(idents: list[str], wanted: list[str], cds_idents: list[str],
                     found: Container[str], pep_path: str, cds_path: str, tried: str) -> None:
    missing = [at for at, name in enumerate(wanted) if name not in found]
    if not missing:
        return
    hint = _in_several_files(wanted, cds_idents, found) + "; pair them with --id-map or --id-pattern"
    if len(idents) == len(cds_idents):
        hint += ", or, if both list the records in the same order, with --pair-by-order"
    if len(missing) == len(idents):
        tried = "; " + tried if tried else ""
        raise InputError(cds_path, f"no identifier of {shown_path(pep_path)} is in this file "
                                   f"({len(idents)} and {len(cds_idents)} records){tried}{hint}")
    aligned = set(wanted)
    unpaired = [ident for ident in cds_idents if ident not in aligned]
    # Where every CDS record found its protein, no pairing option would find the rest.
    hint = f"unpaired here: {name_some(unpaired)}{hint}" if unpaired else \
        "missing from the CDS file(s)"
    shown = [idents[at] if idents[at] == wanted[at] or not wanted[at]
             else f"{idents[at]} (as {wanted[at]})" for at in missing]
    raise MissingCds(cds_path, f"no CDS for {len(missing)} aligned record(s) of "
                               f"{shown_path(pep_path)}: {name_some(shown)}; {hint}",
                     missing, hint)


def _in_several_files(wanted: list[str], cds_idents: list[str], found: Container[str]) -> str:
    """Where missing identifiers are in several CDS files (known there as STEM|ID): how to
    name the one meant."""
    qualified: dict[str, str] = {}  # ID -> the first STEM|ID
    for ident in cds_idents:
        if "|" in ident:
            qualified.setdefault(ident.partition("|")[2], ident)
    several = [name for name in wanted if name not in found and name in qualified]
    if not several:
        return ""
    return (f"; {name_some(several)} in several CDS files: the protein names the one it means "
            f"as {qualified[several[0]]}")


def _header_keys(wanted: list[str], cds_idents: list[str], repeated: Set[str],
                 pep_headers: list[str], cds_headers: list[str]
                 ) -> tuple[list[str], list[str], set[str]]:
    """Keys that pair the records: a repeated identifier's by identifier and whole header
    line where the two files give it the same header lines, as many times each, and not
    all alike; every other by identifier alone. And the identifiers paired so."""
    pep_of: dict[str, list[str]] = {}
    cds_of: dict[str, list[str]] = {}
    for name, header in zip(wanted, pep_headers):
        if name in repeated:
            pep_of.setdefault(name, []).append(header)
    for name, header in zip(cds_idents, cds_headers):
        if name in repeated:
            cds_of.setdefault(name, []).append(header)
    by_header = {name for name, headers in pep_of.items()
                 if len(set(headers)) > 1 and Counter(headers) == Counter(cds_of[name])}
    pep_keys = [f"{name}\n{header}" if name in by_header else name
                for name, header in zip(wanted, pep_headers)]
    cds_keys = [f"{name}\n{header}" if name in by_header else name
                for name, header in zip(cds_idents, cds_headers)]
    return pep_keys, cds_keys, by_header


def _pair_by_occurrence(wanted: list[str], cds_idents: list[str], pep_path: str,
                        cds_path: str, header_lines: HeaderLines | None = None,
                        ) -> tuple[CdsIndices, Repeats]:
    """The n-th record of a repeated identifier takes the n-th CDS of that identifier, or
    of its own whole header line where the header lines tell the records apart."""
    wanted_counts = Counter(wanted)
    cds_counts = Counter(cds_idents)
    differ = [f"{name} ({count} in {shown_path(pep_path)}, {cds_counts[name]} here)"
              for name, count in wanted_counts.items() if cds_counts[name] != count]
    if differ:
        raise InputError(cds_path, f"identifiers repeated unequally in the two files: "
                                   f"{name_some(differ)}; repeats pair only when both files "
                                   f"repeat them equally")
    repeated = {name for name, count in wanted_counts.items() if count > 1}
    lines = header_lines() if header_lines is not None else None
    pep_keys, cds_keys, by_header = (wanted, cds_idents, set()) \
        if lines is None else _header_keys(wanted, cds_idents, repeated, *lines)
    indices_of: dict[str, list[int]] = {}
    for index, key in enumerate(cds_keys):
        indices_of.setdefault(key, []).append(index)
    taken = dict.fromkeys(indices_of, 0)
    paired: CdsIndices = []
    for key in pep_keys:
        paired.append(indices_of[key][taken[key]])
        taken[key] += 1
    counted = [(name, f"{name} ({wanted_counts[name]})") for name in wanted_counts
               if name in repeated]
    return paired, Repeats([shown for name, shown in counted if name not in by_header],
                           [shown for name, shown in counted if name in by_header])


def index_by_identifier(idents: list[str]) -> dict[str, int]:
    """Identifier -> index of its record (the last one of a repeated identifier)."""
    return {ident: index for index, ident in enumerate(idents)}


def pair_by_identifier(idents: list[str], cds_idents: list[str], pep_path: str,
                       cds_path: str, id_map: Mapping[str, str] | None = None,
                       index_of: Mapping[str, int] | None = None, tried: str = "",
                       header_lines: HeaderLines | None = None) -> tuple[CdsIndices, Repeats]:
    """The index of the CDS of each protein record, in the order of the alignment, and the
    repeated identifiers, each with its count. CDS records that no protein names are left
    aside.

    id_map gives the CDS identifier of a protein identifier; the protein
    identifiers it does not list stand for themselves. index_of:
    index_by_identifier(cds_idents), when already made; tried: what else was tried, told
    when a protein has no CDS. header_lines gives the whole header lines of both files,
    asked for only when identifiers repeat.
    """
    wanted = [id_map.get(ident, ident) for ident in idents] if id_map else idents
    by_ident = index_by_identifier(cds_idents) if index_of is None else index_of
    aligned = set(wanted)
    if not aligned <= by_ident.keys():  # one C-level test; the names of the missing only then
        _check_all_found(idents, wanted, cds_idents, by_ident, pep_path, cds_path, tried)
    if len(by_ident) < len(cds_idents) or len(aligned) < len(wanted):
        return _pair_by_occurrence(wanted, cds_idents, pep_path, cds_path, header_lines)
    return list(map(by_ident.__getitem__, wanted)), Repeats([], [])


def pair_by_order(proteins: int, cds: int, pep_path: str, cds_path: str) -> CdsIndices:
    """The n-th protein record with the n-th CDS record, given how many records each has."""
    if proteins != cds:
        raise InputError(cds_path, f"{cds} CDS records but {proteins} aligned "
                                   f"records in {pep_path}")
    return list(range(proteins))
