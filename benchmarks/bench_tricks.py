"""What each of the tool's process-wide tricks is worth on L: the installed tool as
shipped against the same tool with one trick switched off, whole processes in turn
on the same files.

    .venv/bin/python benchmarks/bench_tricks.py [--repeat 15] [--data DIR] [--instructions]
        [--build NAME=DIR ...]

Switched off at run time: the exit without the interpreter's teardown (the command's
`main` called and its status returned as usual). A trick compiled into the
extension is measured against another build of the tool given as --build NAME=DIR:
a tree with the trick taken out, installed with `pip install --no-deps --target DIR .`.

Every output is checked against the expected alignment first. Figures are medians
of user and system CPU time, minor page faults (which the load on the machine does
not move) and peak memory, as the kernel reports them for each child; with --instructions, each
variant also runs once under valgrind's callgrind, which counts the instructions
run in user space (not the kernel's page faults).
"""
from __future__ import annotations

import argparse
import os
import re
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

from bench_targets import make_l
from common import machine_description, print_table

SHIPPED = "import sys; from ntpepmap_cli.__main__ import main; sys.exit(main())"
VARIANTS = {
    "as shipped": SHIPPED,
    "no fast exit": "import sys; from ntpepmap_cli.command.main import main; sys.exit(main())",
}
FIGURES = ("user s", "system s", "minor faults", "peak MiB")


class Variant:
    def __init__(self, code: str, search_path: str | None = None):
        self.code = code
        self.env = dict(os.environ)
        if search_path is not None:
            self.env["PYTHONPATH"] = search_path

    def argv(self, files: dict[str, Path], out: Path) -> list[str]:
        return [sys.executable, "-c", self.code, str(files["protein"]), str(files["cds"]), "-o", str(out)]

    def run(self, files: dict[str, Path], out: Path) -> tuple[float, ...]:
        """User and system seconds, minor page faults and peak MiB of one run. The child's own
        figures from wait4, to the microsecond; its peak is its own, as this process, whose
        peak a fork would carry over, stays far smaller than the tool."""
        out.unlink(missing_ok=True)
        with tempfile.TemporaryFile() as messages:
            child = subprocess.Popen(self.argv(files, out), stdout=subprocess.DEVNULL,
                                     stderr=messages, env=self.env)
            _, status, usage = os.wait4(child.pid, 0)
            child.returncode = os.waitstatus_to_exitcode(status)
            if child.returncode != 0:
                messages.seek(0)
                sys.exit(f"{self.code}: exit status {child.returncode}\n{messages.read().decode(errors='replace')}")
        return usage.ru_utime, usage.ru_stime, float(usage.ru_minflt), usage.ru_maxrss / 1024

    def instructions(self, files: dict[str, Path], out: Path) -> int:
        done = subprocess.run(["valgrind", "--tool=callgrind", "--callgrind-out-file=/dev/null",
                               *self.argv(files, out)], stdout=subprocess.DEVNULL,
                              stderr=subprocess.PIPE, text=True, env=self.env, check=True)
        return int(re.findall(r"Collected : ([\d,]+)", done.stderr)[-1].replace(",", ""))


def variants(builds: list[str]) -> dict[str, Variant]:
    chosen = {name: Variant(code) for name, code in VARIANTS.items()}
    for build in builds:
        name, _, folder = build.partition("=")
        chosen[name] = Variant(SHIPPED, str(Path(folder).resolve()))
    return chosen


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=15)
    parser.add_argument("--data", type=Path, help="where L is or is to be written (default: a scratch folder)")
    parser.add_argument("--instructions", action="store_true", help="also count instructions under callgrind")
    parser.add_argument("--build", action="append", default=[], metavar="NAME=DIR",
                        help="another build of the tool, installed into DIR with pip's --target")
    args = parser.parse_args(argv)
    chosen = variants(args.build)
    with tempfile.TemporaryDirectory(prefix="ntpepmap-bench-tricks-") as scratch:
        data = args.data or Path(scratch)
        files = ({name: data / "L" / f"{name}.fasta" for name in ("protein", "cds", "expected")}
                 if (data / "L" / "expected.fasta").exists() else make_l(data))
        out = Path(scratch) / "out.fasta"
        for name, variant in chosen.items():
            variant.run(files, out)
            if out.read_bytes() != files["expected"].read_bytes():
                sys.exit(f"{name}: the output differs from the expected alignment")
        runs: dict[str, list[tuple[float, ...]]] = {name: [] for name in chosen}
        for _ in range(args.repeat):
            for name, variant in chosen.items():
                runs[name].append(variant.run(files, out))
        counted = ({name: variant.instructions(files, out) for name, variant in chosen.items()}
                   if args.instructions else {})
    medians = {name: [statistics.median(column) for column in zip(*figures)] for name, figures in runs.items()}
    base = medians["as shipped"]
    print(f"machine: {machine_description()}")
    print(f"L, medians of {args.repeat} alternating runs; in brackets, the change against the tool as shipped")
    rows = []
    for name, figures in medians.items():
        cells = [f"{value:.4g} ({value / shipped - 1:+.0%})" if shipped else f"{value:.4g}"
                 for value, shipped in zip(figures, base)]
        if counted:
            cells.append(f"{counted[name] / 1e6:,.0f} M ({counted[name] / counted['as shipped'] - 1:+.1%})")
        rows.append([name, *cells])
    print_table(["variant", *FIGURES, *(["instructions"] if counted else [])], rows)
    return 0


if __name__ == "__main__":
    sys.exit(main())
