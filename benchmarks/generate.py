"""Deterministic generator of protein alignments, their coding sequences and
the codon alignment that ntpepmap must produce from them.

Each record gets a protein row of natural amino-acid composition with
synonymous codons drawn at random, gap runs, and optionally IUPAC-ambiguous
codons that still encode their residue, a terminal stop codon, or one codon
that encodes another residue (a mismatch the threader must report).

Importable (``generate``, ``SIZES``, ``as_seqs``, ``write_fasta_set``) and a
command line tool:

    python benchmarks/generate.py L data/L --ambiguous 0.01
    python benchmarks/generate.py L data/L-mrna --mrna
"""
from __future__ import annotations

import argparse
import random
from pathlib import Path
from typing import Iterable, NamedTuple

BASES = "TCAG"
CODONS = tuple(a + b + c for a in BASES for b in BASES for c in BASES)
# The standard code, one letter per codon in TCAG order (TTT first, GGG last).
STANDARD_CODE = "FFLLSSSSYY**CC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"

# Every built-in table as its reassignments of the standard code.
TABLE_CHANGES: dict[int, str] = {
    1: "", 2: "TGA:W ATA:M AGA:* AGG:*",
    3: "TGA:W CTT:T CTC:T CTA:T CTG:T ATA:M", 4: "TGA:W",
    5: "TGA:W ATA:M AGA:S AGG:S", 6: "TAA:Q TAG:Q",
    9: "TGA:W AAA:N AGA:S AGG:S", 10: "TGA:C", 11: "", 12: "CTG:S",
    13: "TGA:W ATA:M AGA:G AGG:G", 14: "TAA:Y TGA:W AAA:N AGA:S AGG:S",
    15: "TAG:Q", 16: "TAG:L", 21: "TGA:W ATA:M AAA:N AGA:S AGG:S",
    22: "TCA:* TAG:L", 23: "TTA:*", 24: "TGA:W AGA:S AGG:K", 25: "TGA:G",
    26: "CTG:A", 27: "TAA:Q TAG:Q TGA:W", 28: "TAA:Q TAG:Q TGA:W",
    29: "TAA:Y TAG:Y", 30: "TAA:E TAG:E", 31: "TAA:E TAG:E TGA:W",
    32: "TAG:W", 33: "TAA:Y TGA:W AGA:S AGG:K",
}

# Amino-acid composition of UniProtKB/Swiss-Prot, in percent.
NATURAL_FREQUENCIES = {
    "A": 8.25, "R": 5.53, "N": 4.06, "D": 5.45, "C": 1.37, "Q": 3.93,
    "E": 6.75, "G": 7.07, "H": 2.27, "I": 5.96, "L": 9.66, "K": 5.84,
    "M": 2.42, "F": 3.86, "P": 4.70, "S": 6.56, "T": 5.34, "W": 1.08,
    "Y": 2.92, "V": 6.87,
}

IUPAC = {
    "R": "AG", "Y": "CT", "S": "GC", "W": "AT", "K": "GT", "M": "AC",
    "B": "CGT", "D": "AGT", "H": "ACT", "V": "ACG", "N": "ACGT",
}

# name: (records, alignment columns)
SIZES = {"S": (200, 500), "M": (2_000, 1_000), "L": (10_000, 1_000), "long": (20, 100_000)}

GAP_RUN_MEAN = 4.0

# Lengths of the untranslated regions around a CDS given as an mRNA, in nucleotides.
FIVE_PRIME_UTR = (20, 300)
THREE_PRIME_UTR = (50, 500)


class Record(NamedTuple):
    name: str
    protein_row: str  # aligned, '-' for gaps
    cds: str  # unaligned coding sequence
    expected_row: str  # what the threader returns for this record
    reported: bool  # the threader prints a report for this record


def genetic_code(table: int) -> str:
    """The table as 64 letters in TCAG codon order."""
    letters = list(STANDARD_CODE)
    for change in TABLE_CHANGES[table].split():
        codon, letter = change.split(":")
        letters[CODONS.index(codon)] = letter
    return "".join(letters)


def codon_lists(table: int) -> dict[str, list[str]]:
    """Codons of each residue letter and of '*', in TCAG order."""
    lists: dict[str, list[str]] = {}
    for codon, letter in zip(CODONS, genetic_code(table)):
        lists.setdefault(letter, []).append(codon)
    return lists


def resolves_to(triplet: str, codon: str) -> bool:
    return all(t == c or c in IUPAC.get(t, "") for t, c in zip(triplet, codon))


def threaded_codon(triplet: str, allowed: list[str]) -> str:
    """What the threader writes for an ambiguous triplet that encodes its
    residue: the triplet itself when it holds N, else the first allowed codon
    it resolves to."""
    if "N" in triplet:
        return triplet
    return next(codon for codon in allowed if resolves_to(triplet, codon))


def synonymous_ambiguities(table: int) -> dict[str, list[tuple[str, str]]]:
    """For each sense codon, the third-position ambiguous triplets whose every
    resolution keeps the residue, each with what the threader returns for it."""
    code = dict(zip(CODONS, genetic_code(table)))
    lists = codon_lists(table)
    result: dict[str, list[tuple[str, str]]] = {}
    for codon, residue in code.items():
        if residue == "*":
            continue
        options = []
        for letter, bases in IUPAC.items():
            if codon[2] not in bases:
                continue
            if all(code[codon[:2] + base] == residue for base in bases):
                triplet = codon[:2] + letter
                options.append((triplet, threaded_codon(triplet, lists[residue])))
        result[codon] = options
    return result


class _Tokens:
    """One character per codon, so that a whole record is drawn with one
    ``choices`` call and turned into protein and DNA with ``str.translate``."""

    def __init__(self, table: int):
        code = genetic_code(table)
        self.chars = [chr(0x100 + i) for i in range(64)]
        sense = [i for i, letter in enumerate(code) if letter != "*"]
        synonyms = {letter: code.count(letter) for letter in set(code)}
        self.sense_chars = [self.chars[i] for i in sense]
        self.weights = [NATURAL_FREQUENCIES[code[i]] / synonyms[code[i]] for i in sense]
        self.to_residue = {ord(self.chars[i]): code[i] for i in range(64)}
        self.to_codon = {ord(self.chars[i]): CODONS[i] for i in range(64)}


def _gap_runs(rng: random.Random, residues: int, gaps: int) -> list[tuple[int, int]]:
    """Runs of gaps as (residue index they precede, length), sorted."""
    lengths = []
    left = gaps
    while left > 0:
        run = min(left, 1 + int(rng.expovariate(1.0 / (GAP_RUN_MEAN - 1.0))))
        lengths.append(run)
        left -= run
    starts = sorted(rng.randint(0, residues) for _ in lengths)
    return list(zip(starts, lengths))


def _insert_gaps(units: str, width: int, runs: list[tuple[int, int]], gap: str) -> str:
    pieces = []
    previous = 0
    for index, length in runs:
        pieces.append(units[previous * width:index * width])
        pieces.append(gap * (length * width))
        previous = index
    pieces.append(units[previous * width:])
    return "".join(pieces)


_DROPPED = "!!!"  # stands for a codon the threader leaves out


def _record(rng, name, columns, tokens, lists, ambiguities, table_code,
            gap_fraction, ambiguous_fraction, stop, mismatch) -> Record:
    gaps = min(columns - 1, round(columns * gap_fraction * rng.uniform(0.5, 1.5)))
    residues = columns - gaps
    drawn = "".join(rng.choices(tokens.sense_chars, tokens.weights, k=residues))
    protein = drawn.translate(tokens.to_residue)
    cds = drawn.translate(tokens.to_codon)

    changes: dict[int, tuple[str, str]] = {}  # residue index -> (cds codon, expected)
    wanted = _stochastic_round(rng, ambiguous_fraction * residues)
    for _ in range(wanted * 4):
        if len(changes) == wanted:
            break
        index = rng.randrange(residues)
        options = ambiguities[cds[3 * index:3 * index + 3]]
        if options and index not in changes:
            changes[index] = rng.choice(options)
    if mismatch:
        index = rng.randrange(residues)
        residue = protein[index]
        others = [c for c, letter in zip(CODONS, table_code) if letter not in (residue, "*")]
        changes[index] = (rng.choice(others), _DROPPED)

    cds_pieces, expected_pieces = [], []
    previous = 0
    for index in sorted(changes):
        cds_pieces.append(cds[3 * previous:3 * index])
        expected_pieces.append(cds[3 * previous:3 * index])
        cds_pieces.append(changes[index][0])
        expected_pieces.append(changes[index][1])
        previous = index + 1
    cds_pieces.append(cds[3 * previous:])
    expected_pieces.append(cds[3 * previous:])
    cds = "".join(cds_pieces)
    expected = "".join(expected_pieces)
    if stop:
        cds += rng.choice(lists["*"])

    runs = _gap_runs(rng, residues, gaps)
    row = _insert_gaps(protein, 1, runs, "-")
    expected_row = _insert_gaps(expected, 3, runs, "-").replace(_DROPPED, "")
    return Record(name, row, cds, expected_row, reported=mismatch or stop)


def _stochastic_round(rng: random.Random, value: float) -> int:
    whole = int(value)
    return whole + (rng.random() < value - whole)


def generate(records: int, columns: int, *, seed: int = 1, table: int = 1,
             gap_fraction: float = 0.15, ambiguous_fraction: float = 0.0,
             stop_fraction: float = 0.0, mismatch_fraction: float = 0.0) -> list[Record]:
    """Records of one alignment; the same arguments give the same records."""
    rng = random.Random(seed)
    tokens = _Tokens(table)
    lists = codon_lists(table)
    if stop_fraction and "*" not in lists:
        raise ValueError(f"table {table} has no stop codons")
    ambiguities = synonymous_ambiguities(table)
    table_code = genetic_code(table)
    width = len(str(records))
    return [
        _record(rng, f"seq{i:0{width}d}", columns, tokens, lists, ambiguities, table_code,
                gap_fraction, ambiguous_fraction,
                stop=rng.random() < stop_fraction, mismatch=rng.random() < mismatch_fraction)
        for i in range(1, records + 1)
    ]


def with_mismatches(records: list[Record], fraction: float, *, seed: int = 1,
                    table: int = 1) -> list[Record]:
    """The same records, a fraction of the clean ones given one codon of another
    residue: every other byte stays, so timings differ by the mismatches alone."""
    rng = random.Random(seed)
    code = genetic_code(table)
    changed = []
    for record in records:
        residues = len(record.cds) // 3
        if record.reported or residues == 0 or rng.random() >= fraction:
            changed.append(record)
            continue
        index = rng.randrange(residues)
        column = _column_of_residue(record.protein_row, index)
        residue = record.protein_row[column]
        others = [c for c, letter in zip(CODONS, code) if letter not in (residue, "*")]
        cds = record.cds[:3 * index] + rng.choice(others) + record.cds[3 * index + 3:]
        row = record.expected_row[:3 * column] + record.expected_row[3 * column + 3:]
        changed.append(record._replace(cds=cds, expected_row=row, reported=True))
    return changed


def _column_of_residue(row: str, index: int) -> int:
    seen = -1
    for column, letter in enumerate(row):
        if letter != "-":
            seen += 1
            if seen == index:
                return column
    raise IndexError(index)


def as_mrna(records: Iterable[Record], *, seed: int = 1, table: int = 1) -> list[Record]:
    """The same records with every CDS given as an mRNA: a random 5' UTR of
    20-300 nt, the CDS, a stop codon (unless the CDS already ends in one) and a
    random 3' UTR of 50-500 nt. The UTRs are uniform random bases, so they hold
    start codons and stops in every frame.

    ``expected_row`` and ``reported`` describe the coding region a locator must
    find, the stop codon left out: what threading that region gives. Given the
    whole mRNA, ``pepthread`` reports every record."""
    rng = random.Random(seed)
    stops = codon_lists(table).get("*")
    if not stops:
        raise ValueError(f"table {table} has no stop codons")
    changed = []
    for record in records:
        cds = record.cds if record.cds[-3:] in stops else record.cds + rng.choice(stops)
        five_prime = "".join(rng.choices("ACGT", k=rng.randint(*FIVE_PRIME_UTR)))
        three_prime = "".join(rng.choices("ACGT", k=rng.randint(*THREE_PRIME_UTR)))
        # Within the coding region only a mismatched codon, which leaves the row short, is reported.
        mismatched = len(record.expected_row) < 3 * len(record.protein_row)
        changed.append(record._replace(cds=five_prime + cds + three_prime, reported=mismatched))
    return changed


def generate_size(size: str, **options) -> list[Record]:
    records, columns = SIZES[size]
    return generate(records, columns, **options)


def as_seqs(records: Iterable[Record]) -> dict:
    """The ``seqs`` argument of ``ntpepmap.pepthread``."""
    return {r.name: ((r.name, r.protein_row), (0, r.name, r.cds)) for r in records}


def expected_output(records: Iterable[Record]) -> str:
    """What ``ntpepmap.pepthread`` returns for ``as_seqs(records)``."""
    return "".join(f"{r.name}\n{r.expected_row}\n" for r in records)


def _fasta(pairs: Iterable[tuple[str, str]], wrap: int) -> str:
    lines = []
    for name, sequence in pairs:
        lines.append(">" + name)
        if wrap:
            lines.extend(sequence[i:i + wrap] for i in range(0, len(sequence), wrap))
        else:
            lines.append(sequence)
    return "\n".join(lines) + "\n"


def write_fasta_set(records: list[Record], directory: Path, wrap: int = 0) -> dict[str, Path]:
    """Writes protein.fasta, cds.fasta and expected.fasta; returns their paths."""
    directory = Path(directory)
    directory.mkdir(parents=True, exist_ok=True)
    paths = {
        "protein": directory / "protein.fasta",
        "cds": directory / "cds.fasta",
        "expected": directory / "expected.fasta",
    }
    paths["protein"].write_text(_fasta(((r.name, r.protein_row) for r in records), wrap))
    paths["cds"].write_text(_fasta(((r.name, r.cds) for r in records), wrap))
    paths["expected"].write_text(_fasta(((r.name, r.expected_row) for r in records), wrap))
    return paths


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("size", help=f"one of {', '.join(SIZES)} or RECORDSxCOLUMNS")
    parser.add_argument("directory", type=Path)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--table", type=int, default=1, choices=sorted(TABLE_CHANGES))
    parser.add_argument("--gaps", type=float, default=0.15, help="fraction of gap cells")
    parser.add_argument("--ambiguous", type=float, default=0.0,
                        help="fraction of codons given a synonymous IUPAC letter")
    parser.add_argument("--stops", type=float, default=0.0,
                        help="fraction of records whose CDS ends in a stop codon")
    parser.add_argument("--mismatches", type=float, default=0.0,
                        help="fraction of records with one codon of another residue")
    parser.add_argument("--mrna", action="store_true",
                        help="give every CDS as an mRNA: 5' UTR, CDS, stop codon, 3' UTR")
    parser.add_argument("--wrap", type=int, default=0, help="FASTA line width (0: one line)")
    args = parser.parse_args(argv)
    if args.size in SIZES:
        records, columns = SIZES[args.size]
    else:
        records, columns = (int(n) for n in args.size.lower().split("x"))
    data = generate(records, columns, seed=args.seed, table=args.table,
                    gap_fraction=args.gaps, ambiguous_fraction=args.ambiguous,
                    stop_fraction=args.stops, mismatch_fraction=args.mismatches)
    if args.mrna:
        data = as_mrna(data, seed=args.seed, table=args.table)
    for kind, path in write_fasta_set(data, args.directory, args.wrap).items():
        print(f"{kind}: {path}")


if __name__ == "__main__":
    main()
