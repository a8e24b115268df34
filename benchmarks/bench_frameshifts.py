"""What frameshift-tolerant placement costs: whole-process time of the tool on L
(10,000 records of 1,000 columns) against the tool before it (a build given with
--baseline), and on L with 5 % of its records frameshifted against plain L, each
also with every CDS given as an mRNA (UTRs around it), all in one run.

    python benchmarks/bench_frameshifts.py [--repeat 7] [--baseline PATH/TO/ntpepmap] [--instructions]

A frameshifted record's CDS gains or loses one or two nucleotides inside a random
codon of its middle half (nearer an end, the coding-region search may take the
record as it is, a few codons mismatched, before any frameshift is looked for). Plain L must give the generator's
expected alignment; frameshifted L must write every record and count one frameshift
for each. Runs alternate between the commands; each figure is the median. With
--instructions, each command also runs once under valgrind's callgrind (one thread),
whose count of instructions the load on the machine does not move.
"""
from __future__ import annotations

import argparse
import random
import statistics
import subprocess
import sys
import tempfile
from pathlib import Path

import generate
from bench_targets import Command, tool_command
import shutil

from common import count_instructions, machine_description, print_table, verdict

SHIFTED_FRACTION = 0.05


def frameshifted(records: list[generate.Record], seed: int = 1
                 ) -> tuple[list[generate.Record], int]:
    """The records, SHIFTED_FRACTION of them with one frameshift in their CDS; how many."""
    rng = random.Random(seed)
    changed, count = [], 0
    for record in records:
        residues = len(record.cds) // 3
        if residues < 30 or rng.random() >= SHIFTED_FRACTION:
            changed.append(record)
            continue
        at = 3 * rng.randrange(residues // 4, 3 * residues // 4) + rng.randrange(3)
        shift = rng.choice((1, 2, -1, -2))
        gained = "".join(rng.choices("ACGT", k=shift)) if shift > 0 else ""
        cds = record.cds[:at] + gained + record.cds[at + max(0, -shift):]
        changed.append(record._replace(cds=cds, reported=True))
        count += 1
    return changed, count


def check_shifted(command: Command, output: Path, records: int, shifted: int) -> None:
    run = subprocess.run(command.argv, capture_output=True, text=True, check=False)
    written = output.read_text().count(">")
    if run.returncode != 0 or written != records or f"{shifted} frameshifts" not in run.stderr:
        sys.exit(f"frameshifted L: exit {run.returncode}, {written} of {records} records written; "
                 f"{run.stderr.splitlines()[-1:]}")


def main(argv: list[str] | None = None) -> None:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--repeat", type=int, default=7, help="runs of each command (median)")
    parser.add_argument("--baseline", type=Path,
                        help="the ntpepmap command of the build to compare with")
    parser.add_argument("--instructions", action="store_true",
                        help="count each command's instructions once under valgrind's callgrind")
    args = parser.parse_args(argv)
    if args.instructions and shutil.which("valgrind") is None:
        parser.error("--instructions needs valgrind")
    records = generate.generate_size("L")
    shifted_records, shifted = frameshifted(records)
    tool = tool_command()
    with tempfile.TemporaryDirectory() as scratch:
        data = Path(scratch)
        plain = generate.write_fasta_set(records, data / "L")
        with_shifts = generate.write_fasta_set(shifted_records, data / "shifted")
        mrna = generate.write_fasta_set(generate.as_mrna(records), data / "mrna")
        mrna_with_shifts = generate.write_fasta_set(generate.as_mrna(shifted_records), data / "mrna_shifted")
        out = {name: data / f"{name}.fasta"
               for name in ("plain", "shifted", "baseline", "mrna", "mrna_shifted")}

        def make(program: list[str], files: dict[str, Path], output: str) -> Command:
            argv = [*program, str(files["protein"]), str(files["cds"]), "-o", str(out[output])]
            return Command(argv, {out[output]: files["expected"]} if files is plain or files is mrna else {})

        runs = {"ntpepmap L": make(tool, plain, "plain")}
        if args.baseline:
            runs["baseline L"] = make([str(args.baseline)], plain, "baseline")
        runs["ntpepmap L, 5 % frameshifted"] = make(tool, with_shifts, "shifted")
        runs["ntpepmap L as mRNA"] = make(tool, mrna, "mrna")
        runs["ntpepmap L as mRNA, 5 % frameshifted"] = make(tool, mrna_with_shifts, "mrna_shifted")
        for name, command in runs.items():  # also warms the page cache
            command.check()
        check_shifted(runs["ntpepmap L, 5 % frameshifted"], out["shifted"], len(records), shifted)
        check_shifted(runs["ntpepmap L as mRNA, 5 % frameshifted"], out["mrna_shifted"], len(records),
                      shifted)
        seconds: dict[str, list[float]] = {name: [] for name in runs}
        for _ in range(args.repeat):
            for name, command in runs.items():
                seconds[name].append(command.run()[0])
        instructions = {name: count_instructions([*command.argv, "--threads", "1"], data)
                        for name, command in runs.items()} if args.instructions else {}
    medians = {name: statistics.median(values) for name, values in seconds.items()}
    print(f"{machine_description()}; medians of {args.repeat} alternating runs; "
          f"{shifted} of {len(records)} records frameshifted\n")
    print_table(["command", "wall s", "instructions, millions"],
                [[name, f"{value:.3f}", f"{instructions[name] / 1e6:,.0f}" if instructions else "-"]
                 for name, value in medians.items()])
    rows = []
    for figures, kind in ((medians, "wall time"), (instructions, "instructions")):
        if not figures:
            continue
        if args.baseline:
            ratio = figures["ntpepmap L"] / figures["baseline L"]
            rows.append([f"L, clean records unchanged ({kind})", "ntpepmap L / baseline L",
                         f"{ratio:.2f}", "<= 1.05", verdict(ratio <= 1.05)])
        for case in ("L", "L as mRNA"):
            ratio = figures[f"ntpepmap {case}, 5 % frameshifted"] / figures[f"ntpepmap {case}"]
            rows.append([f"{case}, 5 % frameshifted ({kind})", "frameshifted / plain", f"{ratio:.2f}",
                         "<= 1.5", verdict(ratio <= 1.5)])
    print()
    print_table(["target", "ratio of", "ratio", "target", "verdict"], rows)


if __name__ == "__main__":
    main()
