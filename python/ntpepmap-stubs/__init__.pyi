"""Back-translation of protein alignment rows into codon-aligned DNA.

The type aliases below exist for type checkers only: import them under
``if typing.TYPE_CHECKING:`` (the compiled module does not define them).

Problems inside a record never raise: they are printed as a framed report
on the process's file descriptor 1 (not through ``sys.stdout``), and the
record's row lacks the residues that failed. Wrong arguments raise
``TypeError``, ``ValueError`` or ``OverflowError``; an unknown table number
raises ``ValueError``. A dict that changes while it is being read, or a
report that cannot be written to standard output, aborts the call with
``PanicException``, which derives from ``BaseException``, not ``Exception``.
"""

from typing import Dict, List, Optional, Sequence, Tuple, Union

from typing_extensions import TypeAlias

PeptidePair: TypeAlias = Tuple[str, str]
"""(peptide header, aligned peptide row, '-' for gaps)."""

NucleotideTriple: TypeAlias = Tuple[int, str, str]
"""(any 32-bit int, unused; nucleotide header; unaligned coding sequence)."""

NucleotidePair: TypeAlias = Tuple[str, str]
"""(nucleotide header, unaligned coding sequence)."""

Seqs: TypeAlias = Dict[str, Tuple[PeptidePair, NucleotideTriple]]
"""Records for ``pepthread``: record name -> (peptide pair, nucleotide triple)."""

OriginalArgsSeqs: TypeAlias = Dict[str, Tuple[PeptidePair, NucleotidePair]]
"""Records for ``pepthread_original_args``: record name -> (peptide pair, nucleotide pair)."""

GeneTable: TypeAlias = Union[Dict[str, List[str]], Dict[str, Tuple[str, ...]],
                             Dict[str, Sequence[str]]]
"""A genetic code: one-character residue letter -> its codons in order of preference.

Values are lists or tuples of codon strings (a bare str is refused at run
time); '*' lists the stop codons. Codons are matched byte for byte, so
upper and lower case differ.
"""

__all__: List[str]

def pepthread(file_steem: str, table_num: int, seqs: Seqs) -> str:
    """Back-translate every record of ``seqs`` with built-in genetic code ``table_num``.

    ``table_num`` is an NCBI translation table number (1-6, 9-16, 21-33);
    ``file_steem`` names the input in reports. Returns, for each record in
    the order of ``seqs``, its name, a line feed, its codon-aligned row and
    a line feed: ``pepthread("aln", 1, {"r1": (("h", "M-K"), (0, "h", "ATGAAA"))})``
    gives ``"r1\\nATG---AAA\\n"``. A reported record's row is shorter than
    three times its peptide row.
    """

def pepthread_original_args(file_steem: str, gene_table: GeneTable,
                            seqs: OriginalArgsSeqs) -> str:
    """Back-translate every record of ``seqs`` with the caller's genetic code.

    Like ``pepthread``, but the codons come from ``gene_table`` and each
    record's nucleotide part is a (header, sequence) pair without the number:
    ``pepthread_original_args("aln", {"M": ["ATG"], "K": ["AAA", "AAG"]},
    {"r1": (("h", "M-K"), ("h", "ATGAAA"))})`` gives ``"r1\\nATG---AAA\\n"``.
    """

def attempt_iupac_substitution(original_triplet: str, taxa: Sequence[str]) -> Optional[str]:
    """The first codon of ``taxa`` that ``original_triplet`` can stand for, or None.

    The triplet may hold IUPAC ambiguity letters (R, Y, N, ...); each is read
    as any of the bases it stands for. ``taxa`` is a list or tuple of codons
    (not a str); its order decides between several matches.
    """
