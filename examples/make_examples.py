#!/usr/bin/env python3
"""Generate the example data: a protein alignment with its CDS, and a batch of loci.

Deterministic (fixed seed): running it again rewrites the same files.
Proteins evolve down a small tree from a random ancestor drawn with natural
amino-acid frequencies; indels leave gap runs in the alignment; each residue
is written with a randomly chosen synonymous codon of its genome's genetic code
(the single locus: the standard code; the batch: vertebrate mitochondrial genes
under table 2, plastid genes under table 11) and every CDS ends in a stop codon,
as CDS files from genome annotations do.

    python examples/make_examples.py [OUTPUT_FOLDER]   # default: examples/
"""

from __future__ import annotations

import random
import sys
from pathlib import Path

SEED = 20261207

# UniProtKB/Swiss-Prot amino-acid composition, percent.
AA_FREQUENCIES = {
    "A": 8.25, "R": 5.53, "N": 4.06, "D": 5.45, "C": 1.37, "Q": 3.93, "E": 6.75,
    "G": 7.07, "H": 2.27, "I": 5.96, "L": 9.66, "K": 5.84, "M": 2.42, "F": 3.86,
    "P": 4.70, "S": 6.56, "T": 5.34, "W": 1.08, "Y": 2.92, "V": 6.87,
}

STANDARD_CODONS = {
    "F": "TTT TTC", "L": "TTA TTG CTT CTC CTA CTG", "S": "TCT TCC TCA TCG AGT AGC",
    "Y": "TAT TAC", "C": "TGT TGC", "W": "TGG", "P": "CCT CCC CCA CCG", "H": "CAT CAC",
    "Q": "CAA CAG", "R": "CGT CGC CGA CGG AGA AGG", "I": "ATT ATC ATA", "M": "ATG",
    "T": "ACT ACC ACA ACG", "N": "AAT AAC", "K": "AAA AAG", "V": "GTT GTC GTA GTG",
    "A": "GCT GCC GCA GCG", "D": "GAT GAC", "E": "GAA GAG", "G": "GGT GGC GGA GGG",
}
CODONS = {aa: codons.split() for aa, codons in STANDARD_CODONS.items()}
STOPS = ("TAA", "TAG", "TGA")
# The vertebrate mitochondrial code (table 2): TGA is W, ATA is M, AGA and AGG end the protein.
MITOCHONDRIAL_CODONS = {**CODONS, "W": ["TGG", "TGA"], "M": ["ATG", "ATA"], "I": ["ATT", "ATC"],
                        "R": ["CGT", "CGC", "CGA", "CGG"]}
MITOCHONDRIAL_STOPS = ("TAA", "TAG", "AGA", "AGG")
# Each gene of the batch: its genome's NCBI table, codons and stop codons (plastids: table 11,
# whose codons are the standard code's).
GENOMES = {"mitochondrial": (2, MITOCHONDRIAL_CODONS, MITOCHONDRIAL_STOPS),
           "plastid": (11, CODONS, STOPS)}
GENES = {"cox1": "mitochondrial", "cytb": "mitochondrial", "nad4": "mitochondrial",
         "rbcL": "plastid", "matK": "plastid"}


class Generator:
    def __init__(self, seed: int) -> None:
        self.rng = random.Random(seed)
        self.letters = list(AA_FREQUENCIES)
        self.weights = list(AA_FREQUENCIES.values())

    def residues(self, count: int) -> list[str]:
        return self.rng.choices(self.letters, self.weights, k=count)

    def mutate(self, row: list[str], rate: float) -> list[str]:
        """Substitutions at the given rate; the start codon's M is kept."""
        return [aa if i == 0 or aa == "-" or self.rng.random() > rate else self.residues(1)[0]
                for i, aa in enumerate(row)]

    def delete_runs(self, row: list[str], runs: int) -> list[str]:
        row = list(row)
        for _ in range(runs):
            length = self.rng.randint(1, 8)
            start = self.rng.randrange(1, len(row) - length)
            row[start:start + length] = ["-"] * length
        return row

    def alignment(self, taxa: int, length: int, clades: int) -> list[list[str]]:
        """Rows of one locus: clades, then taxa within clades, then indels."""
        ancestor = ["M"] + self.residues(length - 1)
        rows = []
        for _ in range(clades):
            clade = self.mutate(ancestor, 0.12)
            rows += [self.delete_runs(self.mutate(clade, 0.05), self.rng.randint(0, 2))
                     for _ in range(taxa // clades)]
        return self.insert_columns(rows, self.rng.randint(2, 4))

    def insert_columns(self, rows: list[list[str]], insertions: int) -> list[list[str]]:
        """Insertions: a run of columns where only a few taxa have residues."""
        for _ in range(insertions):
            at = self.rng.randrange(1, len(rows[0]))
            width = self.rng.randint(1, 6)
            owners = set(self.rng.sample(range(len(rows)), self.rng.randint(1, 3)))
            for index, row in enumerate(rows):
                row[at:at] = self.residues(width) if index in owners else ["-"] * width
        return rows

    def cds(self, row: list[str], codons: dict[str, list[str]] = CODONS,
            stops: tuple[str, ...] = STOPS) -> str:
        chosen = [self.rng.choice(codons[aa]) for aa in row if aa != "-"]
        return "".join(chosen) + self.rng.choice(stops)


def fasta(records: list[tuple[str, str]], width: int = 60) -> str:
    out = []
    for header, seq in records:
        out.append(f">{header}\n")
        out.extend(seq[i:i + width] + "\n" for i in range(0, len(seq), width))
    return "".join(out)


def clustal(records: list[tuple[str, str]], width: int = 60) -> str:
    pad = max(len(name) for name, _ in records) + 6
    out = ["CLUSTAL W (1.83) multiple sequence alignment\n\n"]
    for start in range(0, len(records[0][1]), width):
        out.append("\n")
        out.extend(f"{name.ljust(pad)}{seq[start:start + width]}\n" for name, seq in records)
        out.append("\n")
    return "".join(out)


def make_locus(gen: Generator, names: list[str], length: int, clades: int,
               genome: str = "plastid") -> tuple[list, list]:
    rows = gen.alignment(len(names), length, clades)
    _, codons, stops = GENOMES[genome]
    proteins = [(name, "".join(row)) for name, row in zip(names, rows)]
    cds = [(name, gen.cds(row, codons, stops)) for name, row in zip(names, rows)]
    return proteins, cds


def shuffled_with_descriptions(gen: Generator, cds: list[tuple[str, str]],
                               gene: str) -> list[tuple[str, str]]:
    """CDS files rarely come in alignment order and carry annotation in headers."""
    records = [(f"{name} gene={gene} [annotated CDS]", seq) for name, seq in cds]
    gen.rng.shuffle(records)
    return records


def write_single(gen: Generator, folder: Path) -> None:
    names = [f"sp{i:02d}" for i in range(1, 21)]
    proteins, cds = make_locus(gen, names, 290, clades=4)
    # Two soft-masked (lower-case) CDS and one IUPAC ambiguity at a synonymous site.
    cds[3] = (cds[3][0], cds[3][1].lower())
    cds[11] = (cds[11][0], cds[11][1].lower())
    name, seq = cds[7]
    third = 3 * 5 + 2  # third base of the sixth codon
    cds[7] = (name, seq[:third] + ("R" if seq[third] in "AG" else "Y") + seq[third + 1:])
    folder.mkdir(parents=True, exist_ok=True)
    (folder / "protein_aln.fasta").write_text(fasta(proteins))
    (folder / "cds.fasta").write_text(fasta(shuffled_with_descriptions(gen, cds, "atp6")))


def break_one_codon(cds: tuple[str, str], residue: int) -> tuple[str, str]:
    """A non-synonymous change: the codon of one residue turned into TGG (W) or TTT (F)."""
    name, seq = cds
    start = 3 * residue
    new = "TTT" if seq[start:start + 3] == "TGG" else "TGG"
    return name, seq[:start] + new + seq[start + 3:]


def write_batch(gen: Generator, folder: Path) -> None:
    """The loci, and a manifest per genome: a batch runs under one genetic code."""
    manifests = {genome: ["# protein alignment\tCDS\toutput\n"] for genome in GENOMES}
    for number, (gene, genome) in enumerate(GENES.items(), start=1):
        names = [f"sp{i:02d}" for i in range(1, 9)]
        proteins, cds = make_locus(gen, names, gen.rng.randint(120, 220), 2, genome)
        if gene == "nad4":  # one record whose CDS does not encode its protein
            cds[2] = break_one_codon(cds[2], 40)
        if gene == "matK":  # a CDS record that is missing: its taxon is left out
            cds = cds[:-1]
        stem = f"locus{number}_{gene}"
        pep_name = f"{stem}.aln" if gene == "cytb" else f"{stem}.fasta"
        (folder / "protein").mkdir(parents=True, exist_ok=True)
        (folder / "cds").mkdir(parents=True, exist_ok=True)
        text = clustal(proteins) if gene == "cytb" else fasta(proteins)
        (folder / "protein" / pep_name).write_text(text)
        (folder / "cds" / f"{stem}.fasta").write_text(
            fasta(shuffled_with_descriptions(gen, cds, gene)))
        manifests[genome].append(f"protein/{pep_name}\tcds/{stem}.fasta\tout/{stem}.phy\n")
    for genome, lines in manifests.items():
        (folder / f"{genome}.tsv").write_text("".join(lines))


def main() -> None:
    root = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent
    gen = Generator(SEED)
    write_single(gen, root / "single")
    write_batch(gen, root / "batch")


if __name__ == "__main__":
    main()
