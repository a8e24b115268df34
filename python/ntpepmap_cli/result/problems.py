"""What went wrong with a record, and what was done about it, as values.

The command-line tool prints each problem's message; the Python API hands out
the values themselves.
"""

from __future__ import annotations

# What a problem is.
MISMATCH = "mismatch"                 # the triplet encodes another residue
NOT_IN_CODE = "residue not in code"   # the genetic code has no codon for the residue
WRONG_PAIRING = "wrong pairing"       # most residues fail: not this record's CDS
CDS_TOO_LONG = "CDS too long"         # nucleotides left over after the last residue
CDS_TOO_SHORT = "CDS too short"       # the CDS runs out before the last residue
ROW_TOO_SHORT = "row too short"       # a protein row narrower than the alignment
CODING_REGION = "coding region"       # the coding region was found inside a longer CDS
NO_CODING_REGION = "no coding region"  # a CDS that does not fit holds no single placement
FRAMESHIFT = "frameshift"             # the CDS has a nucleotide or two its protein has not, or lacks them
CODONS_MISSING = "codons missing"     # residues whose codons the CDS lacks (an isoform, a moved exon boundary)
CODONS_EXTRA = "codons extra"         # whole codons in the CDS that its protein has not
INTRON = "intron"                     # codons extra, so many that they look like an intron
PARTIAL_CODON = "partial codon"       # a 3'-partial CDS: its last codon lacks a nucleotide or two
STOP_CODON = "stop codon"             # a stop codon the protein carries as '*' or X, inside it
READ_THROUGH = "read-through codon"   # TGA under U (selenocysteine), TAG under O (pyrrolysine)
NO_CDS = "no CDS"                     # no CDS record pairs with the aligned record

# What was done about it.
MASKED = "masked"
KEPT = "kept"
LEFT_OUT = "left out"
LOCATED = "located"
PADDED = "padded"
TRIMMED = "trimmed"                   # the surplus nucleotides are not written
WRITTEN_SHORT = "written short"       # a short codon row written anyway
COLUMN_LEFT_OUT = "column left out"   # the codon's column is left out of every row
COMPLETED = "completed with N"        # the nucleotides a partial codon lacks written as N


class Problem:
    """One problem of one record: where it is, what it is, what was done.

    column and residue_number count from 1 and, like residue and triplet,
    are None for problems of a whole record.
    """

    __slots__ = ("record", "column", "residue_number", "residue", "triplet", "kind", "action",
                 "message")

    def __init__(self, record: str, kind: str, action: str, message: str,
                 column: int | None = None, residue_number: int | None = None,
                 residue: str | None = None, triplet: str | None = None) -> None:
        self.record = record
        self.column = column
        self.residue_number = residue_number
        self.residue = residue
        self.triplet = triplet
        self.kind = kind
        self.action = action
        self.message = message  # the line the command-line tool prints

    def fields(self) -> tuple[str, str, str, str, int | None, int | None, str | None, str | None]:
        """Its arguments, in order: what it is sent or pickled as."""
        return (self.record, self.kind, self.action, self.message, self.column,
                self.residue_number, self.residue, self.triplet)

    def __reduce__(self) -> tuple[type[Problem], tuple[object, ...]]:
        # Pickled as its arguments: a batch's locus may send hundreds, and the state of a
        # class with slots would be a dict for each.
        return Problem, self.fields()

    def __str__(self) -> str:
        return self.message

    def __repr__(self) -> str:
        fields = ", ".join(f"{name}={getattr(self, name)!r}" for name in self.__slots__[:-1])
        return f"Problem({fields})"
