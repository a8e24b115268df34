"""A batch of 500 loci threaded against 8 per-species CDS files (--cds, read once),
beside today's batch of the same loci with a CDS file per locus, in one run.

    python benchmarks/bench_shared_cds.py [--repeat 9] [--extra 2500] [--data DIR]

Each locus is 40 records x 400 columns, record i of a locus belonging to species
i mod 8; each species' file holds its records of every locus and --extra genes of no
locus (a genome's other genes), once gzip-compressed as downloads come and once
plain (as the per-locus files are). The batches run with -j 2, alternating,
outputs checked first against the generator's expected alignments. Figures:
median wall and CPU seconds, the largest resident set of any one process (GNU
time), and the peak of the whole process tree's proportional set size (PSS,
sampled every 10 ms from /proc/PID/smaps_rollup), which counts a page shared by
the forked workers once, not once per worker.
"""
from __future__ import annotations

import argparse
import gzip
import os
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import generate
from bench_targets import BATCH_LOCI, BATCH_SIZE, Command, tool_command
from common import machine_description, print_table

SPECIES = 8


def write_loci(data: Path, extra: int) -> tuple[list[Path], dict[Path, Path]]:
    """Per-locus pep, cds and expected files, and the species' shared CDS files."""
    for kind in ("pep", "cds", "expected"):
        (data / kind).mkdir(parents=True, exist_ok=True)
    species: list[list[str]] = [[] for _ in range(SPECIES)]
    for number in range(BATCH_LOCI):
        generated = generate.generate(*BATCH_SIZE, seed=number + 1)
        records = [record._replace(name=f"sp{index % SPECIES}_l{number}_{index}")
                   for index, record in enumerate(generated)]
        name = f"OG{number:07d}.fasta"
        for kind, field in (("pep", "protein_row"), ("cds", "cds"), ("expected", "expected_row")):
            (data / kind / name).write_text(
                generate._fasta(((r.name, getattr(r, field)) for r in records), 0))
        for index, record in enumerate(records):
            species[index % SPECIES].append(f">{record.name}\n{record.cds}\n")
    shared = []
    for number, texts in enumerate(species):
        others = generate.generate(extra, BATCH_SIZE[1], seed=100_000 + number) if extra else []
        texts += [f">sp{number}_gene{index}\n{record.cds}\n" for index, record in enumerate(others)]
        path = data / f"sp{number}.fa.gz"
        with gzip.open(path, "wt", compresslevel=6) as out:
            out.write("".join(texts))
        (data / f"sp{number}.fa").write_text("".join(texts))
        shared.append(path)
    names = sorted(path.name for path in (data / "pep").iterdir())
    return shared, {Path(name): data / "expected" / name for name in names}


def tree_pss_peak(process: subprocess.Popen) -> int:
    """The largest sum of PSS (KiB) over the process and its descendants while it runs."""
    peak = 0
    while process.poll() is None:
        peak = max(peak, sum(_pss(pid) for pid in _tree(process.pid)))
        time.sleep(0.01)
    return peak


def _tree(root: int) -> list[int]:
    parents: dict[int, int] = {}
    for entry in os.listdir("/proc"):
        if entry.isdigit():
            try:
                with open(f"/proc/{entry}/stat") as stat:
                    parents[int(entry)] = int(stat.read().rsplit(")", 1)[1].split()[1])
            except (OSError, IndexError, ValueError):
                continue
    found, frontier = [root], [root]
    while frontier:
        frontier = [pid for pid, parent in parents.items() if parent in frontier]
        found += frontier
    return found


def _pss(pid: int) -> int:
    try:
        with open(f"/proc/{pid}/smaps_rollup") as rollup:
            return next(int(line.split()[1]) for line in rollup if line.startswith("Pss:"))
    except (OSError, StopIteration):
        return 0


def run_with_pss(command: Command) -> int:
    command.clear()
    process = subprocess.Popen(command.argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    return tree_pss_peak(process)


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=9, help="runs of each command (median)")
    parser.add_argument("--extra", type=int, default=2500,
                        help="genes of no locus in each species' file (default 2500: as many "
                             "as its loci use)")
    parser.add_argument("--data", type=Path, help="folder for the data (default: a temporary one)")
    args = parser.parse_args(argv)
    with tempfile.TemporaryDirectory() as scratch:
        data = args.data or Path(scratch)
        shared, expected = write_loci(data, args.extra)
        tool = tool_command()
        runs = {}
        for label, inputs in (("a CDS file per locus", [str(data / "cds")]),
                              (f"{SPECIES} shared plain CDS files (--cds)",
                               ["--cds", *(str(path.with_suffix("")) for path in shared)]),
                              (f"{SPECIES} shared gzip CDS files (--cds)",
                               ["--cds", *map(str, shared)])):
            out = data / f"out{len(runs)}"
            runs[label] = Command([*tool, "batch", str(data / "pep"), *inputs, "-O", str(out),
                                   "-j", "2"],
                                  {out / name: path for name, path in expected.items()}, out)
        for command in runs.values():
            command.check()
        figures = {name: [] for name in runs}
        for _ in range(args.repeat):
            for name, command in runs.items():
                figures[name].append((*command.run(), run_with_pss(command)))
        medians = {name: [statistics.median(values) for values in zip(*runs_of)]
                   for name, runs_of in figures.items()}
        size = sum(path.stat().st_size for path in shared) / 2**20
    print(f"{machine_description()}; medians of {args.repeat} alternating runs; "
          f"{BATCH_LOCI} loci of {BATCH_SIZE[0]} x {BATCH_SIZE[1]}, -j 2; species files "
          f"{size:.1f} MiB gzipped, {args.extra} extra genes each\n")
    print_table(["batch", "wall s", "CPU s", "largest process MiB", "whole tree PSS MiB"],
                [[name, f"{wall:.3f}", f"{cpu:.2f}", f"{rss / 1024:.0f}", f"{pss / 1024:.0f}"]
                 for name, (wall, cpu, rss, pss) in medians.items()])
    own, *shared_runs = medians.values()
    print()
    for name, figures_of in list(medians.items())[1:]:
        print(f"{name} / a CDS file per locus: wall {figures_of[0] / own[0]:.2f}, CPU "
              f"{figures_of[1] / own[1]:.2f}, tree PSS {figures_of[3] / own[3]:.2f}")


if __name__ == "__main__":
    sys.exit(main())
