"""How often the table hint ("all N masked codons fit table 2; try -t 2") fires, and whether it
fires where it should: loci of the standard code given a few random mismatches or a wrong
pairing (each hint there a false alarm), and loci of vertebrate mitochondria run under table 1
(each hint there a hit).

    .venv/bin/python benchmarks/bench_table_hint.py [--loci 2000] [--seed 1]

Each locus (10 records of 40-400 residues, from generate.py) is run by the installed command,
in this process, and counted as hinted when its standard error suggests another table.
"""

from __future__ import annotations

import argparse
import contextlib
import io
import random
import sys
import tempfile
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from generate import CODONS, Record, genetic_code, generate  # noqa: E402

from ntpepmap_cli.command.main import main as ntpepmap  # noqa: E402

STANDARD = genetic_code(1)
RECORDS = 10


def _locus(rng: random.Random, table: int) -> list[Record]:
    return generate(RECORDS, rng.randint(40, 400), seed=rng.randrange(1 << 30), table=table)


def _replace_codon(record: Record, index: int, codon: str) -> Record:
    return record._replace(cds=record.cds[:3 * index] + codon + record.cds[3 * index + 3:])


def with_random_mismatches(rng: random.Random, records: list[Record], count: int) -> list[Record]:
    """`count` residues, in records drawn at random, given any codon of another residue (a stop
    codon included): what a sequencing error or a wrong exon leaves."""
    records = list(records)
    for _ in range(count):
        at = rng.randrange(len(records))
        residues = records[at].protein_row.replace("-", "")
        index = rng.randrange(len(residues))
        others = [codon for codon, letter in zip(CODONS, STANDARD) if letter != residues[index]]
        records[at] = _replace_codon(records[at], index, rng.choice(others))
    return records


def with_wrong_pairing(rng: random.Random, records: list[Record]) -> list[Record]:
    """One record given the CDS of an unrelated protein of its length."""
    records = list(records)
    at = rng.randrange(len(records))
    residues = len(records[at].protein_row.replace("-", ""))
    stranger = generate(1, residues, seed=rng.randrange(1 << 30), gap_fraction=0.0)[0]
    records[at] = records[at]._replace(cds=stranger.cds)
    return records


def is_hinted(records: list[Record], folder: Path) -> bool:
    (folder / "pep.fa").write_text("".join(f">{r.name}\n{r.protein_row}\n" for r in records))
    (folder / "cds.fa").write_text("".join(f">{r.name}\n{r.cds}\n" for r in records))
    said = io.StringIO()
    with contextlib.redirect_stderr(said):
        ntpepmap([str(folder / "pep.fa"), str(folder / "cds.fa"), "-o", str(folder / "out.fa")])
    return "; try -t " in said.getvalue() or ": try -t " in said.getvalue()


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--loci", type=int, default=2000, help="loci per case")
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    rng = random.Random(args.seed)
    cases = [(f"table 1, {count} random mismatch(es)", 1,
              lambda records, count=count: with_random_mismatches(rng, records, count))
             for count in (1, 2, 3, 4, 8)]
    cases.append(("table 1, a wrong pairing", 1, lambda records: with_wrong_pairing(rng, records)))
    cases.append(("table 2 data (TGA for W, ATA for M) run under table 1", 2, lambda records: records))
    print(f"| case ({args.loci} loci of {RECORDS} records each) | hinted | share |")
    print("|---|---|---|")
    with tempfile.TemporaryDirectory() as folder:
        for name, table, change in cases:
            hinted = sum(is_hinted(change(_locus(rng, table)), Path(folder)) for _ in range(args.loci))
            print(f"| {name} | {hinted} | {100 * hinted / args.loci:.2f} % |", flush=True)


if __name__ == "__main__":
    main()
