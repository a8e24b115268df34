"""Biopython's codonalign as a command line peer: PROTEIN_ALN CDS OUT (FASTA)."""
import sys
import warnings

from Bio import AlignIO, SeqIO, codonalign


def main() -> None:
    protein_path, cds_path, out_path = sys.argv[1:4]
    protein = AlignIO.read(protein_path, "fasta")
    cds = list(SeqIO.parse(cds_path, "fasta"))
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        codons = codonalign.build(protein, cds)
    with open(out_path, "w") as out:
        for record in codons:
            out.write(f">{record.id}\n{record.seq}\n")


if __name__ == "__main__":
    main()
