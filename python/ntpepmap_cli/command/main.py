"""The ``ntpepmap`` console script: one locus, a batch of loci, or the code list."""

from __future__ import annotations

from . import plain_argparse  # noqa: F401  (before argparse: see there)
import argparse
import sys
from collections.abc import Sequence

from ..errors import InputError, out_of_memory_line
from ..interrupts import StopGuard, exit_status, signal_name
from ..locus.run import LocusJob, LocusOptions, Status, run_locus
from .messages import Reporter, error, print_outcome, print_summary
from ..option_table import SINGLE
from .options import EXIT_STATUS_TABLE, PROG, HelpFormatter, add_locus_options, locus_options
from ..outputs.atomic_files import (CLOSED_PIPE_STATUS, STDOUT, STDOUT_NAME, OutputSet,
                                    reopen_closed_standard_streams, silence_stdout)
from ..outputs.formats import output_format
from ..outputs.writability import check_writable
from .safeguards import check_outputs, option_inputs

SINGLE_DESCRIPTION = """\
Back-translate an aligned protein file into a codon alignment, using the
unaligned coding sequences (CDS) of the same records.

Records are paired by identifier (the first word of each header), else by
the annotations of NCBI, Ensembl or UniProt headers (see --id-pattern); CDS
records that no protein needs are left aside. The alignment is written in the
order of the protein alignment, with its identifiers. Each problem gets
one line on standard error, with the alignment column, residue number,
residue and triplet; a summary line ends the run. A codon that does not encode
its residue is masked as NNN (see --mismatch); a record whose codon row would
be shorter than the alignment is left out.

other commands:
  ntpepmap batch ...     many loci in parallel (ntpepmap batch --help)
  ntpepmap tables        the built-in genetic codes
  ntpepmap help options  the options of every locus, which both commands take
"""

EXIT_STATUS = EXIT_STATUS_TABLE.format(batch_one="", batch_two="")


class _VersionAction(argparse.Action):
    """argparse's version action, with the version looked up only when asked for."""

    def __init__(self, option_strings: Sequence[str], dest: str = argparse.SUPPRESS,
                 default: str = argparse.SUPPRESS,
                 help: str = "show program's version number and exit") -> None:
        super().__init__(option_strings=option_strings, dest=dest, default=default, nargs=0,
                         help=help)

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace,
                 values: object, option_string: str | None = None) -> None:
        from .. import __version__

        sys.stdout.write(f"{parser.prog} {__version__}\n")
        parser.exit()


def single_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG, usage="%(prog)s [options] PEP_ALN CDS [CDS ...] [-o OUT]\n"
                         "       %(prog)s batch ...\n       %(prog)s tables",
        description=SINGLE_DESCRIPTION, epilog=EXIT_STATUS,
        formatter_class=HelpFormatter, allow_abbrev=False)
    parser.add_argument("--version", action=_VersionAction)
    parser.add_argument("pep_aln", metavar="PEP_ALN",
                        help="aligned protein sequences, FASTA, CLUSTAL or PHYLIP, plain or "
                             "gzip/bzip2/xz-compressed ('-' for standard input)")
    parser.add_argument("cds", metavar="CDS", nargs="+",
                        help="unaligned coding sequences, FASTA, plain or compressed ('-' for "
                             "standard input); several files are read as one (identifiers unique "
                             "across them), and records no protein pairs with are left aside")
    parser.add_argument("-o", "--output", default="-", metavar="OUT",
                        help="codon alignment file (default '-', standard output)")
    add_locus_options(parser, SINGLE)
    return parser


def _check_single_outputs(args: argparse.Namespace, stdout_closed: bool) -> None:
    if args.output == STDOUT and stdout_closed:
        raise InputError(STDOUT_NAME, "closed; give the alignment a file with -o")
    outputs = [path for path in (args.output, args.report, args.partitions, args.rename, args.html)
               if path is not None and path != STDOUT]
    check_outputs(outputs, [args.pep_aln, *args.cds, *option_inputs(args)],
                  stdout_is_output=args.output == STDOUT)
    check_writable(outputs)


def _output_format(args: argparse.Namespace, parser: argparse.ArgumentParser) -> str:
    """The alignment's format: --out-format's, else the one its name asks for; a warning
    where they differ."""
    out_format, named = output_format(args.output, args.out_format)
    if named is not None:
        print(f"{PROG}: warning: {args.output} is named as {named}; written as {out_format} "
              f"(--out-format)", file=sys.stderr)
    if args.keep_short and out_format != "fasta":
        parser.error(f"--keep-short needs FASTA output: {args.output} is {out_format}; other "
                     f"formats need equal rows")
    return out_format


def _single_job(args: argparse.Namespace, options: LocusOptions) -> LocusJob:
    """The locus to run; several CDS files are read here, as one source."""
    if len(args.cds) == 1:
        job = LocusJob(args.pep_aln, args.cds[0], args.output, None, args.partitions, args.rename,
                       args.kept_columns)
    else:
        from ..pairing.shared_cds import read_cds_source

        job = LocusJob(args.pep_aln, "", args.output, read_cds_source(args.cds), args.partitions,
                       args.rename, args.kept_columns)
    job.html_path = args.html
    return job


def single_main(argv: Sequence[str], guard: StopGuard, stdout_closed: bool = False) -> int:
    parser = single_parser()
    args = parser.parse_args(argv)
    if [args.pep_aln, *args.cds, args.kept_columns].count("-") > 1:
        parser.error("only one of PEP_ALN, CDS and --kept-columns can be standard input")
    outputs = OutputSet(guard)  # alignment, map, partitions and report: in place together
    try:
        _check_single_outputs(args, stdout_closed)
        options = locus_options(args, parser)
        options.out_format = _output_format(args, parser)
        reporter = Reporter(args.quiet, args.report, guard, outputs)
    except InputError as exc:
        return error(str(exc))
    try:
        job = _single_job(args, options)
        outcome = run_locus(job, options, guard, outputs)
        print_outcome(outcome, reporter)
        if outcome.status != Status.FAILED:
            reporter.finish()
            outputs.commit()
    except InputError as exc:
        return error(str(exc))
    finally:
        outputs.discard()  # nothing left to remove once committed
    if outcome.status != Status.FAILED or outcome.tally.left_out:  # it ran
        print_summary(outcome)
    return int(outcome.status)


def tables_main(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(prog=f"{PROG} tables", formatter_class=HelpFormatter,
                                     allow_abbrev=False,
                                     description="List the built-in genetic codes (NCBI numbers).")
    parser.parse_args(argv)
    from ..codes import format_table_list

    sys.stdout.write(format_table_list())
    return 0


def help_main(argv: Sequence[str]) -> int:
    """'ntpepmap help options'; 'ntpepmap help [batch]' as --help."""
    if list(argv) == ["options"]:
        from .options import shared_options_parser

        sys.stdout.write(shared_options_parser().format_help())
        return 0
    if list(argv) == ["batch"]:
        from ..batch.run import batch_parser

        sys.stdout.write(batch_parser().format_help())
        return 0
    if argv:
        return error(f"help {' '.join(argv)}: no such page (ntpepmap help [batch | options])")
    sys.stdout.write(single_parser().format_help())
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    args = list(sys.argv[1:] if argv is None else argv)
    guard = StopGuard()  # the run's one handling of stop signals, handed to what needs it
    guard.raise_on()
    stdout_closed = reopen_closed_standard_streams()
    try:
        if args[:1] == ["tables"]:
            return tables_main(args[1:])
        if args[:1] == ["help"]:
            return help_main(args[1:])
        if args[:1] == ["batch"]:
            from ..batch.run import batch_main
            return batch_main(args[1:], guard)
        return single_main(args, guard, stdout_closed)
    except MemoryError as exc:  # outside a locus: reading shared CDS files, a batch's set-up
        return error(out_of_memory_line(exc))
    except BrokenPipeError:
        # The reader went away (e.g. '| head'): the run stops as a shell tool does, its
        # files left as they were, and the exit-time flush kept quiet.
        silence_stdout()
        return CLOSED_PIPE_STATUS
    except KeyboardInterrupt as stop:  # every output is cleaned up by now
        print(f"{PROG}: interrupted by {signal_name(stop)}", file=sys.stderr)
        return exit_status(stop)
