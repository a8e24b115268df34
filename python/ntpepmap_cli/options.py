"""The options that one locus and a batch share, and what they become."""

from __future__ import annotations

import argparse
import os
import re
import sys

from .codes import CODES_BY_NUMBER
from .gene_table import load_gene_table
from .header_pairing import pattern_rule
from .id_map import load_id_map
from .locus import LocusOptions
from .seqio import IN_FORMATS
from .writers import OUT_FORMATS
from .translation import FRAMESHIFT_POLICIES, MISMATCH_POLICIES, STOP_POLICIES

PROG = "ntpepmap"

# One table for both commands' --help; batch words its own status 1 and 2 lines.
EXIT_STATUS_TABLE = """\
exit status:
  0    every record written in full: masked or kept codons, stop codons and
       notes are in the summary and the problem lines, and change nothing here
  1    some record padded or left out (the output lacks data it was given){batch_one}
  2    usage or input error; an output refused; nothing written because every
       record was left out; --strict and any problem{batch_two}
  130  interrupted (143: terminated)

A record is padded when its protein row is shorter than the alignment's longest
(a ragged alignment): the row is given trailing gaps up to that width.
"""


class HelpFormatter(argparse.RawDescriptionHelpFormatter):
    """argparse's formatter for descriptions as written, without its import of shutil
    (and with it of bz2, lzma and fnmatch), which every parser pays for at start-up,
    help or not: the width of the terminal is found as shutil finds it."""

    def __init__(self, prog: str, indent_increment: int = 2, max_help_position: int = 24,
                 width: int | None = None) -> None:
        if width is None:
            width = _terminal_columns() - 2
        super().__init__(prog, indent_increment, max_help_position, width)


def _terminal_columns() -> int:
    """$COLUMNS, else the width of the terminal on standard output, else 80."""
    try:
        columns = int(os.environ.get("COLUMNS", "0"))
    except ValueError:
        columns = 0
    if columns <= 0:
        try:
            columns = os.get_terminal_size(sys.__stdout__.fileno()).columns  # type: ignore[union-attr]
        except (AttributeError, ValueError, OSError):
            columns = 0
    return columns if columns > 0 else 80


def add_locus_options(parser: argparse.ArgumentParser) -> None:
    """Options shared by one locus and a batch."""
    _add_code_options(parser)
    _add_format_options(parser)
    _add_preparation_options(parser)
    _add_trim_options(parser)
    _add_letter_options(parser)
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
                         "paml (as codeml reads it, names of digits too); clustal; nexus (the "
                         "codon positions as sets, as IQ-TREE and Biopython read them) "
                         "(default fasta)")
    io.add_argument("--wrap", type=int, default=0, metavar="N",
                    help="FASTA line width; 0 writes each sequence on one line (default 0)")
    io.add_argument("--drop-gap-columns", action="store_true",
                    help="leave out every codon column that has a gap in any row written "
                         "(as codeml's cleandata wants it)")


PARTITIONS_HELP = ("the three codon positions as partitions, in RAxML-NG's form (DNA, codon1 = "
                   "1-N\\3), which IQ-TREE's -p reads too")
RENAME_HELP = ("names every tree program reads ([A-Za-z0-9_.-], unique, at most 30 characters; "
               "t0001... where nothing is left), and a tab-separated map of new name and "
               "original identifier to restore them")


def add_name_file_options(parser: argparse.ArgumentParser, beside_each_output: bool) -> None:
    """--partitions and --rename: files of their own for one locus, or beside each output."""
    files = parser.add_argument_group("files for the next programs")
    if beside_each_output:
        files.add_argument("--partitions", action="store_true",
                           help=f"write {PARTITIONS_HELP}, beside each output as OUT.partitions")
        files.add_argument("--rename", action="store_true",
                           help=f"write {RENAME_HELP}, beside each output as OUT.names.tsv")
        return
    files.add_argument("--partitions", metavar="FILE", help=f"write to FILE {PARTITIONS_HELP}")
    files.add_argument("--rename", metavar="MAP", help=f"write {RENAME_HELP} to MAP")


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
    pairing.add_argument("--id-pattern", metavar="REGEX",
                         help="pair by what the pattern's one capture group finds in the whole "
                              "header line of each protein and CDS record, and by nothing else. "
                              "Without it, a protein whose identifier names no CDS is looked for "
                              "in the CDS headers: NCBI's [protein_id=X] and lcl|..._cds_X_N, "
                              "its Ensembl transcript:ENST... (with or without version), the "
                              "accession of db|ACC|NAME")
    prep.add_argument("--trim-stop", action=argparse.BooleanOptionalAction, default=True,
                      help="drop a final stop codon of the chosen code when the CDS is exactly "
                           "one codon longer than its residues (on by default; codes 27, 28 "
                           "and 31 use the codons that end genes there)")
    prep.add_argument("--no-locate", dest="locate", action="store_false",
                      help="do not search a CDS for its coding region: by default, a CDS whose "
                           "length fits neither the residues nor the residues and a stop codon "
                           "(an mRNA with UTRs, a partial first codon), or where more than half "
                           "of the codons fail, is searched in its three frames for the one "
                           "stretch that encodes the protein (at most max(2, 2 %%) residues "
                           "mismatched), which is then used as the CDS")
    prep.add_argument("--both-strands", action="store_true",
                      help="search the reverse complement too")


def _add_trim_options(parser: argparse.ArgumentParser) -> None:
    trim = parser.add_argument_group(
        "trimmed alignments",
        "Give the untrimmed protein alignment and the columns the trimmer kept: every\n"
        "codon is checked over the whole row, only the kept columns' codons are written.")
    kept = trim.add_mutually_exclusive_group()
    kept.add_argument("--kept-columns", metavar="FILE",
                      help="the kept columns, known by content: trimAl's -colnumbering output "
                           "('#ColumnsMap' line, 0-based), ClipKIT's log (-l, one line per "
                           "column) or a list such as 1-120,131,140-300 (1-based). In a batch: "
                           "a folder, each alignment's file named after it (a manifest names "
                           "them in a 4th column)")
    kept.add_argument("--blocks", action="store_true",
                      help="keep the columns that a line of '#' marks under each block of a "
                           "CLUSTAL alignment (as Gblocks writes and PAL2NAL's -blockonly reads)")


def _add_letter_options(parser: argparse.ArgumentParser) -> None:
    letters = parser.add_argument_group(
        "letters of the codon alignment",
        "Codons are checked in upper case, with U read as T; the alignment carries\n"
        "the CDS's own letters (case, ambiguity letters, U) unless told otherwise.")
    case = letters.add_mutually_exclusive_group()
    case.add_argument("--keep-case", action="store_true",
                      help="write the CDS's letters in their own case (the default)")
    case.add_argument("--upper-case", action="store_true", help="write every letter in upper case")
    letters.add_argument("--resolve-ambiguity", action="store_true",
                         help="write an ambiguous triplet (AAR, YTG, ...) as the codon it was "
                              "resolved to for its residue")
    letters.add_argument("--t-for-u", action="store_true", help="write RNA's U as T")
    letters.add_argument("--mismatch", choices=MISMATCH_POLICIES, default="mask",
                         help="a triplet that does not encode its residue, or a residue the "
                              "code lacks: mask writes NNN in the triplet's case, keep writes "
                              "the triplet, drop leaves the record out (default mask). A record "
                              "where more than half of the residues fail is left out as a "
                              "wrong pairing.")
    letters.add_argument("--frameshifts", choices=FRAMESHIFT_POLICIES, default="mask",
                         help="a CDS that fits its protein only with a nucleotide or two gained "
                              "or lost (at most max(2, 1 %%) frameshifts): mask writes each codon "
                              "a frameshift breaks as NNN and leaves extra nucleotides out, drop "
                              "leaves the record out (default mask). A digit inside a protein "
                              "row (PAL2NAL's notation) is always read as that many nucleotides "
                              "that encode no residue.")
    letters.add_argument("--stops", choices=STOP_POLICIES, default="keep",
                         help="a stop codon the protein carries as '*': keep writes it as in the "
                              "CDS, with a note for each one inside the protein; mask writes NNN "
                              "in its case, terminal ones too (HyPhy and IQ-TREE's codon models "
                              "refuse stop codons); drop-columns leaves its column out of every "
                              "row (default keep)")


def _add_report_options(parser: argparse.ArgumentParser) -> None:
    out = parser.add_argument_group("reports and failures")
    out.add_argument("--strict", action="store_true",
                     help="treat any problem as fatal: write nothing, exit 2")
    out.add_argument("--keep-short", action="store_true",
                     help="write records whose CDS runs out of nucleotides, with a codon row "
                          "shorter than the alignment (FASTA output only)")
    out.add_argument("-q", "--quiet", action="store_true",
                     help="no line per problem on standard error (errors and the summary stay)")
    out.add_argument("--report", metavar="FILE",
                     help="write the back-translation's framed report of each record with a "
                          "problem to FILE")


def locus_options(args: argparse.Namespace, parser: argparse.ArgumentParser) -> LocusOptions:
    # A batch runs each locus on one thread: its workers (-j) already share the CPUs.
    threads = getattr(args, "threads", 1)
    if threads < 0:
        parser.error("--threads must be 1 or more (0: one per CPU)")
    if args.keep_short and args.out_format != "fasta":
        parser.error("--keep-short needs --out-format fasta: other formats need equal rows")
    if args.wrap < 0:
        parser.error("--wrap must be 0 or more")
    gene_table = load_gene_table(args.gene_table) if args.gene_table else None
    id_map = load_id_map(args.id_map) if args.id_map else None
    if args.id_pattern is not None:
        try:
            pattern_rule(args.id_pattern)
        except (ValueError, re.error) as exc:
            parser.error(f"--id-pattern: {exc}")
    return LocusOptions(table_num=args.table, gene_table=gene_table, in_format=args.in_format,
                        out_format=args.out_format, wrap=args.wrap,
                        pair_by_order=args.pair_by_order, id_map=id_map, trim_stop=args.trim_stop,
                        strict=args.strict, keep_short=args.keep_short,
                        mismatch=args.mismatch, frameshifts=args.frameshifts,
                        upper_case=args.upper_case,
                        resolve_ambiguity=args.resolve_ambiguity, t_for_u=args.t_for_u,
                        drop_gap_columns=args.drop_gap_columns,
                        keep_reports=args.report is not None, locate=args.locate,
                        both_strands=args.both_strands, threads=threads,
                        id_pattern=args.id_pattern, rename=bool(args.rename),
                        stops=args.stops, blocks=args.blocks)
