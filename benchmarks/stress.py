"""Stress run: one record of up to 100 million nucleotides and a dict of up to one million
short records, at four doubling sizes each, every size in a fresh interpreter.

Prints, per size, the call's best time of three, the process's peak memory above what it held before
the call (the input already built), that peak as a multiple of the input's size, and
the growth exponent of time over the sizes (1.0 is linear, 2.0 quadratic). Each result
is compared with the expected codon rows. Not a test: it fails only on a wrong result.

    python benchmarks/stress.py            # up to 100 M nucleotides / 1 M records
    python benchmarks/stress.py --quick    # a tenth of that (CI)
"""

from __future__ import annotations

import argparse
import json
import math
import random
import resource
import subprocess
import sys
import time

CODONS = {"M": "ATG", "K": "AAA", "W": "TGG", "L": "CTG", "S": "AGC", "R": "CGT", "E": "GAA", "*": "TAA"}
BLOCK_RESIDUES = 1000
REPEATS = 3


def block(seed: int) -> tuple[str, str, str]:
    """A peptide row with gaps, its nucleotides and its codon row."""
    rng = random.Random(seed)
    columns = [rng.choice("MKWLSRE-") for _ in range(BLOCK_RESIDUES)]
    peptide = "".join(columns)
    nucleotides = "".join(CODONS[c] for c in columns if c != "-")
    row = "".join("---" if c == "-" else CODONS[c] for c in columns)
    return peptide, nucleotides, row


def resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * resource.getpagesize()


def reset_peak() -> None:
    """Starts the peak resident size (VmHWM) afresh, so that it shows the call alone."""
    with open("/proc/self/clear_refs", "w") as clear_refs:
        clear_refs.write("5")


def peak_bytes() -> int:
    with open("/proc/self/status") as status:
        for line in status:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def one_long_record(nucleotides: int) -> tuple[dict, str, int]:
    peptide, nts, row = block(1)
    repeats = max(1, nucleotides // len(nts))
    seqs = {"long": (("h", peptide * repeats), (0, "h", nts * repeats))}
    return seqs, "long\n" + row * repeats + "\n", (len(peptide) + len(nts)) * repeats


def many_short_records(records: int) -> tuple[dict, str, int]:
    short = []
    for seed in range(16):
        peptide = block(seed)[0][:30]
        short.append((peptide, "".join(CODONS[c] for c in peptide if c != "-"),
                      "".join("---" if c == "-" else CODONS[c] for c in peptide)))
    seqs, expected, size = {}, [], 0
    for i in range(records):
        peptide, nts, row = short[i % len(short)]
        name = f"taxon_{i:07d}"
        seqs[name] = ((name, peptide), (i, name, nts))
        expected += [name, "\n", row, "\n"]
        size += len(name) * 3 + len(peptide) + len(nts)
    return seqs, "".join(expected), size


def measure(kind: str, size: int) -> dict:
    """Runs in the child: builds the input, then times one call."""
    import ntpepmap

    seqs, expected, input_bytes = (one_long_record if kind == "long" else many_short_records)(size)
    before = resident_bytes()
    reset_peak()
    start = time.perf_counter()
    result = ntpepmap.pepthread("stress", 1, seqs)
    seconds = time.perf_counter() - start
    peak = peak_bytes()
    if result != expected:
        raise SystemExit(f"{kind} {size}: wrong result")
    output_length = len(result)
    del result
    for _ in range(REPEATS - 1):  # the best of a few: the machine is shared
        start = time.perf_counter()
        ntpepmap.pepthread("stress", 1, seqs)
        seconds = min(seconds, time.perf_counter() - start)
    return {"seconds": seconds, "input": input_bytes, "extra_peak": max(0, peak - before), "output": output_length}


def run_child(kind: str, size: int) -> dict:
    completed = subprocess.run([sys.executable, __file__, "--child", kind, str(size)],
                               capture_output=True, text=True, check=False)
    if completed.returncode != 0:
        raise SystemExit(f"{kind} {size} failed:\n{completed.stdout}{completed.stderr}")
    return json.loads(completed.stdout.strip().splitlines()[-1])


def report(title: str, kind: str, sizes: list[int], unit: str) -> bool:
    print(f"\n{title}")
    print(f"{unit:>14} {'seconds':>9} {'ns/unit':>9} {'input MB':>9} {'peak+ MB':>9} {'peak/input':>10}")
    rows = []
    for size in sizes:
        figures = run_child(kind, size)
        rows.append((size, figures))
        print(f"{size:>14,} {figures['seconds']:>9.3f} {1e9 * figures['seconds'] / size:>9.1f} "
              f"{figures['input'] / 1e6:>9.1f} {figures['extra_peak'] / 1e6:>9.1f} "
              f"{figures['extra_peak'] / figures['input']:>10.2f}")
    (small, first), (large, last) = rows[0], rows[-1]
    exponent = math.log(last["seconds"] / first["seconds"]) / math.log(large / small)
    worst = max(figures["extra_peak"] / figures["input"] for _, figures in rows)
    print(f"time grows as size^{exponent:.2f} from {small:,} to {large:,}; "
          f"peak memory at most {worst:.2f} x the input")
    return exponent < 1.3


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--quick", action="store_true", help="a tenth of the full sizes")
    parser.add_argument("--child", nargs=2, metavar=("KIND", "SIZE"), help=argparse.SUPPRESS)
    arguments = parser.parse_args()
    if arguments.child:
        print(json.dumps(measure(arguments.child[0], int(arguments.child[1]))))
        return
    scale = 10 if arguments.quick else 1
    linear = report("one record (pepthread, table 1)", "long",
                    [100_000_000 // scale // 8 * 2**k for k in range(4)], "nucleotides")
    linear &= report("many short records (pepthread, table 1)", "many",
                     [1_000_000 // scale // 8 * 2**k for k in range(4)], "records")
    print("\nlinear" if linear else "\nNOT LINEAR: time grew faster than the input")


if __name__ == "__main__":
    main()
