"""One locus: read and pair the two files, back-translate, write the alignment.

Also the unit of work of batch mode, so it never prints: everything meant
for the user comes back in the LocusOutcome. The steps up to the written
alignment (align_locus) serve the Python API as well, on records it was
handed instead of files.
"""

from __future__ import annotations

import gc
import os

from .errors import InputError, name_some, shown_path
from .outcome import LocusOutcome, Record, Status
from .outputs import STDOUT, output_stream, write_file
from .pairing import (NUCLEOTIDE_LETTERS, check_names_fit, check_not_swapped, check_nucleotide,
                      pair_by_identifier, pair_by_order)
from .seqio import DecompressedAhead, alignment_lines, read_alignment, read_fasta_marked
from .translation import translate

__all__ = ["LocusJob", "LocusOptions", "LocusOutcome", "Status", "align_locus", "run_locus"]


# Plain classes, not NamedTuple or dataclass: importing typing or dataclasses
# would cost a small locus more start-up time than its work.
class LocusOptions:
    """How every locus of a run is read, back-translated and written."""

    __slots__ = ("table_num", "gene_table", "in_format", "out_format", "wrap", "pair_by_order",
                 "id_map", "trim_stop", "strict", "keep_short", "mismatch", "frameshifts", "upper_case",
                 "resolve_ambiguity", "t_for_u", "drop_gap_columns", "keep_reports", "locate",
                 "both_strands", "threads")

    def __init__(self, table_num: int = 1, gene_table: dict[str, list[str]] | None = None,
                 in_format: str = "auto", out_format: str = "fasta", wrap: int = 0,
                 pair_by_order: bool = False, id_map: dict[str, str] | None = None,
                 trim_stop: bool = True, strict: bool = False, keep_short: bool = False,
                 mismatch: str = "mask", frameshifts: str = "mask", upper_case: bool = False,
                 resolve_ambiguity: bool = False, t_for_u: bool = False,
                 drop_gap_columns: bool = False, keep_reports: bool = False, locate: bool = True,
                 both_strands: bool = False, threads: int = 0) -> None:
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
        self.frameshifts = frameshifts  # a CDS that fits only with frameshifts: mask or drop
        self.upper_case = upper_case
        self.resolve_ambiguity = resolve_ambiguity
        self.t_for_u = t_for_u
        self.drop_gap_columns = drop_gap_columns
        self.keep_reports = keep_reports
        self.locate = locate  # search a CDS that does not fit for the protein's coding region
        self.both_strands = both_strands
        # A large locus is translated on this many threads at most (0: one per usable CPU).
        self.threads = threads


class LocusJob:
    """The two input files of a locus and its output ('-': standard output)."""

    __slots__ = ("pep_path", "cds_path", "out_path")

    def __init__(self, pep_path: str, cds_path: str, out_path: str = "-") -> None:
        self.pep_path = pep_path
        self.cds_path = cds_path
        self.out_path = out_path

    def __repr__(self) -> str:
        return f"LocusJob({self.pep_path!r}, {self.cds_path!r}, {self.out_path!r})"


def run_locus(job: LocusJob, options: LocusOptions) -> LocusOutcome:
    """Reads, pairs, back-translates and writes one locus; never raises InputError: what went
    wrong is in the outcome."""
    outcome = LocusOutcome(job)
    # A locus makes a few tuples per record and no cycles: the collector's
    # passes over them would only cost time.
    collecting = gc.isenabled()
    gc.disable()
    try:
        _run(job, options, outcome)
    except InputError as exc:
        outcome.failed(str(exc))
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

    __slots__ = ("proteins", "cds", "pep_name", "cds_name", "marked")

    def __init__(self, proteins: list[Record], cds: list[Record], pep_name: str, cds_name: str,
                 marked: list[int] | None = None) -> None:
        self.proteins = proteins  # identifier, aligned row
        self.cds = cds            # identifier, coding sequence
        self.pep_name = pep_name
        self.cds_name = cds_name
        self.marked = marked      # the CDS records that may hold more than nucleotides; None: all


def read_cds(path: str) -> tuple[list[Record], list[int]]:
    """The CDS records of a file, and the indices of those that hold more than nucleotides."""
    return read_fasta_marked(path, NUCLEOTIDE_LETTERS)


def read_inputs(job: LocusJob, options: LocusOptions) -> LocusInputs:
    with DecompressedAhead(job.cds_path):  # the larger file, while the alignment is read
        proteins = read_alignment(job.pep_path, options.in_format)
        cds, marked = read_cds(job.cds_path)
    return LocusInputs(proteins, cds, job.pep_path, job.cds_path, marked)


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


def align_locus(inputs: LocusInputs, options: LocusOptions, outcome: LocusOutcome,
                fasta_text: bool = False) -> None:
    """Pairs the locus's records and back-translates them into outcome, which keeps what was
    found also when an InputError ends the locus; fasta_text: the rows as the text of a FASTA
    file, where the engine can write them so.

    Empties the record lists of inputs: each sequence is held once.
    """
    paired_cds, repeated = _pair(inputs, options)
    if repeated:
        outcome.notes.append(f"{shown_path(inputs.pep_name)}: {len(repeated)} repeated "
                             f"identifier(s) paired by occurrence, the n-th with the n-th: "
                             f"{name_some(repeated)}")
    proteins, inputs.proteins, inputs.cds = inputs.proteins, [], []
    cds = [seq for _, seq in paired_cds]
    del paired_cds
    translate(file_stem(inputs.pep_name), proteins, cds, options, inputs.pep_name,
              inputs.cds_name, outcome, fasta_text and _output_is_plain_fasta(options))


def _run(job: LocusJob, options: LocusOptions, outcome: LocusOutcome) -> None:
    align_locus(read_inputs(job, options), options, outcome, fasta_text=True)
    if outcome.text is not None:
        write_bytes(job.out_path, outcome.text)
    else:
        rows = without_gap_columns(outcome.rows) if options.drop_gap_columns else outcome.rows
        write_alignment(job.out_path, rows, len(rows[0][1]) if rows else outcome.width, options)
    outcome.rows, outcome.text = [], None  # written: not held any longer


def _output_is_plain_fasta(options: LocusOptions) -> bool:
    """Whether the engine's FASTA text is the output file as it is."""
    return (options.out_format == "fasta" and not options.wrap and not options.drop_gap_columns
            and not options.keep_short)


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
    lines = alignment_lines(rows, ncols, options.out_format, options.wrap,
                            _version_for(options.out_format))
    with output_stream(out_path) as out:
        out.writelines(lines)
