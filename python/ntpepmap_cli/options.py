"""The options that one locus and a batch share, and what they become."""

from __future__ import annotations

import argparse

from .codes import CODES_BY_NUMBER
from .gene_table import load_gene_table
from .id_map import load_id_map
from .locus import LocusOptions
from .seqio import IN_FORMATS, OUT_FORMATS

PROG = "ntpepmap"


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
                           "(codons of A, C, G, T or U in either case; '*' lists the stop "
                           "codons)")


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
    pairing = prep.add_mutually_exclusive_group()
    pairing.add_argument("--pair-by-order", action="store_true",
                         help="pair the n-th CDS with the n-th aligned record "
                              "instead of by identifier")
    pairing.add_argument("--id-map", metavar="FILE",
                         help="pair through a file of two whitespace-separated columns, "
                              "protein identifier then CDS identifier; unlisted protein "
                              "identifiers pair by their own name")
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
    id_map = load_id_map(args.id_map) if args.id_map else None
    return LocusOptions(table_num=args.table, gene_table=gene_table, in_format=args.in_format,
                        out_format=args.out_format, wrap=args.wrap,
                        pair_by_order=args.pair_by_order, id_map=id_map, trim_stop=args.trim_stop,
                        keep_case=args.keep_case, strict=args.strict,
                        keep_short=args.keep_short)
