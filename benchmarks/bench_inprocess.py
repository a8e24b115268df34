"""In-process speed of ntpepmap.pepthread against the copy floor and
pure-Python threaders, on generated data, all measured in one run.

    PYTHONPATH=build/bench:python python benchmarks/bench_inprocess.py

Every output is checked against the generator's expected alignment (and the
number of printed reports against the records that must be reported) before
it is timed. Reports go to /dev/null while timing.
"""
from __future__ import annotations

import argparse
import json
import sys
from dataclasses import asdict, dataclass, replace
from statistics import median

import ntpepmap

import generate
import naive
from common import (CacheEvictor, call_capturing_fd1, fd1_silenced, interleaved_seconds,
                    machine_description, print_table, verdict)

REPORT_START = "===ERROR CAUGHT IN FILE "


@dataclass(frozen=True)
class Case:
    label: str
    size: str
    options: dict
    mismatch_fraction: float = 0.0  # derived from the clean records of the same size


CASES = (
    Case("L clean", "L", {}),
    Case("L 1 % ambiguous codons", "L", {"ambiguous_fraction": 0.01}),
    Case("L 10 % records mismatched", "L", {}, mismatch_fraction=0.10),
    Case("M clean", "M", {}),
    Case("long clean", "long", {}),
)


@dataclass
class Measured:
    label: str
    records: int
    columns: int
    cds_bytes: int
    reported: int
    correct: bool
    pepthread_s: float
    floor_s: float
    naive_s: float
    runs_idiom_s: float
    extra_over_clean_s: float = 0.0  # paired with the same records clean, when measured

    @property
    def cells(self) -> int:
        return self.records * self.columns

    @property
    def mb_per_s(self) -> float:
        return self.cds_bytes / self.pepthread_s / 1e6

    @property
    def ns_per_column(self) -> float:
        return self.pepthread_s / self.cells * 1e9


def check(records, seqs) -> bool:
    """pepthread gives the expected text and reports exactly the bad records."""
    output, printed = call_capturing_fd1(lambda: ntpepmap.pepthread("bench", 1, seqs))
    reports = printed.count(REPORT_START)
    expected_reports = sum(r.reported for r in records)
    correct = output == generate.expected_output(records)
    if not correct:
        print("  WRONG OUTPUT: pepthread differs from the expected alignment", file=sys.stderr)
    if reports != expected_reports:
        print(f"  WRONG REPORTS: {reports} printed, {expected_reports} expected", file=sys.stderr)
    return correct and reports == expected_reports


def case_records(case: Case, seed: int, cache: dict) -> list:
    key = (case.size, tuple(sorted(case.options.items())))
    if key not in cache:
        cache[key] = generate.generate_size(case.size, seed=seed, **case.options)
    records = cache[key]
    if case.mismatch_fraction:
        records = generate.with_mismatches(records, case.mismatch_fraction, seed=seed)
    return records


def measure(case: Case, records: list, repeat: int, naive_repeat: int, evict,
            clean: list | None = None) -> Measured:
    """With clean, the same records before the mismatches were put in also run
    in every round, and the median of the paired differences is kept."""
    seqs = generate.as_seqs(records)
    correct = check(records, seqs)
    functions = {
        "pepthread": lambda: ntpepmap.pepthread("bench", 1, seqs),
        "floor": lambda: naive.copy_floor(seqs),
    }
    if clean is not None:
        clean_seqs = generate.as_seqs(clean)
        functions["clean"] = lambda: ntpepmap.pepthread("bench", 1, clean_seqs)
    with fd1_silenced():
        times = interleaved_seconds(functions, repeat, evict)
    python_times = interleaved_seconds({
        "naive": lambda: naive.thread_naive("bench", 1, seqs),
        "runs": lambda: naive.thread_by_runs("bench", 1, seqs),
    }, naive_repeat)
    n_records, columns = generate.SIZES[case.size]
    extra = (median(m - c for m, c in zip(times["pepthread"], times["clean"]))
             if clean is not None else 0.0)
    return Measured(case.label, n_records, columns, sum(len(r.cds) for r in records),
                    sum(r.reported for r in records), correct,
                    median(times["pepthread"]), median(times["floor"]),
                    median(python_times["naive"]), median(python_times["runs"]), extra)


def table_rows(results: list[Measured]) -> list[list[str]]:
    return [[
        m.label + ("" if m.correct else " (WRONG OUTPUT)"),
        f"{m.records:,} × {m.columns:,}",
        f"{m.cds_bytes / 1e6:.1f}",
        f"{m.pepthread_s * 1e3:.1f}",
        f"{m.mb_per_s:.0f}",
        f"{m.ns_per_column:.2f}",
        f"{m.floor_s * 1e3:.1f}",
        f"{m.pepthread_s / m.floor_s:.2f}",
        f"{m.naive_s * 1e3:.0f}",
        f"{m.naive_s / m.pepthread_s:.1f}",
        f"{m.runs_idiom_s / m.pepthread_s:.1f}",
    ] for m in results]


HEADER = ["case", "records × columns", "CDS MB", "pepthread ms", "MB/s", "ns/column",
          "copy floor ms", "× floor", "naive ms", "naive ÷ pepthread", "runs idiom ÷ pepthread"]


def print_targets(by_label: dict[str, Measured]) -> None:
    clean, ambiguous = by_label["L clean"], by_label["L 1 % ambiguous codons"]
    mismatched, medium, long_ = (by_label["L 10 % records mismatched"], by_label["M clean"],
                                 by_label["long clean"])
    floor_ratio = clean.pepthread_s / clean.floor_s
    naive_ratio = clean.naive_s / clean.pepthread_s
    ambiguous_ratio = ambiguous.pepthread_s / ambiguous.floor_s
    per_mismatch_us = mismatched.extra_over_clean_s / max(mismatched.reported, 1) * 1e6
    scale = clean.pepthread_s / medium.pepthread_s
    long_rate = long_.mb_per_s / clean.mb_per_s
    print()
    print(f"clean L within 3× of the copy floor: {floor_ratio:.2f}× ({verdict(floor_ratio <= 3)})")
    print(f"clean L at least 25× the naive threader: {naive_ratio:.1f}× "
          f"({verdict(naive_ratio >= 25)})")
    print(f"1 % ambiguous within 4× of the floor: {ambiguous_ratio:.2f}× "
          f"({verdict(ambiguous_ratio <= 4)})")
    print(f"cost of a mismatched record beyond its bytes: {per_mismatch_us:.2f} µs "
          f"({mismatched.reported} records, each report written to /dev/null included; "
          f"median of the differences to the same records clean, run in turn)")
    print(f"L ÷ M time: {scale:.2f} (5 for linear cost, cells {clean.cells / medium.cells:.1f}×; "
          f"{verdict(abs(scale / 5 - 1) <= 0.1)} within 10 %)")
    print(f"long MB/s ÷ L MB/s: {long_rate:.2f} (1 for the same rate; "
          f"{verdict(long_rate >= 0.9)}: no more than 10 % slower)")


def main(argv: list[str] | None = None) -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=7, help="runs per timing (median)")
    parser.add_argument("--naive-repeat", type=int, default=3)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--warm", action="store_true",
                        help="leave the caches alone between runs (small inputs then stay cached)")
    parser.add_argument("--json", help="also write the figures to this file")
    args = parser.parse_args(argv)

    print(f"machine: {machine_description()}")
    print(f"median of {args.repeat} runs ({args.naive_repeat} for the pure-Python threaders), "
          f"pepthread and the copy floor in turn, "
          f"{'caches left warm' if args.warm else 'caches emptied before each run'}; "
          f"seed {args.seed}, table 1, ~15 % gap cells\n")
    evict = None if args.warm else CacheEvictor()
    results = []
    cache: dict = {}
    for case in CASES:
        print(f"measuring {case.label} ...", file=sys.stderr, flush=True)
        clean = (case_records(replace(case, mismatch_fraction=0.0), args.seed, cache)
                 if case.mismatch_fraction else None)
        results.append(measure(case, case_records(case, args.seed, cache), args.repeat,
                               args.naive_repeat, evict, clean))
    print_table(HEADER, table_rows(results))
    print_targets({m.label: m for m in results})
    if args.json:
        with open(args.json, "w") as out:
            json.dump([asdict(m) for m in results], out, indent=1)
    return 0 if all(m.correct for m in results) else 1


if __name__ == "__main__":
    sys.exit(main())
