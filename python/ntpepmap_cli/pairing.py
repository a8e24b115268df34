"""Checking the two inputs of a locus and pairing their records.

Every check here exists because a silent mistake would otherwise reach the
alignment: records paired by position after an aligner reordered them,
identifiers repeated unequally, a protein file given as CDS.
"""

from __future__ import annotations

from collections import Counter
from collections.abc import Container, Iterable, Mapping

from .errors import InputError, name_some, shown_path
from .seqio import Record

# Letters of plain nucleotides; a CDS made mostly of anything else is protein.
_PLAIN_NUCLEOTIDES = str.maketrans("", "", "ACGTUNacgtun-.")
NUCLEOTIDE_LETTERS = b"ACGTUN-."  # all that a usual CDS holds
_PLAIN_LOWER_BYTES = b"acgtun"
_MIN_PLAIN_FRACTION = 0.5

ROW_GAPS = "-.~"  # gap letters of alignment rows; '-' is the one the module knows
UNIQUE_NAME_FORMATS = ("phylip", "paml")

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


def repeated_identifiers(records: list[Record]) -> list[str]:
    """Identifiers that more than one record carries, in order of first appearance."""
    if len({ident for ident, _ in records}) == len(records):
        return []
    return [ident for ident, count in Counter(ident for ident, _ in records).items() if count > 1]


def check_names_fit(proteins: list[Record], out_format: str, path: str) -> None:
    """Tree programs refuse an alignment that names two taxa alike; FASTA and CLUSTAL may."""
    if out_format not in UNIQUE_NAME_FORMATS:
        return
    repeated = repeated_identifiers(proteins)
    if repeated:
        raise InputError(path, f"repeated identifiers: {name_some(repeated)}; "
                               f"{out_format.upper()} output needs every name once "
                               f"(FASTA and CLUSTAL output may repeat them)")


def _letters_sample(seqs: Iterable[str]) -> bytes:
    """The first letters of the sequences, gaps and stops aside, a non-ASCII one as '?'."""
    joined = "".join(seq[:_SAMPLED_LETTERS] for seq in seqs)
    return joined.encode("ascii", "replace").translate(None, _NOT_LETTERS)


def _nucleotide_count(letters: bytes) -> int:
    return len(letters) - len(letters.translate(None, _NUCLEOTIDE_BYTES))


def _holds_nucleotides(proteins: list[Record], min_letters: int) -> bool:
    letters = _letters_sample(seq for _, seq in proteins[:_SAMPLED_RECORDS])
    return (len(letters) >= max(min_letters, 1)
            and _nucleotide_count(letters) >= _MIN_DNA_FRACTION * len(letters))


def _holds_protein(cds: list[Record], marked: Iterable[int] | None) -> bool:
    """Whether most of the first records look like protein. Only the marked records
    can: the others hold nothing but NUCLEOTIDE_LETTERS."""
    sampled = cds[:_SAMPLED_RECORDS]
    suspects = range(len(sampled)) if marked is None else [
        index for index in marked if index < _SAMPLED_RECORDS]
    if not suspects:
        return False
    judged = protein_like = 0
    for index in suspects:
        letters = _letters_sample((sampled[index][1],))
        if letters:
            judged += 1
            protein_like += _looks_like_protein(len(letters) - _nucleotide_count(letters),
                                                len(letters))
    suspect = set(suspects)
    judged += sum(1 for index, (_, seq) in enumerate(sampled)
                  if index not in suspect and seq[:_SAMPLED_LETTERS].strip("-."))
    return 2 * protein_like > judged


def check_not_swapped(proteins: list[Record], cds: list[Record], pep_path: str, cds_path: str,
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


def check_nucleotide(records: list[Record], path: str, marked: Iterable[int] | None = None) -> None:
    """Refuses CDS records that look like protein or hold non-ASCII letters.

    The answer comes from the letters that are not NUCLEOTIDE_LETTERS: in a
    usual CDS there are none, and bytes.translate finds that out several times
    faster than str.translate.
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
    if protein_like:
        raise InputError(path, f"looks like protein, not coding DNA: {name_some(protein_like)}")
    if non_ascii:
        raise InputError(path, f"non-ASCII letters in the CDS: {name_some(non_ascii)}")


def _check_all_found(proteins: list[Record], wanted: list[str], cds: list[Record],
                     found: Container[str], pep_path: str, cds_path: str) -> None:
    missing = [ident if ident == name else f"{ident} (as {name})"
               for (ident, _), name in zip(proteins, wanted) if name not in found]
    if not missing:
        return
    hint = ("; if both list the records in the same order, pair them with --pair-by-order"
            if len(proteins) == len(cds) else "")
    if len(missing) == len(proteins):
        raise InputError(cds_path, f"no identifier of {shown_path(pep_path)} is in this file "
                                   f"({len(proteins)} and {len(cds)} records){hint}")
    aligned = set(wanted)
    unpaired = [ident for ident, _ in cds if ident not in aligned]
    here = f"; unpaired here: {name_some(unpaired)}" if unpaired else ""
    raise InputError(cds_path, f"no CDS for {len(missing)} aligned record(s) of "
                               f"{shown_path(pep_path)}: {name_some(missing)}{here}{hint}")


def _check_all_used(cds: list[Record], wanted: list[str], pep_path: str, cds_path: str) -> None:
    aligned = set(wanted)
    unused = [ident for ident, _ in cds if ident not in aligned]
    if unused:
        raise InputError(cds_path, f"{len(unused)} CDS record(s) not in the alignment "
                                   f"{shown_path(pep_path)}: {name_some(unused)}")


def _pair_by_occurrence(proteins: list[Record], wanted: list[str], cds: list[Record],
                        pep_path: str, cds_path: str) -> tuple[list[Record], list[str]]:
    """The n-th record of a repeated identifier takes the n-th CDS of that identifier."""
    seqs_of: dict[str, list[str]] = {}
    for name, seq in cds:
        seqs_of.setdefault(name, []).append(seq)
    wanted_counts = Counter(wanted)
    differ = [f"{name} ({count} in {shown_path(pep_path)}, {len(seqs_of[name])} here)"
              for name, count in wanted_counts.items() if len(seqs_of[name]) != count]
    if differ:
        raise InputError(cds_path, f"identifiers repeated unequally in the two files: "
                                   f"{name_some(differ)}; repeats pair only when both files "
                                   f"repeat them equally")
    _check_all_used(cds, wanted, pep_path, cds_path)
    taken = dict.fromkeys(seqs_of, 0)
    paired: list[Record] = []
    for (ident, _), name in zip(proteins, wanted):
        paired.append((ident, seqs_of[name][taken[name]]))
        taken[name] += 1
    return paired, [f"{name} ({count})" for name, count in wanted_counts.items() if count > 1]


def pair_by_identifier(proteins: list[Record], cds: list[Record], pep_path: str,
                       cds_path: str, id_map: Mapping[str, str] | None = None,
                       ) -> tuple[list[Record], list[str]]:
    """The CDS of each protein row, in the order of the alignment, and the
    identifiers paired by occurrence, each with its count.

    id_map gives the CDS identifier of a protein identifier; the protein
    identifiers it does not list stand for themselves.
    """
    idents = [ident for ident, _ in proteins]
    wanted = [id_map.get(ident, ident) for ident in idents] if id_map else idents
    by_ident: dict[str, str] = dict(cds)
    aligned = set(wanted)
    if not aligned <= by_ident.keys():  # one C-level test; the names of the missing only then
        _check_all_found(proteins, wanted, cds, by_ident, pep_path, cds_path)
    if len(by_ident) < len(cds) or len(aligned) < len(wanted):
        return _pair_by_occurrence(proteins, wanted, cds, pep_path, cds_path)
    if len(by_ident) > len(aligned):  # every aligned identifier is one of them: some are not
        _check_all_used(cds, wanted, pep_path, cds_path)
    return list(zip(idents, map(by_ident.__getitem__, wanted))), []


def pair_by_order(proteins: list[Record], cds: list[Record],
                  pep_path: str, cds_path: str) -> list[Record]:
    if len(proteins) != len(cds):
        raise InputError(cds_path, f"{len(cds)} CDS records but {len(proteins)} aligned "
                                   f"records in {pep_path}")
    return [(ident, seq) for (ident, _), (_, seq) in zip(proteins, cds)]
