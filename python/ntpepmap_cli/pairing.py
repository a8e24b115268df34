"""Checking the two inputs of a locus and pairing their records.

Every check here exists because a silent mistake would otherwise reach the
alignment: records paired by position after an aligner reordered them,
duplicate identifiers, ragged protein rows, a protein file given as CDS.
"""

from __future__ import annotations

from collections import Counter
from collections.abc import Iterable, Set

from .errors import InputError, name_some
from .seqio import Record

# Letters of plain nucleotides; a CDS made mostly of anything else is protein.
_PLAIN_NUCLEOTIDES = str.maketrans("", "", "ACGTUNacgtun-.")
NUCLEOTIDE_LETTERS = b"ACGTUN-."  # all that a usual CDS holds
_PLAIN_LOWER_BYTES = b"acgtun"
_MIN_PLAIN_FRACTION = 0.5


# Identifier, aligned protein row, unaligned coding sequence prepared for the module.
Pair = tuple[str, str, str]


class ShortCds:
    """A record held back: its CDS has fewer triplets than its row has residues."""

    __slots__ = ("ident", "nucleotides", "residues", "row", "cds")

    def __init__(self, ident: str, nucleotides: int, residues: int, row: str = "",
                 cds: str = "") -> None:
        self.ident = ident
        self.nucleotides = nucleotides
        self.residues = residues
        self.row = row  # kept for --keep-short, which writes the short codon row
        self.cds = cds


def check_unique(records: list[Record], path: str) -> None:
    if len({ident for ident, _ in records}) == len(records):
        return
    counts = Counter(ident for ident, _ in records)
    duplicates = [ident for ident, count in counts.items() if count > 1]
    if duplicates:
        raise InputError(path, f"duplicate identifiers: {name_some(duplicates)}")


def alignment_width(records: list[Record], path: str) -> int:
    """The common row length; rows of another length are named."""
    lengths_seen = {len(row) for _, row in records}
    if len(lengths_seen) == 1:
        return lengths_seen.pop()
    lengths = Counter(len(row) for _, row in records)
    width, _ = lengths.most_common(1)[0]
    if len(lengths) > 1:
        odd = [f"{ident} ({len(row)})" for ident, row in records if len(row) != width]
        raise InputError(path, f"rows differ in length (most are {width} columns): "
                               f"{name_some(odd)}")
    return width


def _looks_like_protein(other: int, length: int) -> bool:
    return other > (1.0 - _MIN_PLAIN_FRACTION) * length


def check_nucleotide(records: list[Record], path: str, upper_case: bool = False,
                     marked: Iterable[int] | None = None) -> None:
    """Refuses CDS records that look like protein or hold non-ASCII letters.

    With upper_case, also upper-cases in place the records that need it
    (codons are matched case-sensitively). Both answers come from the letters
    that are not NUCLEOTIDE_LETTERS: in a usual CDS there are none, and
    bytes.translate finds that out several times faster than str.translate.
    Only the records at the marked indices, in increasing order, can hold
    other letters (by default all can).
    """
    protein_like: list[str] = []
    non_ascii: list[str] = []
    for index in range(len(records)) if marked is None else marked:
        ident, seq = records[index]
        if not seq.isascii():
            non_ascii.append(ident)
            if _looks_like_protein(len(seq.translate(_PLAIN_NUCLEOTIDES)), len(seq)):
                protein_like.append(ident)
            continue
        unusual = seq.encode("ascii").translate(None, NUCLEOTIDE_LETTERS)
        if not unusual:
            continue
        if _looks_like_protein(len(unusual.translate(None, _PLAIN_LOWER_BYTES)), len(seq)):
            protein_like.append(ident)
        elif upper_case and unusual.upper() != unusual:  # lower-case letters
            records[index] = (ident, seq.upper())
    if protein_like:
        raise InputError(path, f"looks like protein, not coding DNA: {name_some(protein_like)}")
    if non_ascii:
        raise InputError(path, f"non-ASCII letters in the CDS: {name_some(non_ascii)}")


def pair_by_identifier(proteins: list[Record], cds: list[Record],
                       pep_path: str, cds_path: str) -> list[Record]:
    """The CDS of each protein row, in the order of the alignment."""
    by_ident: dict[str, str] = dict(cds)
    missing = [ident for ident, _ in proteins if ident not in by_ident]
    if missing:
        raise InputError(cds_path, f"no CDS for {len(missing)} aligned record(s) of "
                                   f"{pep_path}: {name_some(missing)}")
    aligned = {ident for ident, _ in proteins}
    unused = [ident for ident, _ in cds if ident not in aligned]
    if unused:
        raise InputError(cds_path, f"{len(unused)} CDS record(s) not in the alignment "
                                   f"{pep_path}: {name_some(unused)}")
    return [(ident, by_ident[ident]) for ident, _ in proteins]


def pair_by_order(proteins: list[Record], cds: list[Record],
                  pep_path: str, cds_path: str) -> list[Record]:
    if len(proteins) != len(cds):
        raise InputError(cds_path, f"{len(cds)} CDS records but {len(proteins)} aligned "
                                   f"records in {pep_path}")
    return [(ident, seq) for (ident, _), (_, seq) in zip(proteins, cds)]


def residue_count(row: str) -> int:
    return len(row) - row.count("-")


def prepare_cds(seq: str, residues: int, stops: Set[str], trim_stop: bool) -> str:
    """Gap-free CDS, without a terminal stop unless asked otherwise."""
    if "-" in seq or "." in seq:
        seq = seq.replace("-", "").replace(".", "")
    if trim_stop and len(seq) == 3 * residues + 3 and seq[-3:].upper() in stops:
        seq = seq[:-3]
    return seq


def prepare_pairs(proteins: list[Record], cds: list[Record], stops: Set[str],
                  trim_stop: bool) -> tuple[list[Pair], list[ShortCds]]:
    """Pairs for the module, and the records whose CDS is too short to back-translate.

    Empties the entries of cds as it goes.

    A CDS with fewer triplets than residues can never give a full row, so such
    records are held back and named with both lengths, which says more than the
    module's generic length report.
    """
    pairs: list[Pair] = []
    too_short: list[ShortCds] = []
    for index, (ident, row) in enumerate(proteins):
        seq = cds[index][1]
        cds[index] = (ident, "")  # the prepared copy replaces it: never hold both for long
        residues = residue_count(row)
        prepared = prepare_cds(seq, residues, stops, trim_stop)
        if len(prepared) < 3 * residues:
            too_short.append(ShortCds(ident, len(prepared), residues, row, prepared))
        else:
            pairs.append((ident, row, prepared))
    return pairs, too_short
