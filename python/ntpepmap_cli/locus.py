"""One locus: read and pair the two files, back-translate, write the alignment.

Also the unit of work of batch mode, so it never prints: everything meant
for the user comes back in the LocusOutcome.
"""

from __future__ import annotations

import gc
import os
import re
from enum import IntEnum
from collections.abc import Callable

from .capture import captured_fd1
from .codes import terminal_stops
from .errors import InputError, name_some, shown_path
from .outputs import output_name, output_stream
from .pairing import (NUCLEOTIDE_LETTERS, Pair, ShortCds, check_names_fit, check_not_swapped,
                      check_nucleotide, even_rows, pair_by_identifier, pair_by_order,
                      prepare_pairs)
from .seqio import Record, alignment_lines, read_alignment, read_fasta_marked


class Status(IntEnum):
    """Also the exit status of a single-locus run."""
    CLEAN = 0
    REPORTED = 1
    FAILED = 2


# Plain classes, not NamedTuple or dataclass: importing typing or dataclasses
# would cost a small locus more start-up time than its work.
class LocusOptions:
    """How every locus of a run is read, back-translated and written."""

    __slots__ = ("table_num", "gene_table", "in_format", "out_format", "wrap", "pair_by_order",
                 "id_map", "trim_stop", "keep_case", "strict", "keep_short")

    def __init__(self, table_num: int = 1, gene_table: dict[str, list[str]] | None = None,
                 in_format: str = "auto", out_format: str = "fasta", wrap: int = 0,
                 pair_by_order: bool = False, id_map: dict[str, str] | None = None,
                 trim_stop: bool = True, keep_case: bool = False,
                 strict: bool = False, keep_short: bool = False) -> None:
        self.table_num = table_num
        self.gene_table = gene_table
        self.in_format = in_format
        self.out_format = out_format
        self.wrap = wrap
        self.pair_by_order = pair_by_order
        self.id_map = id_map  # protein identifier -> CDS identifier
        self.trim_stop = trim_stop
        self.keep_case = keep_case
        self.strict = strict
        self.keep_short = keep_short


class LocusJob:
    """The two input files of a locus and its output ('-': standard output)."""

    __slots__ = ("pep_path", "cds_path", "out_path")

    def __init__(self, pep_path: str, cds_path: str, out_path: str = "-") -> None:
        self.pep_path = pep_path
        self.cds_path = cds_path
        self.out_path = out_path

    def __repr__(self) -> str:
        return f"LocusJob({self.pep_path!r}, {self.cds_path!r}, {self.out_path!r})"


class LocusOutcome:
    """What became of a locus; filled in as the locus runs."""

    def __init__(self, job: LocusJob, status: Status = Status.CLEAN, reports: str = "",
                 notes: list[str] | None = None, written: int = 0) -> None:
        self.job = job
        self.status = status
        self.reports = reports                        # the module's reports, verbatim
        self.notes: list[str] = [] if notes is None else notes  # one line each
        self.written = written

    def __repr__(self) -> str:
        return (f"LocusOutcome({self.job!r}, {self.status!r}, reports={self.reports!r}, "
                f"notes={self.notes!r}, written={self.written})")


def run_locus(job: LocusJob, options: LocusOptions) -> LocusOutcome:
    outcome = LocusOutcome(job)
    # A locus makes a few tuples per record and no cycles: the collector's
    # passes over them would only cost time.
    collecting = gc.isenabled()
    gc.disable()
    try:
        _run(job, options, outcome)
    except InputError as exc:
        outcome.status = Status.FAILED
        outcome.notes.append(str(exc))
    finally:
        if collecting:
            gc.enable()
    return outcome


def file_stem(path: str) -> str:
    """The file name without its last suffix, as pathlib's stem (not imported for this)."""
    if path == "-":
        return "stdin"
    if os.altsep:
        path = path.replace(os.altsep, os.sep)
    name = next((part for part in reversed(path.split(os.sep)) if part not in ("", ".")), "")
    dot = name.rfind(".")
    return name[:dot] if 0 < dot < len(name) - 1 else name


def _read_and_pair(job: LocusJob,
                   options: LocusOptions) -> tuple[list[Record], list[Record], list[str]]:
    """The protein records, the CDS of each in their order, and the identifiers
    paired by occurrence."""
    proteins = read_alignment(job.pep_path, options.in_format)
    cds, marked = read_fasta_marked(job.cds_path, NUCLEOTIDE_LETTERS)
    check_not_swapped(proteins, cds, job.pep_path, job.cds_path)
    check_nucleotide(cds, job.cds_path, upper_case=not options.keep_case, marked=marked)
    check_names_fit(proteins, options.out_format, job.pep_path)
    if options.pair_by_order:  # the CDS names play no part
        return proteins, pair_by_order(proteins, cds, job.pep_path, job.cds_path), []
    paired, repeated = pair_by_identifier(proteins, cds, job.pep_path, job.cds_path,
                                          options.id_map)
    return proteins, paired, repeated


def _even_rows(job: LocusJob, options: LocusOptions, outcome: LocusOutcome,
               proteins: list[Record]) -> int:
    """The alignment's width, with every row made as wide; a padded row is a problem."""
    width, padded = even_rows(proteins)
    if not padded:
        return width
    if options.strict:
        raise strict_refusal(job.pep_path, [ident for ident, _ in padded])
    outcome.status = Status.REPORTED
    outcome.notes.extend(f"{shown_path(job.pep_path)}: {ident}: protein row of {length} "
                         f"columns padded with {width - length} trailing gap(s) to the "
                         f"alignment's {width}" for ident, length in padded)
    return width


def strict_refusal(path: str, problems: list[str]) -> InputError:
    return InputError(path, f"--strict: {len(problems)} record(s) with problems: "
                            f"{name_some(problems)}; nothing written")


def _read_inputs(job: LocusJob, options: LocusOptions,
                 outcome: LocusOutcome) -> tuple[list[Record], list[Record], int]:
    """The protein rows, all as wide as the alignment, the CDS of each and the width."""
    proteins, paired_cds, repeated = _read_and_pair(job, options)
    width = _even_rows(job, options, outcome, proteins)
    if repeated:
        outcome.notes.append(f"{shown_path(job.pep_path)}: {len(repeated)} repeated "
                             f"identifier(s) paired by occurrence, the n-th with the n-th: "
                             f"{name_some(repeated)}")
    return proteins, paired_cds, width


def _run(job: LocusJob, options: LocusOptions, outcome: LocusOutcome) -> None:
    proteins, paired_cds, width = _read_inputs(job, options, outcome)
    stops = terminal_stops(options.table_num, options.gene_table)
    pairs, too_short = prepare_pairs(proteins, paired_cds, stops, options.trim_stop)
    del proteins, paired_cds
    stem = file_stem(job.pep_path)
    text = translate(stem, pairs, options, job.pep_path, outcome)
    expected = 3 * width
    if _text_is_the_alignment(text, pairs, expected, too_short, outcome, options):
        idents = len(pairs)
        del pairs
        write_text(job.out_path, text)
        outcome.written = idents
        return
    rows = rows_of(text, pairs)
    del pairs, text
    rows = _full_rows(job, options, outcome, rows, too_short, expected,
                      reported_headers(outcome.reports, stem))
    write_alignment(job.out_path, rows, expected, options)
    outcome.written = len(rows)


def _text_is_the_alignment(text: str, pairs: list[Pair], expected: int,
                           too_short: list[ShortCds], outcome: LocusOutcome,
                           options: LocusOptions) -> bool:
    """Whether the module's text, '>name' and row per record, is the output file as it is.

    Only a clean run qualifies: a row comes out short only with a report, so
    with no report and the total length of full rows every row is full.
    """
    if options.out_format != "fasta" or options.wrap or too_short or outcome.reports:
        return False
    return len(text) == sum(len(ident) for ident, _, _ in pairs) + (expected + 3) * len(pairs)


def _full_rows(job: LocusJob, options: LocusOptions, outcome: LocusOutcome,
               rows: list[Record], too_short: list[ShortCds], expected: int,
               reported: list[str]) -> list[Record]:
    """The rows to write: never a ragged alignment unless --keep-short."""
    ragged = [(ident, len(row)) for ident, row in rows if len(row) != expected]
    if options.strict and (reported or too_short or ragged):
        problems = list(dict.fromkeys(reported + [s.ident for s in too_short]
                                      + [ident for ident, _ in ragged]))
        raise strict_refusal(job.pep_path, problems)
    if outcome.reports or too_short or ragged:
        outcome.status = Status.REPORTED
    outcome.notes.extend(_short_cds_notes(job.cds_path, too_short))
    outcome.notes.extend(_ragged_notes(job.pep_path, ragged, expected, options.keep_short))
    if options.keep_short:
        return rows
    return [(ident, row) for ident, row in rows if len(row) == expected]


def _short_cds_notes(cds_path: str, too_short: list[ShortCds]) -> list[str]:
    return [f"{cds_path}: {s.ident}: CDS of {s.nucleotides} nt is too short for "
            f"{s.residues} residues; left out" for s in too_short]


def _ragged_notes(pep_path: str, ragged: list[tuple[str, int]], expected: int,
                  keep_short: bool) -> list[str]:
    fate = "written anyway (--keep-short)" if keep_short else "left out"
    return [f"{pep_path}: {ident}: codon row of {length} columns, alignment has "
            f"{expected}; {fate}" for ident, length in ragged]


def _call_module(stem: str, pairs: list[Pair], options: LocusOptions) -> str:
    """The module's text, each record named '>' + identifier: FASTA as it comes."""
    import ntpepmap

    names = _record_names(pairs)
    if options.gene_table is None:
        seqs = {name: ((ident, row), (0, ident, cds))
                for name, (ident, row, cds) in zip(names, pairs)}
        return ntpepmap.pepthread(stem, options.table_num, seqs)
    custom = {name: ((ident, row), (ident, cds)) for name, (ident, row, cds) in zip(names, pairs)}
    return ntpepmap.pepthread_original_args(stem, options.gene_table, custom)


def _record_names(pairs: list[Pair]) -> list[str]:
    """'>' + identifier, and a repeat's number after a space where an identifier
    repeats: the module's records need names of their own. A numbered name
    makes the text longer than the alignment, so it is never written as it is.
    """
    names = [">" + ident for ident, _, _ in pairs]
    if len(set(names)) == len(names):
        return names
    seen: dict[str, int] = {}
    for index, name in enumerate(names):
        seen[name] = seen.get(name, 0) + 1
        if seen[name] > 1:
            names[index] = f"{name} {seen[name]}"
    return names


def translate(stem: str, pairs: list[Pair], options: LocusOptions,
              pep_path: str, outcome: LocusOutcome) -> str:
    """The module's text for pairs; its reports go to outcome."""
    captured: list[str] = []
    try:
        with captured_fd1(captured):
            return _call_module(stem, pairs, options)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as exc:  # the module's aborts derive from BaseException
        raise InputError(pep_path,
                         f"back-translation aborted: {type(exc).__name__}: {exc}") from None
    finally:
        outcome.reports = "".join(captured)


def rows_of(text: str, pairs: list[Pair]) -> list[Record]:
    """Codon rows in the order of pairs, from the module's text, which keeps that order."""
    rows = text.split("\n")[1::2]
    return [(ident, row) for (ident, _, _), row in zip(pairs, rows)]


_WRITE_PIECE = 1 << 18

_REPORT_HEADER = "^===ERROR CAUGHT IN FILE {stem} AND HEADER (.*):$"


def reported_headers(reports: str, stem: str) -> list[str]:
    if not reports:
        return []
    pattern = re.compile(_REPORT_HEADER.format(stem=re.escape(stem)), re.MULTILINE)
    return pattern.findall(reports)


def _write_pieces(write: Callable[[str], object], text: str) -> None:
    # Piece by piece: encoding the whole text at once would fault in a second
    # copy of it.
    for start in range(0, len(text), _WRITE_PIECE):
        write(text[start:start + _WRITE_PIECE])


def write_text(out_path: str, text: str) -> None:
    """Writes text, already in its output format, to out_path ('-': standard output)."""
    with output_stream(out_path) as out:
        _write_pieces(out.write, text)


def _version_for(out_format: str) -> str:
    if out_format != "clustal":  # the only format that names the version
        return ""
    from . import __version__

    return __version__


def write_alignment(out_path: str, rows: list[Record], ncols: int,
                    options: LocusOptions) -> None:
    if not rows:  # an empty alignment would pass for a result
        raise InputError(output_name(out_path), "every record was left out; nothing written")
    lines = alignment_lines(rows, ncols, options.out_format, options.wrap,
                            _version_for(options.out_format))
    with output_stream(out_path) as out:
        out.writelines(lines)
