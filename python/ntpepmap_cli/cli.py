"""The ``ntpepmap`` console script: one locus, a batch of loci, or the code list."""

from __future__ import annotations

import argparse
import os
import sys
from collections.abc import Callable, Sequence
from io import TextIOWrapper

from .codes import CODES_BY_NUMBER, format_table_list
from .errors import InputError
from .locus import LocusJob, LocusOptions, LocusOutcome, Status, run_locus
from .seqio import IN_FORMATS, OUT_FORMATS, read_text

PROG = "ntpepmap"

Write = Callable[[str], object]

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


class Reporter:
    """Where the module's reports go: standard error unless quiet, and --report FILE."""

    def __init__(self, quiet: bool, report_path: str | None) -> None:
        self.quiet = quiet
        self.report_file: TextIOWrapper | None = None
        if report_path is not None:
            try:
                self.report_file = open(report_path, "w", encoding="utf-8")
            except OSError as exc:
                raise InputError(report_path, exc.strerror or str(exc)) from None

    def reports(self, text: str, write_stderr: Write | None = None) -> None:
        if not text:
            return
        if self.report_file is not None:
            self.report_file.write(text)
        if not self.quiet:
            (write_stderr or sys.stderr.write)(text)

    def close(self) -> None:
        if self.report_file is not None:
            self.report_file.close()


def error(message: str) -> int:
    print(f"{PROG}: error: {message}", file=sys.stderr)
    return Status.FAILED


def _codon_list(value: object) -> bool:
    return isinstance(value, list) and all(isinstance(codon, str) for codon in value)


def load_gene_table(path: str) -> dict[str, list[str]]:
    """A JSON object of one-letter keys to codon lists, checked before any work."""
    import json

    try:
        table = json.loads(read_text(path))
    except json.JSONDecodeError as exc:
        raise InputError(path, f"not JSON: {exc.msg} at line {exc.lineno}") from None
    if not isinstance(table, dict):
        raise InputError(path, "the genetic code must be a JSON object of letter to codon list")
    bad = [key for key, value in table.items() if len(key) != 1 or not _codon_list(value)]
    if bad:
        raise InputError(path, f"entries must map one letter to a list of codons: {bad[:3]}")
    return table


def add_locus_options(parser: argparse.ArgumentParser) -> None:
    """Options shared by one locus and a batch."""
    _add_code_options(parser)
    _add_format_options(parser)
    _add_preparation_options(parser)
    _add_report_options(parser)


def _add_code_options(parser: argparse.ArgumentParser) -> None:
    code = parser.add_argument_group("genetic code").add_mutually_exclusive_group()
    code.add_argument("-t", "--table", type=int, default=1, metavar="N",
                      choices=sorted(CODES_BY_NUMBER),
                      help="built-in genetic code by NCBI number "
                           "(default 1; see 'ntpepmap tables')")
    code.add_argument("--gene-table", metavar="FILE",
                      help="own genetic code: a JSON object of letter to codon list "
                           "(codons are matched as written; '*' lists the stop codons)")


def _add_format_options(parser: argparse.ArgumentParser) -> None:
    io = parser.add_argument_group("formats")
    io.add_argument("--in-format", choices=IN_FORMATS, default="auto",
                    help="protein alignment format (default: detected from the first line)")
    io.add_argument("--out-format", choices=OUT_FORMATS, default="fasta",
                    help="fasta; phylip (relaxed, as RAxML-NG and IQ-TREE read it); "
                         "paml (as codeml reads it); clustal (default fasta)")
    io.add_argument("--wrap", type=int, default=0, metavar="N",
                    help="FASTA line width; 0 writes each sequence on one line (default 0)")


def _add_preparation_options(parser: argparse.ArgumentParser) -> None:
    prep = parser.add_argument_group("preparation of the input")
    prep.add_argument("--pair-by-order", action="store_true",
                      help="pair the n-th CDS with the n-th aligned record "
                           "instead of by identifier")
    prep.add_argument("--trim-stop", action=argparse.BooleanOptionalAction, default=True,
                      help="drop a final stop codon of the chosen code when the CDS is exactly "
                           "one codon longer than its residues (on by default; codes 27, 28 "
                           "and 31 use the codons that end genes there)")
    prep.add_argument("--keep-case", action="store_true",
                      help="pass nucleotides as written; by default they are upper-cased, "
                           "since codons are matched case-sensitively")


def _add_report_options(parser: argparse.ArgumentParser) -> None:
    out = parser.add_argument_group("reports and failures")
    out.add_argument("--strict", action="store_true",
                     help="treat any reported record as fatal: write nothing, exit 2")
    out.add_argument("--keep-short", action="store_true",
                     help="write records whose codon row is shorter than the alignment "
                          "(FASTA output only)")
    out.add_argument("-q", "--quiet", action="store_true",
                     help="do not copy the back-translation reports to standard error")
    out.add_argument("--report", metavar="FILE",
                     help="also write the back-translation reports to FILE")


def locus_options(args: argparse.Namespace, parser: argparse.ArgumentParser) -> LocusOptions:
    if args.keep_short and args.out_format != "fasta":
        parser.error("--keep-short needs --out-format fasta: other formats need equal rows")
    if args.wrap < 0:
        parser.error("--wrap must be 0 or more")
    gene_table = load_gene_table(args.gene_table) if args.gene_table else None
    return LocusOptions(table_num=args.table, gene_table=gene_table, in_format=args.in_format,
                        out_format=args.out_format, wrap=args.wrap,
                        pair_by_order=args.pair_by_order, trim_stop=args.trim_stop,
                        keep_case=args.keep_case, strict=args.strict,
                        keep_short=args.keep_short)


def single_parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(
        prog=PROG, usage="%(prog)s [options] PEP_ALN CDS [-o OUT]\n"
                         "       %(prog)s batch ...\n       %(prog)s tables",
        description=SINGLE_DESCRIPTION, epilog=EXIT_STATUS,
        formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--version", action=_VersionAction)
    parser.add_argument("pep_aln", metavar="PEP_ALN",
                        help="aligned protein sequences, FASTA or CLUSTAL ('-' for standard input)")
    parser.add_argument("cds", metavar="CDS",
                        help="unaligned coding sequences, FASTA ('-' for standard input)")
    parser.add_argument("-o", "--output", default="-", metavar="OUT",
                        help="codon alignment file (default '-', standard output)")
    add_locus_options(parser)
    return parser


def print_outcome(outcome: LocusOutcome, reporter: Reporter,
                  write: Write | None = None) -> None:
    reporter.reports(outcome.reports, write)
    emit = write or sys.stderr.write
    for note in outcome.notes:
        emit(f"{PROG}: {'error: ' if outcome.status == Status.FAILED else ''}{note}\n")


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
