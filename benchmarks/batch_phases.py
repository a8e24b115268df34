"""Where a batch's time goes per locus: each step a worker and the main process take for
one locus, timed one locus at a time in this one process.

    .venv/bin/python benchmarks/batch_phases.py PEP_DIR CDS_DIR [--repeat 3]

Runs the batch's own functions in the batch's order (`run_one`'s steps, then what the
main process does with the result) on every locus of the two folders, writing into a
temporary folder, and prints the median over rounds of the mean microseconds per locus
of each step. The fork, the pipes and the wait for a worker are left out: callgrind
over the whole batch (see benchmarks/README.md) counts those.
"""

from __future__ import annotations

import argparse
import gc
import io
import marshal
import os
import statistics
import sys
import tempfile
import time

from ntpepmap_cli.batch.run import batch_parser, match_folders
from ntpepmap_cli.command.messages import Reporter, print_outcome
from ntpepmap_cli.command.options import locus_options
from ntpepmap_cli.interrupts import StopGuard
from ntpepmap_cli.locus import run as locus_run
from ntpepmap_cli.outputs.atomic_files import write_bytes
from ntpepmap_cli.outputs.formats import default_extension
from ntpepmap_cli.outputs.status_table import write_status
from ntpepmap_cli.pairing.identifiers import NUCLEOTIDE_LETTERS
from ntpepmap_cli.reading.input_files import InputFile, read_records
from ntpepmap_cli.result.outcome import LocusOutcome

PHASES = ("open+read protein", "open+read CDS", "pair", "translate", "write output",
          "build+send outcome", "receive+unpickle", "report", "status (whole batch, per locus)")


def one_round(pep_dir: str, cds_dir: str, out_dir: str) -> dict[str, float]:
    args = batch_parser().parse_args([pep_dir, cds_dir, "-O", out_dir, "-q"])
    options = locus_options(args, batch_parser())
    loci = match_folders(pep_dir, cds_dir, out_dir, default_extension(options.out_format))
    guard = StopGuard()
    reporter = Reporter(True, None)
    sink = io.StringIO()
    spent = dict.fromkeys(PHASES, 0)
    outcomes = []
    gc.disable()  # as run_locus does
    for job in loci.jobs:
        clock = [time.perf_counter_ns()]

        def lap(phase: str) -> None:
            now = time.perf_counter_ns()
            spent[phase] += now - clock[0]
            clock[0] = now

        outcome = LocusOutcome(job)
        with InputFile(job.cds_path) as cds:
            aligned = read_records(job.pep_path, options.in_format, frameshift_digits=True)
            lap("open+read protein")
            coding = cds.read("fasta", NUCLEOTIDE_LETTERS)
        lap("open+read CDS")
        inputs = locus_run.LocusInputs(aligned.records, coding.records, job.pep_path,
                                       job.cds_path, coding.marked, headers_read=False)
        cds_of, _ = locus_run._pair(inputs, options, outcome)
        lap("pair")
        locus_run.translate(locus_run.file_stem(job.pep_path), inputs.proteins, inputs.cds,
                            cds_of, options, job.pep_path, job.cds_path, outcome, True, None)
        lap("translate")
        write_bytes(job.out_path, outcome.text, guard)
        lap("write output")
        outcome.rows, outcome.text = [], None
        sent = marshal.dumps(outcome.__getstate__())  # as batch/workers.py sends it
        lap("build+send outcome")
        received = LocusOutcome.__new__(LocusOutcome)
        received.__setstate__(marshal.loads(sent))
        received.received(job)
        lap("receive+unpickle")
        print_outcome(received, reporter, sink.write)
        outcomes.append(received)
        lap("report")
    gc.enable()
    start = time.perf_counter_ns()
    write_status(os.path.join(out_dir, "status.tsv"), loci.in_order(), outcomes)
    spent["status (whole batch, per locus)"] = time.perf_counter_ns() - start
    return {phase: total / len(loci.jobs) / 1000 for phase, total in spent.items()}


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("pep_dir")
    parser.add_argument("cds_dir")
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    rounds = []
    for _ in range(args.repeat):
        with tempfile.TemporaryDirectory() as out_dir:
            rounds.append(one_round(args.pep_dir, args.cds_dir, out_dir))
    medians = {phase: statistics.median(r[phase] for r in rounds) for phase in PHASES}
    total = sum(medians.values())
    print("| step | µs per locus | share |\n|---|---|---|")
    for phase, micros in medians.items():
        print(f"| {phase} | {micros:.1f} | {100 * micros / total:.0f} % |")
    print(f"| total | {total:.1f} | |")
    sys.stdout.flush()


if __name__ == "__main__":
    main()
