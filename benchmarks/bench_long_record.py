"""One long CDS record read from gzip against the same file plain: time and peak memory.

    python benchmarks/bench_long_record.py [--megabytes 200] [--repeat 5] [--wrap 60]

A single record of random nucleotides, written plain and gzipped at level 6, is
read by the tool's reader, each reading in a fresh process that reports its
own time and maximum resident set; the two readings alternate. Each process
checks the record it read against the generator's before reporting. Prints the
medians (wall time, CPU time of all threads, peak memory) and the two ratios, gzip / plain (targets: time at most 1.5, memory at
most 1.25).
"""
from __future__ import annotations

import argparse
import hashlib
import json
import os
import subprocess
import sys
import tempfile
import zlib
from pathlib import Path
from statistics import median

from common import machine_description, print_table

READ_ONE = """
import hashlib, json, resource, sys, time
from ntpepmap_cli.pairing import NUCLEOTIDE_LETTERS
from ntpepmap_cli.seqio import read_fasta_marked
def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime
start, start_cpu = time.perf_counter(), cpu()
records, marked = read_fasta_marked(sys.argv[1], NUCLEOTIDE_LETTERS)
seconds, cpu_seconds = time.perf_counter() - start, cpu() - start_cpu
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss  # before the check's own copy
(name, sequence), = records
digest = hashlib.sha256(sequence.encode()).hexdigest()
print(json.dumps({"seconds": seconds, "cpu_seconds": cpu_seconds, "max_rss_kb": peak, "digest": digest, "name": name, "marked": marked}))
"""


def write_inputs(megabytes: int, wrap: int, directory: Path) -> tuple[Path, Path, str]:
    """The plain and the gzipped file, and the digest of the record's letters. Written a
    megabyte at a time: a child process's peak memory starts at its parent's."""
    to_letters = bytes(b"ACGT"[byte % 4] for byte in range(256))
    line = wrap or 1_000_000
    digest = hashlib.sha256()
    compressor = zlib.compressobj(6, wbits=31)
    plain, packed = directory / "long.fasta", directory / "long.fasta.gz"
    with open(plain, "wb") as plain_file, open(packed, "wb") as packed_file:
        def write(text: bytes) -> None:
            plain_file.write(text)
            packed_file.write(compressor.compress(text))

        write(b">long one long record\n")
        for _ in range(megabytes):
            letters = os.urandom(1_000_000 // line * line).translate(to_letters)
            digest.update(letters)
            write(b"".join(letters[start:start + line] + (b"\n" if wrap else b"")
                           for start in range(0, len(letters), line)))
        write(b"" if wrap else b"\n")
        packed_file.write(compressor.flush())
    return plain, packed, digest.hexdigest()


def read_in_a_process(path: Path, digest: str) -> tuple[float, float, int]:
    """Wall and CPU seconds and peak resident kilobytes of one reading, its record checked."""
    done = subprocess.run([sys.executable, "-c", READ_ONE, str(path)], capture_output=True, text=True, check=True)
    figures = json.loads(done.stdout)
    assert (figures["name"], figures["digest"], figures["marked"]) == ("long", digest, []), path
    return figures["seconds"], figures["cpu_seconds"], figures["max_rss_kb"]


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--megabytes", type=int, default=200)
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--wrap", type=int, default=60, help="letters per line (0: one line)")
    args = parser.parse_args(argv)

    with tempfile.TemporaryDirectory() as folder:
        plain, packed, digest = write_inputs(args.megabytes, args.wrap, Path(folder))
        runs: dict[str, list[tuple[float, float, int]]] = {"plain": [], "gzip -6": []}
        for _ in range(args.repeat):
            runs["plain"].append(read_in_a_process(plain, digest))
            runs["gzip -6"].append(read_in_a_process(packed, digest))
        packed_size = packed.stat().st_size

    seconds = {name: median(s for s, _, _ in figures) for name, figures in runs.items()}
    cpu = {name: median(s for _, s, _ in figures) for name, figures in runs.items()}
    peak = {name: median(kb for _, _, kb in figures) / 1024 for name, figures in runs.items()}
    print(f"# One {args.megabytes} MB record (lines of {args.wrap or 'any'}), gzip file {packed_size / 1e6:.0f} MB, "
          f"median of {args.repeat}; {machine_description()}\n")
    print_table(["reading", "wall s", "CPU s", "peak MB"],
                [[name, f"{seconds[name]:.2f}", f"{cpu[name]:.2f}", f"{peak[name]:.0f}"] for name in runs])
    print(f"\ngzip / plain: time {seconds['gzip -6'] / seconds['plain']:.2f} (target 1.5), "
          f"peak memory {peak['gzip -6'] / peak['plain']:.2f} (target 1.25)")


if __name__ == "__main__":
    main()
