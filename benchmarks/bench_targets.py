"""The command-line tool's speed targets, each measured side by side with its
reference in one run: whole-process time and peak memory on L against phyx
pxaa2cdn, L with its CDS gzipped against plain L, and a batch of 500 small
loci with two workers against `xargs -P 2` running one pxaa2cdn per locus.

    python benchmarks/bench_targets.py [--repeat 7] [--data DIR]

Every output is checked against the generator's expected alignment before any
time counts. Runs alternate between the commands compared, so that both meet
the same load; each figure is the median. Outputs are removed before each run,
so that no command pays for deleting an old one. Peak memory is the child's
maximum resident set and CPU time (user and system) as GNU time reports them:
CPU time shows what a command costs when other work shares the cores.
"""
from __future__ import annotations

import argparse
import gzip
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

import generate
from common import machine_description, print_table, verdict

BATCH_LOCI = 500
BATCH_SIZE = (40, 400)  # taxa, columns


def tool_command() -> list[str]:
    script = Path(sys.executable).with_name("ntpepmap")
    return [str(script)] if script.exists() else [sys.executable, "-m", "ntpepmap_cli"]


class Command:
    """A command line and the output paths it writes, each with the file it must equal."""

    def __init__(self, argv: list[str], outputs: dict[Path, Path], out_dir: Path | None = None):
        self.argv = argv
        self.outputs = outputs
        self.out_dir = out_dir

    cwd: Path | None = None  # pxaa2cdn leaves its log file in the current folder

    def clear(self) -> None:
        for path in self.outputs:
            path.unlink(missing_ok=True)
        if self.out_dir is not None:
            self.out_dir.mkdir(parents=True, exist_ok=True)

    def run(self) -> tuple[float, float, int]:
        """Wall seconds, CPU seconds (user and system) and peak resident KiB of one run,
        its outputs removed beforehand."""
        self.clear()
        start = time.perf_counter()
        with tempfile.NamedTemporaryFile() as peak:
            # GNU time's own child: wait4 on a child forked from this large process would
            # report this process's peak, which a fork and exec carry over.
            process = subprocess.run(["/usr/bin/time", "-f", "%U %S %M", "-o", peak.name, *self.argv],
                                     stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                     cwd=self.cwd, check=False)
            seconds = time.perf_counter() - start
            report = Path(peak.name).read_text().split()
        if process.returncode != 0:
            sys.exit(f"{' '.join(self.argv)} failed ({process.returncode}):\n"
                     f"{process.stderr.decode(errors='replace')}")
        return seconds, float(report[-3]) + float(report[-2]), int(report[-1])

    def check(self) -> None:
        self.run()
        for output, expected in self.outputs.items():
            if output.read_bytes() != expected.read_bytes():
                sys.exit(f"{' '.join(self.argv)}: {output} differs from {expected}")


def make_l(data: Path) -> dict[str, Path]:
    paths = generate.write_fasta_set(generate.generate_size("L"), data / "L")
    gzipped = data / "L" / "cds.fasta.gz"
    with open(paths["cds"], "rb") as plain, gzip.open(gzipped, "wb", compresslevel=6) as packed:
        shutil.copyfileobj(plain, packed)
    paths["cds_gz"] = gzipped
    return paths


def make_batch(data: Path) -> Path:
    root = data / "batch"
    for kind in ("pep", "cds", "expected"):
        (root / kind).mkdir(parents=True, exist_ok=True)
    for number in range(BATCH_LOCI):
        name = f"locus{number:03d}.fasta"
        records = generate.generate(*BATCH_SIZE, seed=number + 1)
        with tempfile.TemporaryDirectory(dir=root) as scratch:
            paths = generate.write_fasta_set(records, Path(scratch))
            for kind, source in (("pep", "protein"), ("cds", "cds"), ("expected", "expected")):
                os.replace(paths[source], root / kind / name)
    return root


def commands(data: Path, l_files: dict[str, Path], batch: Path) -> dict[str, Command]:
    out = data / "out"
    out.mkdir(exist_ok=True)
    tool = tool_command()
    l_out, l_gz_out, px_out = out / "tool.fasta", out / "tool_gz.fasta", out / "px.fasta"
    expected = l_files["expected"]
    names = sorted(path.name for path in (batch / "pep").iterdir())
    tool_dir, px_dir = out / "batch_tool", out / "batch_px"
    pipeline = (f"cd {batch} && ls pep | xargs -P 2 -I{{}} "
                f"pxaa2cdn -a pep/{{}} -n cds/{{}} -o {px_dir}/{{}} >/dev/null")
    return {
        "ntpepmap L": Command([*tool, str(l_files["protein"]), str(l_files["cds"]), "-o", str(l_out)],
                              {l_out: expected}),
        "pxaa2cdn L": Command(["pxaa2cdn", "-a", str(l_files["protein"]), "-n", str(l_files["cds"]),
                               "-o", str(px_out)], {px_out: expected}),
        "ntpepmap L, CDS gzipped": Command([*tool, str(l_files["protein"]), str(l_files["cds_gz"]),
                                           "-o", str(l_gz_out)], {l_gz_out: expected}),
        "ntpepmap batch -j 2": Command([*tool, "batch", str(batch / "pep"), str(batch / "cds"),
                                        "-O", str(tool_dir), "-j", "2"],
                                       {tool_dir / n: batch / "expected" / n for n in names}, tool_dir),
        "xargs -P 2 pxaa2cdn": Command(["sh", "-c", pipeline],
                                       {px_dir / n: batch / "expected" / n for n in names}, px_dir),
    }


def measure(runs: dict[str, Command], repeat: int) -> list[dict[str, float]]:
    """Medians of wall seconds, CPU seconds and peak KiB of each command."""
    figures: list[dict[str, list[float]]] = [{name: [] for name in runs} for _ in range(3)]
    for _ in range(repeat):
        for name, command in runs.items():
            for kind, value in zip(figures, command.run()):
                kind[name].append(value)
    return [{name: statistics.median(values) for name, values in kind.items()} for kind in figures]


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=7, help="runs of each command (median)")
    parser.add_argument("--data", type=Path, help="folder for the data (default: a temporary one)")
    args = parser.parse_args(argv)
    if shutil.which("pxaa2cdn") is None:
        sys.exit("pxaa2cdn (phyx) is not on PATH: bash benchmarks/install_peers.sh")
    with tempfile.TemporaryDirectory() as scratch:
        data = args.data or Path(scratch)
        data.mkdir(parents=True, exist_ok=True)
        runs = commands(data, make_l(data), make_batch(data))
        for command in runs.values():
            command.cwd = data
        for command in runs.values():  # also warms the page cache
            command.check()
        seconds, cpu, peaks = measure(runs, args.repeat)
    print(f"{machine_description()}; medians of {args.repeat} alternating runs\n")
    print_table(["command", "wall s", "CPU s", "peak MiB"],
                [[name, f"{seconds[name]:.3f}", f"{cpu[name]:.2f}", f"{peaks[name] / 1024:.0f}"]
                 for name in runs])
    rows = []
    for case, ours, theirs, values, target in (
            ("L, whole-process time", "ntpepmap L", "pxaa2cdn L", seconds, 0.40),
            ("L, peak memory", "ntpepmap L", "pxaa2cdn L", peaks, 0.80),
            ("L, CDS gzipped (level 6), time", "ntpepmap L, CDS gzipped", "ntpepmap L", seconds, 1.5),
            (f"batch of {BATCH_LOCI} loci of {BATCH_SIZE[0]} x {BATCH_SIZE[1]}, -j 2",
             "ntpepmap batch -j 2", "xargs -P 2 pxaa2cdn", seconds, 1 / 8)):
        ratio = values[ours] / values[theirs]
        rows.append([case, f"{ours} / {theirs}", f"{ratio:.2f}", f"<= {target:.3g}",
                     verdict(ratio <= target)])
    print()
    print_table(["target", "ratio of", "ratio", "target", "verdict"], rows)


if __name__ == "__main__":
    main()
