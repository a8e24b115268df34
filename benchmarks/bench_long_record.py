"""One long CDS record read from gzip against the same file plain: time and peak memory.

    python benchmarks/bench_long_record.py [--megabytes 200] [--repeat 5] [--wrap 60]

A locus of one record: a random protein of a third of the CDS's length and its
CDS of random sense codons, the CDS written plain and gzipped at level 6. Each
measure runs in a fresh process, plain and gzip alternating: the CDS read by
the tool's reader alone (the process checks the record it read against the
generator's), and the whole command on the locus (its output checked once).
Prints medians of wall time, CPU time of all threads and peak resident memory,
and the ratios gzip / plain (targets: time at most 1.5, memory at most 1.25).
"""
from __future__ import annotations

import argparse
import hashlib
import json
import os
import subprocess
import sys
import tempfile
import time
import zlib
from pathlib import Path
from statistics import median

from common import machine_description, print_table
from generate import CODONS, STANDARD_CODE

READ_CDS = """
import hashlib, json, resource, sys, time
from ntpepmap_cli.pairing.identifiers import NUCLEOTIDE_LETTERS
from ntpepmap_cli.reading.input_files import read_fasta_marked
def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime
start, start_cpu = time.perf_counter(), cpu()
records, marked = read_fasta_marked(sys.argv[1], NUCLEOTIDE_LETTERS)
seconds, cpu_seconds = time.perf_counter() - start, cpu() - start_cpu
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss  # before the check's own copy
(name, sequence), = records
digest = hashlib.sha256(sequence.encode()).hexdigest()
print(json.dumps({"seconds": seconds, "cpu_seconds": cpu_seconds, "max_rss_kb": peak, "digest": digest,
                  "name": name, "marked": marked}))
"""

SENSE = [codon.encode() for codon, residue in zip(CODONS, STANDARD_CODE) if residue != "*"]
RESIDUES = bytes(ord(STANDARD_CODE[CODONS.index(codon.decode())]) for codon in SENSE)
CHUNK = 1 << 20  # codons generated at a time: a child process's peak memory starts at its parent's


def write_locus(megabytes: int, wrap: int, directory: Path) -> tuple[dict[str, Path], str]:
    """The protein, the CDS plain and gzipped, and the digest of the CDS's letters."""
    pick = [bytes(RESIDUES[byte % len(SENSE)] for byte in range(256))]
    pick += [bytes(SENSE[byte % len(SENSE)][place] for byte in range(256)) for place in range(3)]
    paths = {"protein": directory / "protein.fasta", "plain": directory / "cds.fasta",
             "gzip -6": directory / "cds.fasta.gz"}
    digest = hashlib.sha256()
    compressor = zlib.compressobj(6, wbits=31)
    line = wrap or 3 * CHUNK
    with open(paths["protein"], "wb") as protein, open(paths["plain"], "wb") as plain, \
            open(paths["gzip -6"], "wb") as packed:
        def write_cds(text: bytes) -> None:
            plain.write(text)
            packed.write(compressor.compress(text))

        protein.write(b">long\n")
        write_cds(b">long one long record\n")
        pending = b""
        for _ in range(megabytes * 1_000_000 // (3 * CHUNK)):
            draw = os.urandom(CHUNK)
            protein.write(draw.translate(pick[0]))
            cds = bytearray(3 * CHUNK)
            for place in range(3):
                cds[place::3] = draw.translate(pick[place + 1])
            digest.update(cds)
            text = pending + cds
            whole = len(text) - len(text) % line
            write_cds(b"".join(text[start:start + line] + b"\n" for start in range(0, whole, line)))
            pending = text[whole:]
        protein.write(b"\n")
        write_cds(pending + b"\n" if pending else b"")
        packed.write(compressor.flush())
    return paths, digest.hexdigest()


def read_cds(path: Path, digest: str) -> tuple[float, float, int]:
    """Wall and CPU seconds and peak resident kilobytes of the CDS read alone, its record checked."""
    done = subprocess.run([sys.executable, "-c", READ_CDS, str(path)], capture_output=True, text=True, check=True)
    figures = json.loads(done.stdout)
    assert (figures["name"], figures["digest"], figures["marked"]) == ("long", digest, []), path
    return figures["seconds"], figures["cpu_seconds"], figures["max_rss_kb"]


def run_command(paths: dict[str, Path], cds: str, output: Path) -> tuple[float, float, int]:
    """Wall and CPU seconds and peak resident kilobytes of the whole command on the locus."""
    start = time.perf_counter()
    child = subprocess.Popen([sys.executable, "-m", "ntpepmap_cli", str(paths["protein"]), str(paths[cds]),
                              "-o", str(output)], stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(child.pid, 0)
    seconds = time.perf_counter() - start
    child.returncode = os.waitstatus_to_exitcode(status)
    assert child.returncode == 0, (cds, child.returncode)
    return seconds, usage.ru_utime + usage.ru_stime, usage.ru_maxrss


def output_digest(output: Path) -> str:
    """The digest of the output's letters, read a megabyte at a time (its row is one line)."""
    digest = hashlib.sha256()
    with open(output, "rb") as text:
        assert text.read(6) == b">long\n"
        for block in iter(lambda: text.read(CHUNK), b""):
            digest.update(block.replace(b"\n", b""))
    return digest.hexdigest()


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--megabytes", type=int, default=200, help="CDS letters, in MB")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--wrap", type=int, default=60, help="CDS letters per line (0: one line)")
    args = parser.parse_args(argv)

    measures = {"CDS read": read_cds, "whole command": run_command}
    figures: dict[tuple[str, str], list[tuple[float, float, int]]] = {}
    with tempfile.TemporaryDirectory() as folder:
        paths, digest = write_locus(args.megabytes, args.wrap, Path(folder))
        output = Path(folder) / "out.fasta"
        for cds in ("plain", "gzip -6"):
            run_command(paths, cds, output)
            assert output_digest(output) == digest, cds
        for _ in range(args.repeat):
            for measure in measures:
                for cds in ("plain", "gzip -6"):
                    figure = read_cds(paths[cds], digest) if measure == "CDS read" else \
                        run_command(paths, cds, output)
                    figures.setdefault((measure, cds), []).append(figure)
        packed_size = paths["gzip -6"].stat().st_size

    medians = {key: [median(run[index] for run in runs) for index in range(3)] for key, runs in figures.items()}
    print(f"# One record of {args.megabytes} MB of CDS (lines of {args.wrap or 'any length'}), gzip file "
          f"{packed_size / 1e6:.0f} MB, median of {args.repeat}; {machine_description()}\n")
    print_table(["measure", "CDS", "wall s", "CPU s", "peak MB"],
                [[measure, cds, f"{wall:.2f}", f"{cpu:.2f}", f"{peak / 1024:.0f}"]
                 for (measure, cds), (wall, cpu, peak) in medians.items()])
    print()
    for measure in measures:
        (plain_wall, _, plain_peak), (gzip_wall, _, gzip_peak) = medians[measure, "plain"], medians[measure, "gzip -6"]
        print(f"{measure}, gzip / plain: time {gzip_wall / plain_wall:.2f} (target 1.5), "
              f"peak memory {gzip_peak / plain_peak:.2f} (target 1.25)")


if __name__ == "__main__":
    main()
