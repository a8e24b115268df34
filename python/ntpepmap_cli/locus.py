"""One locus: read and pair the two files, back-translate, write the alignment.

Also the unit of work of batch mode, so it never prints: everything meant
for the user comes back in the LocusOutcome.
"""

from __future__ import annotations

import re
import sys
from dataclasses import dataclass, field
from enum import IntEnum
from pathlib import Path
from typing import Dict, List, Optional

from . import __version__
from .capture import captured_fd1
from .codes import terminal_stops
from .errors import InputError, name_some
from .pairing import (Pair, ShortCds, alignment_width, check_nucleotide, check_unique,
                      pair_by_identifier, pair_by_order, prepare_pairs)
from .seqio import Record, alignment_lines, parse_alignment, parse_fasta, read_text


class Status(IntEnum):
    """Also the exit status of a single-locus run."""
    CLEAN = 0
    REPORTED = 1
    FAILED = 2


@dataclass(frozen=True)
class LocusOptions:
    table_num: int = 1
    gene_table: Optional[Dict[str, List[str]]] = None
    in_format: str = "auto"
    out_format: str = "fasta"
    wrap: int = 0
    pair_by_order: bool = False
    trim_stop: bool = True
    keep_case: bool = False
    strict: bool = False
    keep_short: bool = False


@dataclass(frozen=True)
class LocusJob:
    pep_path: str
    cds_path: str
    out_path: str = "-"


@dataclass
class LocusOutcome:
    job: LocusJob
    status: Status = Status.CLEAN
    reports: str = ""                 # the module's reports, verbatim
    notes: List[str] = field(default_factory=list)  # one line each
    written: int = 0


def run_locus(job: LocusJob, options: LocusOptions) -> LocusOutcome:
    outcome = LocusOutcome(job)
    try:
        _run(job, options, outcome)
    except InputError as exc:
        outcome.status = Status.FAILED
        outcome.notes.append(str(exc))
    return outcome


def file_stem(path: str) -> str:
    return "stdin" if path == "-" else Path(path).stem


def _read_inputs(job: LocusJob, options: LocusOptions) -> tuple[List[Record], List[Record], int]:
    proteins = parse_alignment(read_text(job.pep_path), job.pep_path, options.in_format)
    check_unique(proteins, job.pep_path)
    width = alignment_width(proteins, job.pep_path)
    cds = parse_fasta(read_text(job.cds_path), job.cds_path)
    check_nucleotide(cds, job.cds_path)
    if options.pair_by_order:  # the CDS names play no part
        return proteins, pair_by_order(proteins, cds, job.pep_path, job.cds_path), width
    check_unique(cds, job.cds_path)
    return proteins, pair_by_identifier(proteins, cds, job.pep_path, job.cds_path), width


def _run(job: LocusJob, options: LocusOptions, outcome: LocusOutcome) -> None:
    proteins, paired_cds, width = _read_inputs(job, options)
    stops = terminal_stops(options.table_num, options.gene_table)
    pairs, too_short = prepare_pairs(proteins, paired_cds, stops,
                                     options.trim_stop, options.keep_case)
    del proteins, paired_cds
    stem = file_stem(job.pep_path)
    rows = back_translate(stem, pairs, options, job.pep_path, outcome)
    del pairs
    expected = 3 * width
    rows = _full_rows(job, options, outcome, rows, too_short, expected,
                      reported_headers(outcome.reports, stem))
    write_alignment(job.out_path, rows, expected, options)
    outcome.written = len(rows)


def _full_rows(job: LocusJob, options: LocusOptions, outcome: LocusOutcome,
               rows: List[Record], too_short: List[ShortCds], expected: int,
               reported: List[str]) -> List[Record]:
    """The rows to write: never a ragged alignment unless --keep-short."""
    ragged = [(ident, len(row)) for ident, row in rows if len(row) != expected]
    if options.strict and (reported or too_short or ragged):
        problems = list(dict.fromkeys(reported + [s.ident for s in too_short]
                                      + [ident for ident, _ in ragged]))
        raise InputError(job.pep_path, f"--strict: {len(problems)} record(s) with problems: "
                                       f"{name_some(problems)}; nothing written")
    if outcome.reports or too_short or ragged:
        outcome.status = Status.REPORTED
    outcome.notes.extend(_short_cds_notes(job.cds_path, too_short))
    outcome.notes.extend(_ragged_notes(job.pep_path, ragged, expected, options.keep_short))
    if options.keep_short:
        return rows
    return [(ident, row) for ident, row in rows if len(row) == expected]


def _short_cds_notes(cds_path: str, too_short: List[ShortCds]) -> List[str]:
    return [f"{cds_path}: {s.ident}: CDS of {s.nucleotides} nt is too short for "
            f"{s.residues} residues; left out" for s in too_short]


def _ragged_notes(pep_path: str, ragged: List[tuple[str, int]], expected: int,
                  keep_short: bool) -> List[str]:
    fate = "written anyway (--keep-short)" if keep_short else "left out"
    return [f"{pep_path}: {ident}: codon row of {length} columns, alignment has "
            f"{expected}; {fate}" for ident, length in ragged]


def _call_module(stem: str, pairs: List[Pair], options: LocusOptions) -> str:
    import ntpepmap

    if options.gene_table is None:
        seqs = {p.ident: ((p.ident, p.row), (0, p.ident, p.cds)) for p in pairs}
        return ntpepmap.pepthread(stem, options.table_num, seqs)
    custom = {p.ident: ((p.ident, p.row), (p.ident, p.cds)) for p in pairs}
    return ntpepmap.pepthread_original_args(stem, options.gene_table, custom)


def back_translate(stem: str, pairs: List[Pair], options: LocusOptions,
                   pep_path: str, outcome: LocusOutcome) -> List[Record]:
    """Codon rows in the order of pairs; the module's reports go to outcome."""
    captured: List[str] = []
    try:
        with captured_fd1(captured):
            result = _call_module(stem, pairs, options)
    except (KeyboardInterrupt, SystemExit):
        raise
    except BaseException as exc:  # the module's aborts derive from BaseException
        raise InputError(pep_path,
                         f"back-translation aborted: {type(exc).__name__}: {exc}") from None
    finally:
        outcome.reports = "".join(captured)
    lines = result.split("\n")
    by_ident = dict(zip(lines[0:-1:2], lines[1::2]))
    return [(p.ident, by_ident[p.ident]) for p in pairs]


_REPORT_HEADER = "^===ERROR CAUGHT IN FILE {stem} AND HEADER (.*):$"


def reported_headers(reports: str, stem: str) -> List[str]:
    if not reports:
        return []
    pattern = re.compile(_REPORT_HEADER.format(stem=re.escape(stem)), re.MULTILINE)
    return pattern.findall(reports)


def write_alignment(out_path: str, rows: List[Record], ncols: int,
                    options: LocusOptions) -> None:
    lines = alignment_lines(rows, ncols, options.out_format, options.wrap, __version__)
    if out_path == "-":
        sys.stdout.writelines(lines)
        sys.stdout.flush()
        return
    try:
        Path(out_path).parent.mkdir(parents=True, exist_ok=True)
        with open(out_path, "w", encoding="utf-8", newline="\n") as out:
            out.writelines(lines)
    except OSError as exc:
        raise InputError(out_path, exc.strerror or str(exc)) from None
