"""``ntpepmap batch``: many loci in worker processes, one failure stops none.

The module holds the interpreter lock for a whole call, so threads would
run one locus at a time; worker processes run them side by side.
"""

from __future__ import annotations

import argparse
import os
import sys
import time
from collections import Counter
from concurrent.futures import Future, ProcessPoolExecutor, as_completed
from pathlib import Path
from typing import Dict, List, Sequence

from .errors import InputError, name_some
from .locus import LocusJob, LocusOptions, LocusOutcome, Status, run_locus
from .translation import Tally
from .messages import Reporter, error, print_outcome, tally_text
from .options import EXIT_STATUS_TABLE, PROG, add_locus_options, locus_options
from .seqio import default_extension, read_text

BATCH_DESCRIPTION = """\
Run many loci, each a protein alignment with its CDS file, in parallel.

Give either a MANIFEST, a tab-separated file with one locus per line:
  protein alignment <TAB> CDS <TAB> output path
(relative paths are taken from the manifest's folder; lines starting with
'#' are skipped), or two folders PEP_DIR and CDS_DIR whose files are matched
by name without extension, with --out-dir for the outputs.
"""

BATCH_EXIT_STATUS = EXIT_STATUS_TABLE.format(
    batch_one=",\n       or some locus failed (the others are written)",
    batch_two=";\n       the batch could not run (manifest or folder problem)")


def batch_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=f"{PROG} batch", description=BATCH_DESCRIPTION, epilog=BATCH_EXIT_STATUS,
        usage="%(prog)s [options] MANIFEST\n       %(prog)s [options] PEP_DIR CDS_DIR -O OUT_DIR",
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("inputs", nargs="+", metavar="MANIFEST | PEP_DIR CDS_DIR")
    parser.add_argument("-O", "--out-dir", metavar="DIR",
                        help="output folder in folder mode (files named after the locus)")
    parser.add_argument("-j", "--jobs", type=int, default=os.cpu_count() or 1, metavar="N",
                        help="worker processes (default: the number of cores)")
    add_locus_options(parser)
    return parser


def read_manifest(path: str) -> List[LocusJob]:
    base = Path(path).parent
    jobs: List[LocusJob] = []
    for number, line in enumerate(read_text(path).splitlines(), start=1):
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        fields = [part.strip() for part in line.split("\t")]
        if len(fields) != 3 or not all(fields):
            raise InputError(path, f"line {number}: expected protein alignment, CDS and output "
                                   f"path separated by tabs")
        jobs.append(LocusJob(*(str(base / part) for part in fields)))
    return jobs


def _files_by_stem(folder: str) -> Dict[str, Path]:
    try:
        files = sorted(p for p in Path(folder).iterdir()
                       if p.is_file() and not p.name.startswith("."))
    except OSError as exc:
        raise InputError(folder, exc.strerror or str(exc)) from None
    by_stem: Dict[str, Path] = {}
    for path in files:
        if path.stem in by_stem:
            raise InputError(folder, f"two files for locus {path.stem}: "
                                     f"{by_stem[path.stem].name}, {path.name}")
        by_stem[path.stem] = path
    return by_stem


def match_folders(pep_dir: str, cds_dir: str, out_dir: str,
                  extension: str) -> tuple[List[LocusJob], List[LocusOutcome]]:
    """Jobs for the stems found in both folders; unmatched files are failed loci."""
    peps, cdss = _files_by_stem(pep_dir), _files_by_stem(cds_dir)
    jobs = [LocusJob(str(peps[stem]), str(cdss[stem]), str(Path(out_dir) / (stem + extension)))
            for stem in peps if stem in cdss]
    unmatched = [LocusOutcome(LocusJob(str(path), "", ""), Status.FAILED,
                              notes=[f"{path}: no matching file in {other}"])
                 for mine, theirs, other in ((peps, cdss, cds_dir), (cdss, peps, pep_dir))
                 for stem, path in mine.items() if stem not in theirs]
    return jobs, unmatched


def collect_jobs(args: argparse.Namespace, parser: argparse.ArgumentParser,
                 options: LocusOptions) -> tuple[List[LocusJob], List[LocusOutcome]]:
    unmatched: List[LocusOutcome] = []
    if len(args.inputs) == 1:
        if args.out_dir:
            parser.error("--out-dir is for folder mode; a manifest names each output")
        jobs = read_manifest(args.inputs[0])
    elif len(args.inputs) == 2:
        if not args.out_dir:
            parser.error("folder mode needs --out-dir")
        pep_dir, cds_dir = args.inputs
        jobs, unmatched = match_folders(pep_dir, cds_dir, args.out_dir,
                                        default_extension(options.out_format))
    else:
        parser.error("give a MANIFEST or PEP_DIR CDS_DIR")
    clashes = sorted(out for out, count in Counter(job.out_path for job in jobs).items()
                     if count > 1)
    if clashes:
        raise InputError(args.inputs[0], f"loci share an output path: {name_some(clashes)}")
    if not jobs and not unmatched:
        raise InputError(args.inputs[0], "no loci")
    return jobs, unmatched


def _outcome_of(future: "Future[LocusOutcome]", job: LocusJob) -> LocusOutcome:
    try:
        return future.result()
    except Exception as exc:  # a worker that died takes its locus with it, not the batch
        return LocusOutcome(job, Status.FAILED,
                            notes=[f"{job.pep_path}: worker failed: {type(exc).__name__}: {exc}"])


def run_jobs(jobs: List[LocusJob], options: LocusOptions, workers: int,
             reporter: Reporter, already: List[LocusOutcome]) -> List[LocusOutcome]:
    """Every locus's outcome, failures to match files (already) first."""
    from tqdm import tqdm  # type: ignore[import-untyped]

    outcomes = list(already)
    with ProcessPoolExecutor(max_workers=max(1, min(workers, len(jobs) or 1))) as pool:
        # Submit before the bar exists: workers are forked at the first submit,
        # and should not be forked from a process that runs the bar's thread.
        futures = {pool.submit(run_locus, job, options): job for job in jobs}
        with tqdm(total=len(jobs) + len(already), unit="locus", file=sys.stderr,
                  disable=not sys.stderr.isatty()) as bar:
            def write(text: str) -> None:
                bar.write(text, file=sys.stderr, end="")

            for outcome in already:
                print_outcome(outcome, reporter, write)
                bar.update()
            for future in as_completed(futures):
                outcome = _outcome_of(future, futures[future])
                print_outcome(outcome, reporter, write)
                outcomes.append(outcome)
                bar.update()
    return outcomes


def summary(outcomes: Sequence[LocusOutcome], seconds: float) -> str:
    """The failed loci, then one line of counts: the batch's last words."""
    failed = [outcome.job.pep_path or outcome.job.cds_path for outcome in outcomes
              if outcome.status == Status.FAILED]
    changed = sum(outcome.status == Status.REPORTED for outcome in outcomes)
    records = Tally()
    for outcome in outcomes:
        records.add(outcome.tally)
    lines = [f"{PROG} batch: failed: {path}\n" for path in failed]
    lines.append(f"{PROG} batch: {len(outcomes) - len(failed)} loci done, {changed} with "
                 f"changes, {len(failed)} failed; {tally_text(records)}; {seconds:.2f} s "
                 f"elapsed\n")
    return "".join(lines)


def batch_main(argv: Sequence[str]) -> int:
    parser = batch_parser()
    args = parser.parse_args(argv)
    if args.jobs < 1:
        parser.error("--jobs must be 1 or more")
    start = time.perf_counter()
    try:
        options = locus_options(args, parser)
        jobs, unmatched = collect_jobs(args, parser, options)
        reporter = Reporter(args.quiet, args.report)
    except InputError as exc:
        return error(str(exc))
    try:
        outcomes = run_jobs(jobs, options, args.jobs, reporter, unmatched)
    finally:
        reporter.close()
    sys.stderr.write(summary(outcomes, time.perf_counter() - start))
    clean = all(outcome.status == Status.CLEAN for outcome in outcomes)
    return int(Status.CLEAN if clean else Status.REPORTED)
