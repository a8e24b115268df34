"""L with its CDS gzipped (level 6) against plain L, as whole processes on every
path that reads a CDS file: the command line, a batch of L with a CDS file per
locus, a batch of L against a shared --cds file, and the Python API given a
path or an open file.

    python benchmarks/bench_gzip.py [--repeat 9] [--data DIR] [--instructions] [--tool PATH]

Every output is checked against the generator's expected alignment first.
Each pair (plain, gzip) runs in turn, outputs removed before each run; each
figure is the median. Wall and CPU time (user and system, every thread) come
from the child's own resource usage, to the microsecond. --instructions also counts each command's instructions once
under valgrind's callgrind, which the load on the machine does not move.
--tool: another build's ntpepmap (its Python runs the API), to compare with.
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

from bench_targets import Command, make_l, tool_command
from common import count_instructions, machine_description, print_table, verdict

TARGET = 1.2  # gzip / plain, wall and CPU time

# The API as a script: codon_align on the files, given as paths or opened, the rows written.
API_SCRIPT = """
import sys
from ntpepmap_cli import codon_align
protein, cds, how, out = sys.argv[1:]
if how == "open":
    with open(protein, "rb") as p, open(cds, "rb") as c:
        result = codon_align(p, c)
else:
    result = codon_align(protein, cds)
with open(out, "w") as written:
    written.writelines(f">{name}\\n{row}\\n" for name, row in result)
"""


def timed(command: Command) -> tuple[float, float]:
    """Wall and CPU seconds of one run, its outputs removed beforehand."""
    command.clear()
    start = time.perf_counter()
    process = subprocess.Popen(command.argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    _, status, usage = os.wait4(process.pid, 0)
    seconds = time.perf_counter() - start
    process.returncode = os.waitstatus_to_exitcode(status)
    if process.returncode != 0:
        sys.exit(f"{' '.join(command.argv)} failed ({process.returncode})")
    return seconds, usage.ru_utime + usage.ru_stime


def path_commands(data: Path, l_files: dict[str, Path], cds: Path, tag: str,
                  tool: list[str], python: str) -> dict[str, Command]:
    """One command per path, reading `cds`; tag names its outputs."""
    out = data / f"out_{tag}"
    out.mkdir(exist_ok=True)
    protein, expected = str(l_files["protein"]), l_files["expected"]
    folders = data / f"folders_{tag}"
    for kind, source in (("pep", l_files["protein"]), ("cds", cds)):
        (folders / kind).mkdir(parents=True, exist_ok=True)
        link = folders / kind / ("L" + source.suffix)
        if not link.exists():
            link.symlink_to(source)
    pep_dir = folders / "pep"
    batch_out, shared_out = out / "batch", out / "shared"
    return {
        "command line": Command([*tool, protein, str(cds), "-o", str(out / "cli.fasta")],
                                {out / "cli.fasta": expected}),
        "batch, a CDS file per locus": Command(
            [*tool, "batch", str(pep_dir), str(folders / "cds"), "-O", str(batch_out)],
            {batch_out / "L.fasta": expected}, batch_out),
        "batch, a shared --cds file": Command(
            [*tool, "batch", str(pep_dir), "--cds", str(cds), "-O", str(shared_out)],
            {shared_out / "L.fasta": expected}, shared_out),
        "API, paths": Command([python, "-c", API_SCRIPT, protein, str(cds), "path", str(out / "api.fasta")],
                              {out / "api.fasta": expected}),
        "API, open files": Command([python, "-c", API_SCRIPT, protein, str(cds), "open",
                                    str(out / "api_open.fasta")], {out / "api_open.fasta": expected}),
    }


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=9, help="paired runs of each path (median)")
    parser.add_argument("--data", type=Path, help="folder for the data (default: a temporary one)")
    parser.add_argument("--instructions", action="store_true", help="count instructions under callgrind")
    parser.add_argument("--tool", help="the ntpepmap to run (default: this Python's)")
    args = parser.parse_args(argv)
    if args.instructions and shutil.which("valgrind") is None:
        parser.error("--instructions needs valgrind")
    tool = [args.tool] if args.tool else tool_command()
    python = str(Path(args.tool).with_name("python")) if args.tool else sys.executable
    with tempfile.TemporaryDirectory() as scratch:
        data = args.data or Path(scratch)
        data.mkdir(parents=True, exist_ok=True)
        l_files = make_l(data)
        plain = path_commands(data, l_files, l_files["cds"], "plain", tool, python)
        packed = path_commands(data, l_files, l_files["cds_gz"], "gzip", tool, python)
        for command in [*plain.values(), *packed.values()]:  # also warms the page cache
            command.check()
        rows = []
        for name in plain:
            runs = [(timed(plain[name]), timed(packed[name])) for _ in range(args.repeat)]
            wall = [statistics.median(run[kind][0] for run in runs) for kind in (0, 1)]
            cpu = [statistics.median(run[kind][1] for run in runs) for kind in (0, 1)]
            ratios = wall[1] / wall[0], cpu[1] / cpu[0]
            counts = [count_instructions(command.argv, scratch) for command in (plain[name], packed[name])] \
                if args.instructions else []
            rows.append([name, f"{wall[0]:.3f} / {wall[1]:.3f}", f"{ratios[0]:.2f}",
                         f"{cpu[0]:.3f} / {cpu[1]:.3f}", f"{ratios[1]:.2f}",
                         f"{counts[0] / 1e6:,.0f} M / {counts[1] / 1e6:,.0f} M ({counts[1] / counts[0]:.2f})"
                         if counts else "-", verdict(max(ratios) <= TARGET)])
    print(f"{machine_description()}; medians of {args.repeat} paired runs\n")
    print_table(["path", "wall s plain / gzip", "ratio", "CPU s plain / gzip", "ratio",
                 "instructions plain / gzip", f"<= {TARGET}"], rows)


if __name__ == "__main__":
    main()
