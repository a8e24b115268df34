"""The start-up of the installed command against a bare interpreter's.

    .venv/bin/python benchmarks/bench_start.py [--repeat 15] [--no-instructions]

Cases, each a fresh process: a bare interpreter (`python -S -c pass`), the floor of
pip's console-script launcher (the interpreter with site, importing re and sys as the
generated script does, then ending without teardown as the command does), `ntpepmap --version`, and a one-record run (one protein, one
CDS, output to a file). Outputs are checked first; the cases then run in turn, round
after round, so that each round meets the same load, and each ratio is the median of
the rounds' ratios to the bare interpreter. Valgrind's callgrind counts each case's
instructions once, which the load does not move. Targets: --version at most 2.5 times a
bare start, the one-record run at most 3 times.
"""
from __future__ import annotations

import argparse
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))

from common import machine_description, print_table, verdict  # noqa: E402

TARGETS = {"ntpepmap --version": 2.5, "one-record run": 3.0}
PROTEIN, CDS, CODON_ROW = "MK-W", "ATGAAATGG", "ATGAAA---TGG"


def cases(script: Path, folder: Path) -> dict[str, list[str]]:
    (folder / "pep.fasta").write_text(f">a\n{PROTEIN}\n")
    (folder / "cds.fasta").write_text(f">a\n{CDS}\n")
    python = sys.executable
    return {
        "bare interpreter (-S -c pass)": [python, "-S", "-c", "pass"],
        # what pip's generated script costs before any of ours, ended as the command ends
        "launcher floor (site, re, sys)": [python, "-c", "import re, sys, os; os._exit(0)"],
        "ntpepmap --version": [str(script), "--version"],
        "one-record run": [str(script), str(folder / "pep.fasta"), str(folder / "cds.fasta"),
                           "-o", str(folder / "out.fasta")],
    }


def check(commands: dict[str, list[str]], folder: Path) -> None:
    version = subprocess.run(commands["ntpepmap --version"], capture_output=True, text=True,
                             check=True)
    assert version.stdout.startswith("ntpepmap ") and not version.stderr, version
    run = subprocess.run(commands["one-record run"], capture_output=True, text=True, check=True)
    written = (folder / "out.fasta").read_text()
    assert written == f">a\n{CODON_ROW}\n", (written, run.stderr)


def wall_times(commands: dict[str, list[str]], repeat: int) -> dict[str, list[float]]:
    times: dict[str, list[float]] = {name: [] for name in commands}
    for _ in range(repeat):
        for name, command in commands.items():
            start = time.perf_counter()
            subprocess.run(command, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                           check=True)
            times[name].append(time.perf_counter() - start)
    return times


def instructions(command: list[str]) -> int:
    done = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                           *command], capture_output=True, text=True, check=True)
    collected = [line for line in done.stderr.splitlines() if "Collected :" in line]
    return int(collected[-1].split(":")[-1].replace(",", "").strip())


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=15, help="rounds of paired runs")
    parser.add_argument("--script", type=Path, default=Path(sys.executable).with_name("ntpepmap"),
                        help="the installed console script (default: beside this interpreter)")
    parser.add_argument("--no-instructions", action="store_true",
                        help="skip callgrind's instruction counts")
    args = parser.parse_args()
    counting = not args.no_instructions and shutil.which("valgrind") is not None
    print(machine_description())
    with tempfile.TemporaryDirectory() as temporary:
        folder = Path(temporary)
        commands = cases(args.script, folder)
        check(commands, folder)
        times = wall_times(commands, args.repeat)
        counts = {name: instructions(command) for name, command in commands.items()} if counting else {}
    bare = next(iter(commands))
    rows = []
    for name in commands:
        ratio = statistics.median(t / b for t, b in zip(times[name], times[bare]))
        count = f"{counts[name] / 1e6:.1f} M" if counts else "-"
        count_ratio = f"{counts[name] / counts[bare]:.2f}" if counts else "-"
        goal = TARGETS.get(name)
        met = verdict(ratio <= goal and (not counts or counts[name] / counts[bare] <= goal)) if goal else ""
        rows.append([name, f"{statistics.median(times[name]) * 1e3:.1f}", f"{ratio:.2f}", count,
                     count_ratio, f"{goal}" if goal else "", met])
    print(f"\nwall: medians of {args.repeat} rounds of paired runs; instructions: callgrind, once"
          f"{'' if counting else ' (skipped)'}\n")
    print_table(["case", "wall ms", "wall ÷ bare", "instructions", "instr. ÷ bare", "target",
                 "verdict"], rows)


if __name__ == "__main__":
    os.environ.pop("PYTHONPATH", None)  # the installed command, as a user runs it
    main()
