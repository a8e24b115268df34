"""The ``ntpepmap`` console script: one locus, a batch of loci, or the code list."""

from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Sequence

from .codes import format_table_list
from .errors import InputError
from .locus import LocusJob, Status, run_locus
from .messages import Reporter, error, print_outcome
from .options import PROG, add_locus_options, locus_options

SINGLE_DESCRIPTION = """\
Back-translate an aligned protein file into a codon alignment, using the
unaligned coding sequences (CDS) of the same records.

Records are paired by identifier (the first word of each header), and the
alignment is written in the order of the protein alignment. Records that the
back-translation reports are named on standard error; a record whose codon
row would be shorter than the alignment is left out.

other commands:
  ntpepmap batch ...   many loci in parallel (ntpepmap batch --help)
  ntpepmap tables      the built-in genetic codes
"""

EXIT_STATUS = """\
exit status:
  0  no record was reported
  1  some records were reported or left out (the alignment is still written)
  2  usage or input error, or --strict and a record was reported
"""


class _VersionAction(argparse.Action):
    """argparse's version action, with the version looked up only when asked for."""

    def __init__(self, option_strings: Sequence[str], dest: str = argparse.SUPPRESS,
                 default: str = argparse.SUPPRESS,
                 help: str = "show program's version number and exit") -> None:
        super().__init__(option_strings=option_strings, dest=dest, default=default, nargs=0,
                         help=help)

    def __call__(self, parser: argparse.ArgumentParser, namespace: argparse.Namespace,
                 values: object, option_string: str | None = None) -> None:
        from . import __version__

        sys.stdout.write(f"{parser.prog} {__version__}\n")
        parser.exit()


def single_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG, usage="%(prog)s [options] PEP_ALN CDS [-o OUT]\n"
                         "       %(prog)s batch ...\n       %(prog)s tables",
        description=SINGLE_DESCRIPTION, epilog=EXIT_STATUS,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action=_VersionAction)
    parser.add_argument("pep_aln", metavar="PEP_ALN",
                        help="aligned protein sequences, FASTA, CLUSTAL or PHYLIP, plain or "
                             "gzip/bzip2/xz-compressed ('-' for standard input)")
    parser.add_argument("cds", metavar="CDS",
                        help="unaligned coding sequences, FASTA, plain or compressed ('-' for standard input)")
    parser.add_argument("-o", "--output", default="-", metavar="OUT",
                        help="codon alignment file (default '-', standard output)")
    add_locus_options(parser)
    return parser


def single_main(argv: Sequence[str]) -> int:
    parser = single_parser()
    args = parser.parse_args(argv)
    if args.pep_aln == "-" and args.cds == "-":
        parser.error("only one of PEP_ALN and CDS can be standard input")
    try:
        options = locus_options(args, parser)
        reporter = Reporter(args.quiet, args.report)
    except InputError as exc:
        return error(str(exc))
    try:
        outcome = run_locus(LocusJob(args.pep_aln, args.cds, args.output), options)
        print_outcome(outcome, reporter)
    finally:
        reporter.close()
    return int(outcome.status)


def tables_main(argv: Sequence[str]) -> int:
    parser = argparse.ArgumentParser(prog=f"{PROG} tables",
                                     description="List the built-in genetic codes (NCBI numbers).")
    parser.parse_args(argv)
    sys.stdout.write(format_table_list())
    return 0


def main(argv: Sequence[str] | None = None) -> int:
    args = list(sys.argv[1:] if argv is None else argv)
    try:
        if args[:1] == ["tables"]:
            return tables_main(args[1:])
        if args[:1] == ["batch"]:
            from .batch import batch_main
            return batch_main(args[1:])
        return single_main(args)
    except BrokenPipeError:
        # The reader went away (e.g. '| head'): keep the exit-time flush quiet.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return Status.FAILED
