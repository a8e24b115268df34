"""Speed of the command-line tool's reader on generated data, all measured in one run.

    python benchmarks/bench_reader.py [--size L] [--repeat 9]

The CDS file of a generated size (one line per sequence, and wrapped at 60),
plain and gzipped at level 6, and the protein alignment, each read as the tool
reads it (mapped or decompressed, then parsed into records). Every reading is
checked against the generator's records before anything is timed. MB/s count
the uncompressed bytes of the file.
"""
from __future__ import annotations

import argparse
import gzip
import tempfile
import zlib
from pathlib import Path
from statistics import median

from ntpepmap_cli import _native
from ntpepmap_cli.reading.input_files import read_alignment, read_fasta_marked
from ntpepmap_cli.pairing.identifiers import NUCLEOTIDE_LETTERS

import generate
from common import interleaved_seconds, machine_description, print_table


def write_inputs(size: str, directory: Path) -> dict[str, Path]:
    records = generate.generate_size(size)
    paths = generate.write_fasta_set(records, directory / "plain")
    paths["cds wrapped"] = generate.write_fasta_set(records, directory / "wrapped", wrap=60)["cds"]
    paths["cds gzip"] = directory / "cds.fasta.gz"
    paths["cds gzip"].write_bytes(gzip.compress(paths["cds"].read_bytes(), compresslevel=6))
    return paths


def check_readings(size: str, paths: dict[str, Path]) -> None:
    records = generate.generate_size(size)
    cds = [(r.name, r.cds) for r in records]
    for name in ("cds", "cds wrapped", "cds gzip"):
        read, marked = read_fasta_marked(str(paths[name]), NUCLEOTIDE_LETTERS)
        assert read == cds and marked == [], name
    assert read_alignment(str(paths["protein"]), "auto") == [(r.name, r.protein_row) for r in records]


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size", default="L", choices=sorted(generate.SIZES))
    parser.add_argument("--repeat", type=int, default=9)
    args = parser.parse_args(argv)

    with tempfile.TemporaryDirectory() as folder:
        paths = write_inputs(args.size, Path(folder))
        check_readings(args.size, paths)
        cds_bytes = paths["cds"].read_bytes()
        packed = paths["cds gzip"].read_bytes()
        cases = {  # name: (function, uncompressed bytes it reads)
            "copy floor: the CDS bytes copied once": (lambda: bytearray(cds_bytes), len(cds_bytes)),
            "CDS parsed from bytes in memory": (
                lambda: _native.read_records(cds_bytes, "fasta", NUCLEOTIDE_LETTERS), len(cds_bytes)),
            "CDS, one line per sequence": (
                lambda: read_fasta_marked(str(paths["cds"]), NUCLEOTIDE_LETTERS), len(cds_bytes)),
            "CDS, wrapped at 60": (
                lambda: read_fasta_marked(str(paths["cds wrapped"]), NUCLEOTIDE_LETTERS),
                paths["cds wrapped"].stat().st_size),
            "CDS, gzip -6": (lambda: read_fasta_marked(str(paths["cds gzip"]), NUCLEOTIDE_LETTERS), len(cds_bytes)),
            "gzip -6 decompression alone, Python's zlib": (lambda: zlib.decompress(packed, 31), len(cds_bytes)),
            "protein alignment, FASTA": (lambda: read_alignment(str(paths["protein"]), "auto"),
                                         paths["protein"].stat().st_size),
        }
        times = interleaved_seconds({name: function for name, (function, _) in cases.items()}, args.repeat)

    print(f"# Reader, size {args.size}, median of {args.repeat}; {machine_description()}\n")
    rows = []
    for name, (_, size) in cases.items():
        seconds = median(times[name])
        rows.append([name, f"{size / 1e6:.1f}", f"{seconds * 1e3:.1f}", f"{size / seconds / 1e6:.0f}"])
    print_table(["reading", "MB", "ms", "MB/s"], rows)


if __name__ == "__main__":
    main()
