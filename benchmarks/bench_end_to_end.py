"""Whole-process speed and memory of the ntpepmap command-line tool against
the codon-alignment tools people use today, on the same generated files.

    bash benchmarks/install_peers.sh        # once
    PYTHONPATH=build/bench:python python benchmarks/bench_end_to_end.py

Each tool runs in a fresh child process; its output is checked against the
generator's expected alignment before its time counts. Wall time is the
median of several runs; peak memory is the child's maximum resident set.
A peer that is not installed is skipped and named.
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
from dataclasses import dataclass, field
from pathlib import Path

import generate
from common import machine_description, print_table, verdict

HERE = Path(__file__).resolve().parent


@dataclass(frozen=True)
class Tool:
    name: str
    checks_codons: str
    executable: str  # what must be on PATH (or the Python module to import)
    slow: bool = False

    def command(self, protein: Path, cds: Path, out: Path) -> tuple[list[str], Path | None]:
        """The command line, and the file its standard output must go to."""
        raise NotImplementedError


class Ntpepmap(Tool):
    def command(self, protein, cds, out):
        script = Path(sys.executable).with_name("ntpepmap")
        if script.exists():
            return [str(script), str(protein), str(cds), "-o", str(out)], None
        return [sys.executable, "-m", "ntpepmap_cli", str(protein), str(cds), "-o", str(out)], None


class Pxaa2cdn(Tool):
    def command(self, protein, cds, out):
        return ["pxaa2cdn", "-a", str(protein), "-n", str(cds), "-o", str(out)], None


class Tranalign(Tool):
    def command(self, protein, cds, out):
        return ["tranalign", "-asequence", str(cds), "-bsequence", str(protein),
                "-outseq", str(out), "-table", "0", "-auto"], None


class Pal2nal(Tool):
    def command(self, protein, cds, out):
        return ["pal2nal.pl", str(protein), str(cds), "-output", "fasta", "-codontable", "1"], out


class BiopythonCodonalign(Tool):
    def command(self, protein, cds, out):
        return [sys.executable, str(HERE / "peer_biopython.py"), str(protein), str(cds),
                str(out)], None


TOOLS = (
    Ntpepmap("ntpepmap (this tool)", "yes", "ntpepmap_cli, ntpepmap"),
    Pxaa2cdn("phyx pxaa2cdn", "no", "pxaa2cdn"),
    Tranalign("EMBOSS tranalign", "yes (drops records)", "tranalign"),
    Pal2nal("PAL2NAL", "yes", "pal2nal.pl", slow=True),
    BiopythonCodonalign("Biopython codonalign", "yes", "Bio.codonalign", slow=True),
)


def available(tool: Tool) -> bool:
    if tool.executable.startswith(("ntpepmap", "Bio")):
        probe = f"import {tool.executable}"
        return subprocess.run([sys.executable, "-c", probe], capture_output=True).returncode == 0
    return shutil.which(tool.executable) is not None


@dataclass
class Run:
    seconds: float
    peak_mib: float
    returncode: int
    first_error: str = ""


def child_environment() -> dict[str, str]:
    """The children run elsewhere: a relative PYTHONPATH must still find the module."""
    env = dict(os.environ)
    if env.get("PYTHONPATH"):
        env["PYTHONPATH"] = os.pathsep.join(
            str(Path(entry).resolve()) for entry in env["PYTHONPATH"].split(os.pathsep) if entry)
    return env


TIME = shutil.which("time") or "/usr/bin/time"


def run_once(tool: Tool, protein: Path, cds: Path, out: Path) -> Run:
    """Runs the tool in a fresh child and returns its wall time and peak memory.

    GNU time measures the peak: the resident size of a child forked straight
    from this process would start at this process's own, data and all.
    The child works in the output's directory, where pxaa2cdn leaves its log.
    """
    argv, stdout_path = tool.command(protein, cds, out)
    measured = out.with_suffix(".rss")
    errors = out.with_suffix(".err")
    with open(stdout_path or os.devnull, "wb") as stdout, open(errors, "wb") as stderr:
        start = time.perf_counter()
        status = subprocess.run([TIME, "-f", "%M", "-o", str(measured), *argv],
                                stdin=subprocess.DEVNULL, stdout=stdout, stderr=stderr,
                                cwd=out.parent, env=child_environment()).returncode
        seconds = time.perf_counter() - start
    peak_kib = measured.read_text().split()[-1]
    first_error = next(iter(errors.read_text(errors="replace").splitlines()), "")
    measured.unlink()
    errors.unlink()
    return Run(seconds, int(peak_kib) / 1024 if peak_kib.isdigit() else float("nan"),
               status, first_error)


def read_fasta(path: Path) -> dict[str, str]:
    records: dict[str, list[str]] = {}
    current: list[str] = []
    for line in path.read_text().splitlines():
        if line.startswith(">"):
            current = records.setdefault(line[1:].split()[0], [])
        else:
            current.append(line.strip())
    return {name: "".join(lines) for name, lines in records.items()}


def compare(out: Path, expected: dict[str, str]) -> str:
    """'' when out holds exactly the expected rows, else what is wrong."""
    if not out.exists():
        return "no output"
    got = read_fasta(out)
    missing = expected.keys() - got.keys()
    wrong = [name for name in expected.keys() & got.keys() if got[name].upper() != expected[name]]
    extra = got.keys() - expected.keys()
    problems = [f"{len(s)} {what}" for s, what in
                ((missing, "missing"), (wrong, "wrong"), (extra, "unexpected")) if s]
    return ", ".join(problems)


@dataclass
class Measured:
    tool: Tool
    size: str
    cds_bytes: int
    runs: list[Run] = field(default_factory=list)
    problem: str = ""

    @property
    def seconds(self) -> float:
        return statistics.median(r.seconds for r in self.runs)

    @property
    def peak_mib(self) -> float:
        return max(r.peak_mib for r in self.runs)


def measure(tool: Tool, size: str, files: dict[str, Path], expected: dict[str, str],
            workdir: Path, repeat: int) -> Measured:
    """A checked first run, then repeat - 1 more; the checked run's time counts
    too, so that a slow peer can be measured with repeat = 1."""
    cds_bytes = sum(len(s) for s in read_fasta(files["cds"]).values())
    result = Measured(tool, size, cds_bytes)
    out = workdir / f"{type(tool).__name__}-{size}.fasta"
    for attempt in range(repeat):
        out.unlink(missing_ok=True)
        run = run_once(tool, files["protein"], files["cds"], out)
        if attempt == 0:
            if run.returncode != 0:
                result.problem = f"exit status {run.returncode}: {run.first_error[:80]}"
            else:
                result.problem = compare(out, expected)
            if result.problem:
                return result
        result.runs.append(run)
    out.unlink(missing_ok=True)
    return result


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--size", default="L", choices=list(generate.SIZES))
    parser.add_argument("--slow-size", default="M", choices=list(generate.SIZES),
                        help="size for Biopython, whose L run takes minutes")
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--slow-repeat", type=int, default=1,
                        help="runs of PAL2NAL and Biopython")
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--data-dir", type=Path, help="keep the generated files here")
    args = parser.parse_args(argv)

    if not Path(TIME).exists():
        print("GNU time is needed to measure peak memory: apt-get install time", file=sys.stderr)
        return 2
    tools = [t for t in TOOLS if available(t)]
    skipped = [t.name for t in TOOLS if t not in tools]
    print(f"machine: {machine_description()}")
    print(f"median wall time of {args.repeat} runs ({args.slow_repeat} for PAL2NAL and "
          f"Biopython; Biopython on size {args.slow_size}), seed {args.seed}, ~15 % gap cells")
    if skipped:
        print(f"skipped, not installed: {', '.join(skipped)} (see benchmarks/install_peers.sh)")
    print()

    with tempfile.TemporaryDirectory(prefix="ntpepmap-bench-") as scratch:
        data_root = (args.data_dir or Path(scratch)).resolve()
        sizes_of = {t: args.slow_size if isinstance(t, BiopythonCodonalign) else args.size
                    for t in tools}
        results: list[Measured] = []
        for size in dict.fromkeys([args.size, *sizes_of.values()]):
            records = generate.generate_size(size, seed=args.seed)
            files = generate.write_fasta_set(records, data_root / size)
            expected = {r.name: r.expected_row for r in records}
            users = [t for t in tools if sizes_of[t] == size or isinstance(t, Ntpepmap)]
            for tool in users:
                repeat = args.slow_repeat if tool.slow else args.repeat
                print(f"running {tool.name} on {size} ({repeat}×) ...", file=sys.stderr,
                      flush=True)
                results.append(measure(tool, size, files, expected, Path(scratch), repeat))
    report(results)
    return 0 if all(not m.problem for m in results) else 1


def report(results: list[Measured]) -> None:
    ours = {m.size: m for m in results if isinstance(m.tool, Ntpepmap) and not m.problem}
    rows = []
    for m in results:
        if m.problem:
            rows.append([m.tool.name, m.size, "-", f"FAILED CHECK: {m.problem}", "", "",
                         m.tool.checks_codons, "", ""])
            continue
        mine = ours.get(m.size)
        rows.append([
            m.tool.name, m.size, str(len(m.runs)), f"{m.seconds:.3f}",
            f"{m.cds_bytes / m.seconds / 1e6:.1f}", f"{m.peak_mib:.0f}", m.tool.checks_codons,
            f"{m.seconds / mine.seconds:.1f}" if mine else "-",
            f"{mine.peak_mib / m.peak_mib:.2f}" if mine else "-",
        ])
    header = ["tool", "size", "runs", "wall s", "CDS MB/s", "peak MiB", "checks codons?",
              "time ÷ ntpepmap", "ntpepmap memory ÷ tool"]
    print_table(header, rows)

    by_name = {(m.tool.name, m.size): m for m in results if not m.problem}
    size = next(iter(ours), None)
    mine = ours.get(size)
    phyx = by_name.get(("phyx pxaa2cdn", size))
    pal2nal = by_name.get(("PAL2NAL", size))
    print()
    if mine and phyx:
        print(f"faster than pxaa2cdn on {size}: {phyx.seconds / mine.seconds:.2f}× "
              f"({verdict(mine.seconds < phyx.seconds)})")
        ratio = mine.peak_mib / phyx.peak_mib
        print(f"at most 1.5× pxaa2cdn's peak memory: {ratio:.2f}× ({verdict(ratio <= 1.5)})")
    if mine and pal2nal:
        ratio = pal2nal.seconds / mine.seconds
        print(f"at least 100× faster than PAL2NAL: {ratio:.0f}× ({verdict(ratio >= 100)})")


if __name__ == "__main__":
    sys.exit(main())
