"""The locus page (--html) of a large locus: what it costs the run, how large it is, and how
long Debian's chromium takes to draw it, headless.

    python benchmarks/generate.py L data/Lq --ambiguous 0.01 --mismatches 0.05
    PATH=$PWD/.venv/bin:$PATH python benchmarks/bench_qc_page.py data/Lq [/work/bench-data/L]

For each locus folder (protein.fasta, cds.fasta): the command's wall time without and with
--html (median of three), the page's size, and the time from opening the page to its canvas,
legend and records' table drawn (median of three loads, each in a fresh tab).
"""

from __future__ import annotations

import argparse
import shutil
import statistics
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from common import machine_description, print_table, verdict

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests"))

RENDER_GOAL = 3.0  # seconds for L's page to be drawn


def run_seconds(command: list[str]) -> float:
    start = time.perf_counter()
    subprocess.run(command, check=True, stderr=subprocess.DEVNULL)
    return time.perf_counter() - start


def render_seconds(page: Path, repeat: int) -> list[float]:
    from qc_browser import chromium, console_errors, load

    driver = chromium()
    try:
        times = []
        for _ in range(repeat):
            driver.switch_to.new_window("tab")
            start = time.perf_counter()
            load(driver, page, timeout=120)
            times.append(time.perf_counter() - start)
            assert not console_errors(driver)
        return times
    finally:
        driver.quit()


def measure(folder: Path, scratch: Path, repeat: int) -> list[str]:
    tool = shutil.which("ntpepmap") or "ntpepmap"
    base = [tool, str(folder / "protein.fasta"), str(folder / "cds.fasta"), "-o",
            str(scratch / "out.fasta"), "--threads", "1"]
    page = scratch / f"{folder.name}.html"
    plain = statistics.median(run_seconds(base) for _ in range(repeat))
    paged = statistics.median(run_seconds(base + ["--html", str(page)]) for _ in range(repeat))
    render = statistics.median(render_seconds(page, repeat))
    cells = sum(1 for line in open(folder / "protein.fasta") if line.startswith(">"))
    return [folder.name, f"{cells:,}", f"{plain:.2f}", f"{paged:.2f}",
            f"{page.stat().st_size / 2**20:.2f}", f"{render:.2f}",
            verdict(render < RENDER_GOAL)]


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("loci", nargs="+", type=Path, help="folders of protein.fasta, cds.fasta")
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args(argv)
    print(machine_description())
    with tempfile.TemporaryDirectory() as scratch:
        rows = [measure(folder, Path(scratch), args.repeat) for folder in args.loci]
    print_table(["locus", "records", "run (s)", "run --html (s)", "page (MiB)", "drawn in (s)",
                 f"under {RENDER_GOAL:.0f} s"], rows)


if __name__ == "__main__":
    main()
