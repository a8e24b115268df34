"""``ntpepmap batch``: many loci in worker processes, one failure stops none.

Worker processes run the loci side by side, each locus on one thread: a
process of its own keeps a locus's failure, memory and signals from the others.
"""

from __future__ import annotations

from ..command import plain_argparse  # noqa: F401  (before argparse: see there)
import argparse
import os
import sys
import time
from collections import Counter
from functools import partial

from ..pairing.shared_cds import CdsSource, read_cds_source
from ..errors import InputError, name_some
from ..pairing.header_rules import rules_for, unpaired_proteins
from ..interrupts import StopGuard, StopRequest, exit_status, signal_name
from ..reading.kept_columns import files_by_locus, locus_file
from ..locus.run import LocusJob, LocusOptions, bare_stem, file_stem, run_locus
from ..command.messages import Reporter, error
from ..option_table import BATCH, BESIDE, BY_NAME
from ..command.options import EXIT_STATUS_TABLE, PROG, HelpFormatter, add_locus_options, locus_options
from ..outputs.atomic_files import OutputSet, remove_leftovers
from ..result.outcome import LocusOutcome, Status
from ..reading.input_files import read_records, read_text
from ..outputs.status_table import batch_page_path, write_tables
from ..outputs.formats import default_extension
from .voice import BatchVoice, failed_loci_lines, summary_line
from .output_checks import check_batch_outputs, set_output_formats
from .workers import WorkerDied, WorkerPool

TYPE_CHECKING = False  # typing itself costs a batch noticeable start-up time
if TYPE_CHECKING:
    from collections.abc import Callable, Iterator, Sequence
    from typing import Any, TextIO

BATCH_DESCRIPTION = """\
Run many loci, each a protein alignment with its CDS file, in parallel.

Give either a MANIFEST, a tab-separated file with one locus per line:
  protein alignment <TAB> CDS <TAB> output path [<TAB> kept columns]
(relative paths are taken from the manifest's folder; lines starting with
'#' are skipped; a CDS file that several lines name is read once; the optional
last column names the file of the columns a trimmer kept, as --kept-columns
does), or two folders PEP_DIR and CDS_DIR whose files are matched by name
without extension, with --out-dir for the outputs (and --kept-columns DIR for
a folder of kept columns), or a folder PEP_DIR whose every alignment is
threaded against the CDS files given with --cds (one per species, or a whole
proteome's: read once for the whole batch).
"""

BATCH_EXIT_STATUS = EXIT_STATUS_TABLE.format(
    batch_one=",\n       or some locus failed (the others are written)",
    batch_two=";\n       the batch could not run (manifest or folder problem, no matching names,\n"
              "       an output that would overwrite an input or another output)")

# More workers than cores only share the cores; beyond this many per core
# they are refused, as each holds a whole locus in memory.
MAX_WORKERS_PER_CORE = 4


def usable_cores() -> int:
    if hasattr(os, "sched_getaffinity"):  # the cores this process may run on
        return len(os.sched_getaffinity(0)) or 1
    return os.cpu_count() or 1


def batch_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=f"{PROG} batch", description=BATCH_DESCRIPTION, epilog=BATCH_EXIT_STATUS,
        usage="%(prog)s [options] MANIFEST\n       %(prog)s [options] PEP_DIR CDS_DIR -O OUT_DIR\n"
              "       %(prog)s [options] PEP_DIR --cds FILE [FILE ...] -O OUT_DIR",
        formatter_class=HelpFormatter, allow_abbrev=False)
    parser.add_argument("inputs", nargs="+", metavar="MANIFEST | PEP_DIR CDS_DIR")
    parser.add_argument("-O", "--out-dir", metavar="DIR",
                        help="output folder in folder mode (files named after the locus)")
    parser.add_argument("--cds", nargs="+", metavar="FILE",
                        help="CDS files (plain or compressed) shared by every alignment of "
                             "PEP_DIR, or of a MANIFEST whose lines then name alignment and "
                             "output alone; read once; identifiers must be unique across them")
    parser.add_argument("-j", "--jobs", type=int, default=usable_cores(), metavar="N",
                        help="worker processes (default: the number of cores; at most "
                             f"{MAX_WORKERS_PER_CORE} per core and one per locus)")
    parser.add_argument("--status", metavar="FILE",
                        help="write a tab-separated table of every locus: its name, output, "
                             "fate (written, written with changes, failed, interrupted), "
                             "counts and first message")
    add_locus_options(parser, BATCH)
    return parser


def read_manifest(path: str, shared_cds: bool = False) -> list[LocusJob]:
    """The loci of a manifest; with shared_cds (the batch's --cds), its lines name the
    alignment and the output alone."""
    base = os.path.dirname(path)
    jobs: list[LocusJob] = []
    expected = "protein alignment and output path" if shared_cds else \
        "protein alignment, CDS and output path"
    for number, line in enumerate(read_text(path).splitlines(), start=1):
        if not line.strip() or line.lstrip().startswith("#"):
            continue
        fields = [part.strip() for part in line.split("\t")]
        needed = 3 - shared_cds
        if len(fields) not in (needed, needed + 1) or not all(fields):
            raise InputError(path, f"line {number}: expected {expected} and optionally the kept "
                                   f"columns, separated by tabs")
        paths = [os.path.join(base, part) for part in fields]
        jobs.append(LocusJob(paths[0], "" if shared_cds else paths[1], paths[needed - 1],
                             kept_path=paths[needed] if len(paths) > needed else None,
                             name=fields[needed - 1]))
    return jobs


def _files_by_stem(folder: str) -> dict[str, str]:
    # One directory read: the entries know their type, so files cost no stat each.
    try:
        with os.scandir(folder) as entries:
            files = sorted((entry.name, entry.path) for entry in entries
                           if not entry.name.startswith(".") and entry.is_file())
    except OSError as exc:
        raise InputError(folder, exc.strerror or str(exc)) from None
    by_stem: dict[str, str] = {}
    for name, path in files:
        stem = bare_stem(name)
        if stem in by_stem:
            raise InputError(folder, f"two files for locus {stem}: "
                                     f"{os.path.basename(by_stem[stem])}, {name}")
        by_stem[stem] = path
    return by_stem


class Loci:
    """The loci of a batch: those to run, and those that failed before running."""

    __slots__ = ("jobs", "unmatched", "unused", "listed")

    def __init__(self, jobs: list[LocusJob], unmatched: list[LocusOutcome],
                 unused: list[str]) -> None:
        self.jobs = jobs
        self.unmatched = unmatched
        self.unused = unused  # warnings: input files that belong to no locus
        # Every locus as listed: in the manifest's order, or by name in folder mode; kept
        # as loci move from jobs to unmatched.
        self.listed = jobs + [outcome.job for outcome in unmatched]
        if unmatched:
            self.listed.sort(key=lambda job: job.name)

    def in_order(self) -> list[tuple[str, LocusJob]]:
        return [(job.name, job) for job in self.listed]


def match_folders(pep_dir: str, cds_dir: str, out_dir: str, extension: str,
                  kept_dir: str | None = None) -> Loci:
    """A locus per protein alignment, run when the CDS folder has a file of the same stem
    (and the folder of kept columns one file named after it).

    A CDS file without an alignment is no locus, only a warning.
    """
    peps, cdss = _files_by_stem(pep_dir), _files_by_stem(cds_dir)
    out_prefix = os.path.join(out_dir, "")
    jobs = [LocusJob(peps[stem], cdss[stem], out_prefix + stem + extension, name=stem)
            for stem in peps if stem in cdss]
    if not jobs:
        raise InputError(pep_dir, f"no file name matches one in {cds_dir} (without extensions; "
                                  f"alignments: {name_some(list(peps)) or 'none'}; "
                                  f"CDS: {name_some(list(cdss)) or 'none'})")
    unmatched = [LocusOutcome(LocusJob(path, "", "", name=stem), Status.FAILED,
                              notes=[f"{path}: no matching file in {cds_dir}"])
                 for stem, path in peps.items() if stem not in cdss]
    unused = [f"{path}: no alignment of that name in {pep_dir}; not used"
              for stem, path in cdss.items() if stem not in peps]
    if kept_dir is not None:
        jobs = _with_kept_columns(jobs, kept_dir, unmatched)
    return Loci(jobs, unmatched, unused)


def alignments_against_shared_cds(pep_dir: str, out_dir: str, extension: str) -> Loci:
    """A locus per alignment of the folder, its CDS the shared files (read later, once)."""
    out_prefix = os.path.join(out_dir, "")
    jobs = [LocusJob(path, "", out_prefix + stem + extension, name=stem)
            for stem, path in _files_by_stem(pep_dir).items()]
    if not jobs:
        raise InputError(pep_dir, "no alignments")
    return Loci(jobs, [], [])


def share_cds(args: argparse.Namespace, loci: Loci, options: LocusOptions) -> None:
    """Reads once the CDS that several loci share: the --cds files (the batch cannot run
    without them), and each file that several lines of a manifest name (a file that
    cannot be read fails its loci). The workers forked afterwards find the records in
    memory, pages shared until written."""
    if args.cds:
        _share(read_cds_source(args.cds), loci.jobs, options)
    else:
        named = Counter(job.cds_path for job in loci.jobs)
        for path in [path for path, count in named.items() if count > 1]:
            sharing = [job for job in loci.jobs if job.cds_path == path]
            try:
                _share(read_cds_source([path]), sharing, options)
            except InputError as exc:
                loci.jobs = [job for job in loci.jobs if job.cds_path != path]
                loci.unmatched += [LocusOutcome(job, Status.FAILED, notes=[str(exc)])
                                   for job in sharing]


def _share(source: CdsSource, jobs: list[LocusJob], options: LocusOptions) -> None:
    """Hands the source to the jobs; when the first locus's proteins need the headers'
    annotations to pair, their indexes are built here, once for every worker, rather
    than in each worker (the loci of a batch are alike)."""
    for job in jobs:
        job.share(source)
    try:
        idents = read_records(jobs[0].pep_path, options.in_format).records.identifiers()
    except InputError:  # its locus will say what is wrong
        return
    if unpaired_proteins(idents, source.lookup, options.id_map, options.id_pattern)[0]:
        source.lookup.build(rules_for(options.id_pattern))
def _with_kept_columns(jobs: list[LocusJob], kept_dir: str,
                       unmatched: list[LocusOutcome]) -> list[LocusJob]:
    """The jobs given their files of kept columns; a locus without one file fails."""
    stems = {file_stem(job.pep_path): job for job in jobs}
    found = files_by_locus(kept_dir, stems)
    ready = []
    for stem, job in stems.items():
        try:
            job.kept_path = locus_file(kept_dir, stem, found[stem])
            ready.append(job)
        except InputError as exc:
            unmatched.append(LocusOutcome(job, Status.FAILED, notes=[f"{job.pep_path}: {exc}"]))
    return ready


def collect_loci(args: argparse.Namespace, parser: argparse.ArgumentParser,
                 options: LocusOptions) -> Loci:
    loci = _listed_loci(args, parser, options)
    for option, attribute in ((BY_NAME["partitions"], "partitions_path"),
                              (BY_NAME["rename"], "names_path"), (BY_NAME["html"], "html_path")):
        folder = getattr(args, option.name)
        if folder and os.path.exists(folder) and not os.path.isdir(folder):
            parser.error(f"{option.spelling()} {folder}: not a folder (in a batch it takes a "
                         f"folder, or nothing to write beside each output)")
        for job in loci.jobs:
            setattr(job, attribute, locus_file_path(folder, job.out_path, str(option.per_locus)))
    return loci


def locus_file_path(folder: str | None, out_path: str, suffix: str) -> str | None:
    """A locus's file of a per-locus option: in the folder given, named after its output
    without extension; given alone, beside its output."""
    if folder is None:
        return None
    if folder == BESIDE:
        return out_path + suffix
    return os.path.join(folder, file_stem(out_path) + suffix)


def _listed_loci(args: argparse.Namespace, parser: argparse.ArgumentParser,
                 options: LocusOptions) -> Loci:
    if args.cds and os.path.isdir(args.inputs[0]):
        if len(args.inputs) != 1 or not args.out_dir:
            parser.error("--cds goes with one folder of alignments and --out-dir, or a manifest")
        loci = alignments_against_shared_cds(args.inputs[0], args.out_dir,
                                             default_extension(options.out_format))
        if args.kept_columns:
            loci.jobs = _with_kept_columns(loci.jobs, args.kept_columns, loci.unmatched)
        return loci
    if len(args.inputs) == 1:
        if args.out_dir:
            parser.error("--out-dir is for folder mode; a manifest names each output")
        if args.kept_columns:
            parser.error("--kept-columns DIR is for folder mode; a manifest names each "
                         "locus's kept columns in its last column")
        loci = Loci(read_manifest(args.inputs[0], shared_cds=bool(args.cds)), [], [])
        if not loci.jobs:
            raise InputError(args.inputs[0], "no loci")
        return loci
    if len(args.inputs) == 2 and not args.cds:
        if not args.out_dir:
            parser.error("folder mode needs --out-dir")
        pep_dir, cds_dir = args.inputs
        return match_folders(pep_dir, cds_dir, args.out_dir, default_extension(options.out_format),
                             args.kept_columns)
    parser.error("give a MANIFEST, PEP_DIR CDS_DIR, or PEP_DIR --cds FILE ...")


def worker_count(requested: int, loci: int) -> tuple[int, str | None]:
    """How many workers to start, and a warning when they outnumber the cores."""
    cores = usable_cores()
    count = min(requested, loci, MAX_WORKERS_PER_CORE * cores)
    if count <= cores:
        return count, None
    capped = f" (-j {requested} capped at {MAX_WORKERS_PER_CORE} per core)" \
        if count < min(requested, loci) else ""
    return count, (f"{count} workers for {cores} cores{capped}: they take turns on the cores "
                   f"and each holds a locus in memory")


def run_one(number: int, jobs: Sequence[LocusJob], options: LocusOptions,
            guard: StopGuard) -> LocusOutcome:
    """Locus `number` in a worker: an unexpected error fails the locus, not the worker."""
    job = jobs[number]
    try:
        outcome = run_locus(job, options, guard)
    except BaseException as exc:
        # A native failure (PanicException, a BaseException as SystemExit is) fails its locus too.
        if not isinstance(exc, Exception) and type(exc).__name__ != "PanicException":
            raise
        outcome = LocusOutcome(job, Status.FAILED,
                               notes=[f"{job.pep_path}: failed: {type(exc).__name__}: {exc}"])
    # Its rows are in its output, or failed to get there: the main process needs neither.
    outcome.rows, outcome.text = [], None
    return outcome


class BatchRun:
    """The loci of a batch as they finish, told to the user as they come."""

    def __init__(self, loci: Loci, reporter: Reporter, guard: StopGuard) -> None:
        self.loci = loci
        self.reporter = reporter
        self.voice = BatchVoice(reporter)
        self.guard = guard
        self.outcomes: list[LocusOutcome] = []
        self.interrupted: KeyboardInterrupt | None = None
        self._finished_jobs: set[int] = set()  # ids of the jobs handed to workers

    def run(self, options: LocusOptions, workers: int, stop: StopRequest) -> None:
        # Start the workers before the bar: they are forked, and should not be
        # forked from a process that runs the bar's thread.
        # Workers get a locus's number: they hold the list of loci already.
        pool = WorkerPool(workers, partial(run_one, jobs=self.loci.jobs, options=options,
                                           guard=self.guard), self.guard, LocusOutcome)
        try:
            with _progress_bar(len(self.loci.jobs) + len(self.loci.unmatched)) as bar:
                def write(text: str) -> None:
                    bar.write(text, file=sys.stderr, end="")

                for outcome in self.loci.unmatched:
                    self._finished(outcome, write)
                    bar.update()
                for job, result in self._results(pool, stop):
                    self._finished_jobs.add(id(job))
                    self._finished(_outcome_of(job, result), write)
                    bar.update()
        finally:
            pool.stop()

    def _results(self, pool: WorkerPool,
                 stop: StopRequest) -> Iterator[tuple[LocusJob, object]]:
        jobs = self.loci.jobs
        try:
            for number, result in pool.results(range(len(jobs)), stop):
                yield jobs[number], result
            pool.close()
        except KeyboardInterrupt as interrupted:
            self.interrupted = interrupted
            for number, result in pool.stop():
                if isinstance(result, WorkerDied):  # stopped before the end: not finished
                    _remove_leftovers(jobs[number], result.pid)
                else:
                    yield jobs[number], result

    def _finished(self, outcome: LocusOutcome, write: Callable[[str], None]) -> None:
        self.outcomes.append(outcome)
        self.voice.finished(outcome, write)

    def not_finished(self) -> list[LocusJob]:
        return [job for job in self.loci.jobs if id(job) not in self._finished_jobs]


class _NoBar:
    """Stands in for the progress bar when standard error is no terminal."""

    def __enter__(self) -> _NoBar:
        return self

    def __exit__(self, *exc_info: object) -> None:
        pass

    def update(self) -> None:
        pass

    def write(self, text: str, file: TextIO, end: str) -> None:
        file.write(text + end)


def _progress_bar(total: int) -> Any:
    """A bar on a terminal; tqdm is imported only then, as it costs a batch of small
    loci a noticeable share of its time."""
    if not sys.stderr.isatty():
        return _NoBar()
    from tqdm import tqdm  # type: ignore[import-untyped]

    return tqdm(total=total, unit="locus", file=sys.stderr)


def _outcome_of(job: LocusJob, result: object) -> LocusOutcome:
    if isinstance(result, LocusOutcome):
        return result.received(job)
    if isinstance(result, WorkerDied):
        _remove_leftovers(job, result.pid)
    return LocusOutcome(job, Status.FAILED, notes=[f"{job.pep_path}: {result}"])


def _remove_leftovers(job: LocusJob, pid: int | None) -> None:
    """What a dead worker left of the locus's files, written as one set."""
    for path in (job.out_path, job.partitions_path, job.names_path, job.html_path):
        if path is not None:
            remove_leftovers(path, pid)


def interruption_line(batch: BatchRun, stop: KeyboardInterrupt) -> str:
    left = batch.not_finished()
    line = (f"{PROG} batch: interrupted by {signal_name(stop)}: {len(batch.outcomes)} of "
            f"{len(batch.outcomes) + len(left)} loci finished")
    if left:
        line += f"; not finished: {name_some([job.pep_path for job in left])}"
    return line + "\n"


def batch_main(argv: Sequence[str], guard: StopGuard) -> int:
    parser = batch_parser()
    args = parser.parse_args(argv)
    if args.jobs < 1:
        parser.error("--jobs must be 1 or more")
    start = time.perf_counter()
    outputs = OutputSet(guard)  # the report and the status table: in place together
    try:
        options = locus_options(args, parser)
        options.out_format = args.out_format or "fasta"  # folder mode's; each locus has its own
        loci = collect_loci(args, parser, options)
        set_output_formats(args, parser, loci)
        check_batch_outputs(args, loci)
        share_cds(args, loci, options)
        reporter = Reporter(args.quiet, args.report, guard, outputs)
    except InputError as exc:
        return error(str(exc))
    workers, warning = worker_count(args.jobs, len(loci.jobs))
    for line in [] if args.quiet else loci.unused + ([warning] if warning else []):
        print(f"{PROG} batch: warning: {line}", file=sys.stderr)
    batch = BatchRun(loci, reporter, guard)
    with guard.noted() as stop:
        try:
            batch.run(options, workers, stop)
            return finish(batch, reporter, start, args, outputs)
        finally:
            outputs.discard()  # nothing left to remove once committed


def finish(batch: BatchRun, reporter: Reporter, start: float, args: argparse.Namespace,
           outputs: OutputSet) -> int:
    """Puts the report, the status table and the batch's page in place, then tells what was
    done, last of all the summary; the exit status. Quiet, the errors told as their loci
    finished are all it tells before the summary."""
    sys.stderr.writelines(batch.voice.note_lines())
    if not reporter.quiet:
        sys.stderr.writelines(failed_loci_lines(batch.outcomes, with_errors=False))
    if batch.interrupted is not None:
        reporter.abandon()
        sys.stderr.write(interruption_line(batch, batch.interrupted))
    else:
        reporter.to_file("".join(failed_loci_lines(batch.outcomes, with_errors=True)))
    failure = None
    try:
        write_tables(outputs, args.status, args.html, batch.loci.in_order(), batch.outcomes)
        if batch.interrupted is None:
            reporter.finish()
        outputs.commit()
    except InputError as exc:
        failure = exc
    sys.stderr.write(summary_line(batch.outcomes, time.perf_counter() - start))
    if failure is not None:
        return error(str(failure))
    if batch.interrupted is not None:
        return exit_status(batch.interrupted)
    clean = all(outcome.status == Status.CLEAN for outcome in batch.outcomes)
    return int(Status.CLEAN if clean else Status.REPORTED)
