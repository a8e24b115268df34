"""One locus: read and pair the two files, back-translate, write the alignment.

Also the unit of work of batch mode, so it never prints: everything meant
for the user comes back in the LocusOutcome. The steps up to the written
alignment (align_locus) serve the Python API as well, on records it was
handed instead of files.
"""

from __future__ import annotations

import gc
import os
from enum import IntEnum

from .codes import terminal_stops
from .errors import InputError, name_some, shown_path
from .outputs import STDOUT, output_name, output_stream, write_file
from .problems import (CDS_TOO_SHORT, LEFT_OUT, PADDED, ROW_TOO_SHORT, WRITTEN_SHORT,
                       Problem)
from .pairing import (NUCLEOTIDE_LETTERS, Pair, ShortCds, check_names_fit, check_not_swapped,
                      check_nucleotide, even_rows, pair_by_identifier, pair_by_order,
                      prepare_pairs)
from .kept_columns import KeptColumns, block_columns, read_kept_columns
from .seqio import (DecompressedAhead, Record, alignment_lines, read_alignment,
                    read_alignment_blocks, read_fasta_marked)
from .translation import EngineSettings, Tally, Translated, translate_pairs


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
                 "id_map", "trim_stop", "strict", "keep_short", "mismatch", "upper_case",
                 "resolve_ambiguity", "t_for_u", "drop_gap_columns", "keep_reports", "locate",
                 "both_strands", "threads", "blocks")

    def __init__(self, table_num: int = 1, gene_table: dict[str, list[str]] | None = None,
                 in_format: str = "auto", out_format: str = "fasta", wrap: int = 0,
                 pair_by_order: bool = False, id_map: dict[str, str] | None = None,
                 trim_stop: bool = True, strict: bool = False, keep_short: bool = False,
                 mismatch: str = "mask", upper_case: bool = False,
                 resolve_ambiguity: bool = False, t_for_u: bool = False,
                 drop_gap_columns: bool = False, keep_reports: bool = False, locate: bool = True,
                 both_strands: bool = False, threads: int = 0, blocks: bool = False) -> None:
        self.table_num = table_num
        self.gene_table = gene_table
        self.in_format = in_format
        self.out_format = out_format
        self.wrap = wrap
        self.pair_by_order = pair_by_order
        self.id_map = id_map  # protein identifier -> CDS identifier
        self.trim_stop = trim_stop
        self.strict = strict
        self.keep_short = keep_short
        self.mismatch = mismatch
        self.upper_case = upper_case
        self.resolve_ambiguity = resolve_ambiguity
        self.t_for_u = t_for_u
        self.drop_gap_columns = drop_gap_columns
        self.keep_reports = keep_reports
        self.locate = locate  # search a CDS that does not fit for the protein's coding region
        self.both_strands = both_strands
        # A large locus is translated on this many threads at most (0: one per usable CPU).
        self.threads = threads
        self.blocks = blocks  # write the columns that lines of '#' mark under CLUSTAL blocks


class LocusJob:
    """The two input files of a locus, its output ('-': standard output), and the file of
    the columns kept of its alignment by a trimmer, if any."""

    __slots__ = ("pep_path", "cds_path", "out_path", "kept_path")

    def __init__(self, pep_path: str, cds_path: str, out_path: str = "-",
                 kept_path: str | None = None) -> None:
        self.pep_path = pep_path
        self.cds_path = cds_path
        self.out_path = out_path
        self.kept_path = kept_path

    def __repr__(self) -> str:
        kept = f", {self.kept_path!r}" if self.kept_path is not None else ""
        return f"LocusJob({self.pep_path!r}, {self.cds_path!r}, {self.out_path!r}{kept})"


class LocusOutcome:
    """What became of a locus; filled in as the locus runs."""

    def __init__(self, job: LocusJob, status: Status = Status.CLEAN, reports: str = "",
                 notes: list[str] | None = None) -> None:
        self.job = job
        self.status = status
        self.reports = reports                        # the module's framed reports, verbatim
        self.problems: list[Problem] = []
        self.notes: list[str] = [] if notes is None else notes  # errors, one line each
        self.tally = Tally()

    @property
    def written(self) -> int:
        return self.tally.written

    def __repr__(self) -> str:
        return (f"LocusOutcome({self.job!r}, {self.status!r}, problems={self.problems!r}, "
                f"notes={self.notes!r}, {self.tally!r})")


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


class LocusInputs:
    """The records of a locus's two inputs, and the names messages give the inputs."""

    __slots__ = ("proteins", "cds", "pep_name", "cds_name", "marked", "kept")

    def __init__(self, proteins: list[Record], cds: list[Record], pep_name: str, cds_name: str,
                 marked: list[int] | None = None, kept: KeptColumns | None = None) -> None:
        self.proteins = proteins  # identifier, aligned row
        self.cds = cds            # identifier, coding sequence
        self.pep_name = pep_name
        self.cds_name = cds_name
        self.marked = marked      # the CDS records that may hold more than nucleotides; None: all
        self.kept = kept          # the alignment's columns to write; None: all


class LocusResult:
    """A locus back-translated, before anything is written."""

    __slots__ = ("rows", "text", "width", "problems", "located", "notes", "tally", "reports",
                 "changed")

    def __init__(self) -> None:
        self.rows: list[Record] = []    # the codon rows to write, in the alignment's order
        self.text: bytes | None = None  # or their FASTA text (UTF-8), when asked for
        self.width = 0                  # codon columns of the alignment
        self.problems: list[Problem] = []
        self.located: list[str] = []  # records written from a coding region found in their CDS
        self.notes: list[str] = []
        self.tally = Tally()
        self.reports = ""               # the framed reports, when asked for
        self.changed = False            # a codon or a record not written as given


def read_cds(path: str) -> tuple[list[Record], list[int]]:
    """The CDS records of a file, and the indices of those that hold more than nucleotides."""
    return read_fasta_marked(path, NUCLEOTIDE_LETTERS)


def read_inputs(job: LocusJob, options: LocusOptions) -> LocusInputs:
    kept = read_kept_columns(job.kept_path) if job.kept_path is not None else None
    with DecompressedAhead(job.cds_path):  # the larger file, while the alignment is read
        if options.blocks:
            proteins, marked_columns = read_alignment_blocks(job.pep_path, options.in_format)
            kept = block_columns(job.pep_path, marked_columns)
        else:
            proteins = read_alignment(job.pep_path, options.in_format)
        cds, marked = read_cds(job.cds_path)
    return LocusInputs(proteins, cds, job.pep_path, job.cds_path, marked, kept)


def _pair(inputs: LocusInputs, options: LocusOptions) -> tuple[list[Record], list[str]]:
    """The CDS of each protein record in their order, and the identifiers paired by occurrence."""
    proteins, cds = inputs.proteins, inputs.cds
    pep_name, cds_name = inputs.pep_name, inputs.cds_name
    check_not_swapped(proteins, cds, pep_name, cds_name, inputs.marked)
    check_nucleotide(cds, cds_name, marked=inputs.marked)
    check_names_fit(proteins, options.out_format, pep_name)
    if options.pair_by_order:  # the CDS names play no part
        return pair_by_order(proteins, cds, pep_name, cds_name), []
    return pair_by_identifier(proteins, cds, pep_name, cds_name, options.id_map)


def _even_rows(inputs: LocusInputs, options: LocusOptions, result: LocusResult) -> int:
    """The alignment's width, with every row made as wide; a padded row is a problem."""
    width, padded = even_rows(inputs.proteins)
    if not padded:
        return width
    if options.strict:
        raise strict_refusal(inputs.pep_name, [ident for ident, _ in padded])
    result.tally.padded = len(padded)
    result.problems.extend(
        Problem(ident, ROW_TOO_SHORT, PADDED,
                f"{shown_path(inputs.pep_name)}: {ident}: protein row of {length} columns padded "
                f"with {width - length} trailing gap(s) to the alignment's {width}")
        for ident, length in padded)
    return width


def strict_refusal(path: str, problems: list[str]) -> InputError:
    return InputError(path, f"--strict: {len(problems)} record(s) with problems: "
                            f"{name_some(problems)}; nothing written")


def _paired_rows(inputs: LocusInputs, options: LocusOptions,
                 result: LocusResult) -> tuple[list[Record], int]:
    """The CDS of each protein row, every row made as wide as the alignment, and the width."""
    paired_cds, repeated = _pair(inputs, options)
    width = _even_rows(inputs, options, result)
    if repeated:
        result.notes.append(f"{shown_path(inputs.pep_name)}: {len(repeated)} repeated "
                            f"identifier(s) paired by occurrence, the n-th with the n-th: "
                            f"{name_some(repeated)}")
    return paired_cds, width


def align_locus(inputs: LocusInputs, options: LocusOptions, result: LocusResult,
                fasta_text: bool = False) -> None:
    """Pairs, prepares and back-translates a locus's records into result, which
    keeps what was found also when an InputError ends the locus; fasta_text: the
    rows as the text of a FASTA file, where the engine can write them so.

    Empties the record lists of inputs: each sequence is held once.
    """
    paired_cds, width = _paired_rows(inputs, options, result)
    proteins, inputs.proteins, inputs.cds = inputs.proteins, [], []
    stops = terminal_stops(options.table_num, options.gene_table)
    pairs, too_short = prepare_pairs(proteins, paired_cds, stops, options.trim_stop)
    del proteins, paired_cds
    if options.keep_short:  # their rows come out short, and are written
        pairs = _with_short_ones(pairs, too_short)
        too_short = []
    as_text = fasta_text and _output_is_plain_fasta(options)
    translated = translate_pairs(file_stem(inputs.pep_name), pairs, engine_settings(options),
                                 inputs.pep_name, inputs.cds_name, as_text)
    result.reports = translated.reports
    result.located = translated.located
    result.problems += _short_cds_problems(inputs.cds_name, too_short) + translated.problems
    translated.named[:0] = [short.ident for short in too_short]
    result.tally.add(translated.tally)
    result.tally.left_out += len(too_short)
    result.rows = _full_rows(inputs, options, result, translated, 3 * width)
    result.tally.written = len(pairs) - result.tally.left_out + len(too_short)
    if result.tally.written == 0 and (pairs or too_short):
        raise InputError(inputs.pep_name, "every record was left out; nothing written")
    result.text = translated.text
    result.width = 3 * width
    result.changed = result.changed or result.tally.changed_anything()


def _run(job: LocusJob, options: LocusOptions, outcome: LocusOutcome) -> None:
    result = LocusResult()
    try:
        align_locus(read_inputs(job, options), options, result, fasta_text=True)
    finally:  # what was found before an error is told with it
        outcome.reports = result.reports
        outcome.problems = result.problems
        outcome.notes += result.notes
        outcome.tally = result.tally
        if result.changed:
            outcome.status = Status.REPORTED
    if result.text is not None:
        write_bytes(job.out_path, result.text)
    else:
        rows = without_gap_columns(result.rows) if options.drop_gap_columns else result.rows
        write_alignment(job.out_path, rows, len(rows[0][1]) if rows else result.width, options)


def _with_short_ones(pairs: list[Pair], too_short: list[ShortCds]) -> list[Pair]:
    """Every pair in the alignment's order, the ones held back in their places again."""
    merged = list(pairs)
    for short in too_short:  # in the alignment's order: all before it are in place
        merged.insert(short.index, (short.ident, short.row, short.cds))
    return merged


def _output_is_plain_fasta(options: LocusOptions) -> bool:
    """Whether the engine's FASTA text is the output file as it is."""
    return (options.out_format == "fasta" and not options.wrap and not options.drop_gap_columns
            and not options.keep_short)


def engine_settings(options: LocusOptions) -> EngineSettings:
    return EngineSettings(options.table_num, options.gene_table, options.mismatch,
                          options.upper_case, options.resolve_ambiguity, options.t_for_u,
                          options.keep_reports, options.locate, options.both_strands,
                          options.threads)


def _full_rows(inputs: LocusInputs, options: LocusOptions, result: LocusResult,
               translated: Translated, expected: int) -> list[Record]:
    """The rows to write: never a ragged alignment unless --keep-short."""
    ragged = translated.ragged
    if options.strict and (result.problems or ragged):
        problems = list(dict.fromkeys(translated.named + [ident for ident, _ in ragged]))
        raise strict_refusal(inputs.pep_name, problems)
    result.problems.extend(_ragged_problems(inputs.cds_name, ragged, translated, expected,
                                            options.keep_short))
    if ragged:
        result.changed = True
    if options.keep_short:
        return translated.rows
    result.tally.left_out += len(ragged)
    return [(ident, row) for ident, row in translated.rows if len(row) == expected]


def _short_cds_problems(cds_path: str, too_short: list[ShortCds]) -> list[Problem]:
    return [Problem(s.ident, CDS_TOO_SHORT, LEFT_OUT,
                    f"{shown_path(cds_path)}: {s.ident}: CDS of {s.nucleotides} nt is too short "
                    f"for {s.residues} residues ({3 * s.residues} nt); left out")
            for s in too_short]


def _ragged_problems(cds_path: str, ragged: list[tuple[str, int]], translated: Translated,
                     expected: int, keep_short: bool) -> list[Problem]:
    fate = "written anyway (--keep-short)" if keep_short else "left out"
    problems = []
    for ident, length in ragged:
        short = translated.short.get(ident)
        where = (f"CDS of {short.nucleotides} nt runs out at column {short.column} (residue "
                 f"{short.residue_number} of {short.residues}, {3 * short.residues} nt needed); "
                 if short else "")
        problems.append(Problem(ident, CDS_TOO_SHORT, WRITTEN_SHORT if keep_short else LEFT_OUT,
                                f"{shown_path(cds_path)}: {ident}: {where}codon row of {length} "
                                f"columns, alignment has {expected}; {fate}",
                                short.column if short else None,
                                short.residue_number if short else None))
    return problems


def without_gap_columns(rows: list[Record]) -> list[Record]:
    """The rows without every codon column that has a gap in any row."""
    if not rows:
        return rows
    width = len(rows[0][1])
    gapped = 0
    for _, row in rows:  # one bit per column, '-' set, worked on by C code
        gapped |= int.from_bytes(row.encode("ascii", "replace").translate(_GAP_BITS), "big")
    marks = gapped.to_bytes(width, "big")
    kept = [start for start in range(0, width - width % 3, 3) if not any(marks[start:start + 3])]
    runs: list[tuple[int, int]] = []
    for start in kept:
        if runs and runs[-1][1] == start:
            runs[-1] = (runs[-1][0], start + 3)
        else:
            runs.append((start, start + 3))
    return [(ident, "".join(row[a:b] for a, b in runs)) for ident, row in rows]


_GAP_BITS = bytes(1 if byte == ord("-") else 0 for byte in range(256))

def write_bytes(out_path: str, data: bytes) -> None:
    """Writes UTF-8 text, already in its output format, to out_path ('-': standard output),
    past the text layer: the engine's output needs no encoding."""
    if out_path != STDOUT:
        write_file(out_path, data)
        return
    with output_stream(out_path) as out:
        out.flush()
        buffer = getattr(out, "buffer", None)
        if buffer is None:  # a text-only stream put in place of standard output
            out.write(data.decode("utf-8"))
        else:
            buffer.write(data)
            buffer.flush()


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
