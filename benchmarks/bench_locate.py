"""Whole-process cost of locating coding regions: the ntpepmap command-line tool
on L given as mRNAs (5' UTR, CDS, stop codon, 3' UTR) against plain L.

    PYTHONPATH=build/bench:python python benchmarks/bench_locate.py

Both data sets come from the same seed, so they hold the same proteins and
coding regions. Each output is checked against the expected alignment first;
then the two runs alternate, so that whatever else the machine does weighs on
both alike. Medians of wall time and of CPU time (user and system, GNU time's
child included). The target: the mRNAs take at most 1.3x the time of plain L.

With --instructions, each case also runs once under valgrind's callgrind, which
counts the instructions of the whole process: a figure that, unlike time, does
not move with whatever else the machine runs (each such run takes a minute or so).
"""
from __future__ import annotations

import argparse
import resource
import shutil
import statistics
import sys
import tempfile
from pathlib import Path

import generate
from bench_end_to_end import Ntpepmap, compare, read_fasta, run_once
from common import count_instructions as count_process_instructions
from common import machine_description, print_table, verdict

TARGET = 1.3


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size", default="L", choices=list(generate.SIZES))
    parser.add_argument("--repeat", type=int, default=9)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--instructions", action="store_true",
                        help="count each case's instructions once under valgrind's callgrind")
    args = parser.parse_args(argv)
    if args.instructions and shutil.which("valgrind") is None:
        parser.error("--instructions needs valgrind")

    tool = Ntpepmap("ntpepmap", "yes", "ntpepmap_cli")
    records = generate.generate_size(args.size, seed=args.seed)
    cases = {"plain": records, "mRNA": generate.as_mrna(records, seed=args.seed)}
    print(f"machine: {machine_description()}")
    print(f"size {args.size}, seed {args.seed}, median wall time of {args.repeat} alternating runs")
    with tempfile.TemporaryDirectory(prefix="ntpepmap-bench-locate-") as scratch:
        root = Path(scratch)
        files = {name: generate.write_fasta_set(case, root / name) for name, case in cases.items()}
        cds_bytes = {name: sum(len(s) for s in read_fasta(f["cds"]).values())
                     for name, f in files.items()}
        for name, case in cases.items():
            out = root / f"{name}.out.fasta"
            run = run_once(tool, files[name]["protein"], files[name]["cds"], out)
            problem = (f"exit status {run.returncode}: {run.first_error}" if run.returncode
                       else compare(out, {r.name: r.expected_row for r in case}))
            if problem:
                print(f"{name}: FAILED CHECK: {problem}")
                return 1
        seconds: dict[str, list[float]] = {name: [] for name in cases}
        cpu: dict[str, list[float]] = {name: [] for name in cases}
        for _ in range(args.repeat):
            for name in cases:
                out = root / f"{name}.out.fasta"
                before = child_cpu_seconds()
                seconds[name].append(run_once(tool, files[name]["protein"], files[name]["cds"],
                                              out).seconds)
                cpu[name].append(child_cpu_seconds() - before)
        instructions = ({name: count_instructions(tool, files[name], root / f"{name}.out.fasta")
                         for name in cases} if args.instructions else {})
    wall = {name: statistics.median(times) for name, times in seconds.items()}
    busy = {name: statistics.median(times) for name, times in cpu.items()}
    print_table(["input", "CDS MB", "wall s", "× plain", "CPU s", "× plain"],
                [[name, f"{cds_bytes[name] / 1e6:.1f}", f"{wall[name]:.3f}",
                  f"{wall[name] / wall['plain']:.2f}", f"{busy[name]:.3f}",
                  f"{busy[name] / busy['plain']:.2f}"] for name in cases])
    if instructions:
        print(f"\ninstructions, whole process: plain {instructions['plain'] / 1e6:,.0f} million, "
              f"mRNA {instructions['mRNA'] / 1e6:,.0f} million "
              f"({instructions['mRNA'] / instructions['plain']:.2f}× plain)")
    ratio = wall["mRNA"] / wall["plain"]
    print(f"\nmRNA at most {TARGET}× plain (wall time): {ratio:.2f}× ({verdict(ratio <= TARGET)})")
    return 0


def count_instructions(tool: Ntpepmap, files: dict[str, Path], out: Path) -> int:
    """The instructions callgrind counts over one run of the tool, children included."""
    argv, _ = tool.command(files["protein"], files["cds"], out)
    return count_process_instructions(argv, out.parent)


def child_cpu_seconds() -> float:
    """User and system time of the children waited for so far: on a busy machine it
    moves less than wall time with what else runs."""
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


if __name__ == "__main__":
    sys.exit(main())
