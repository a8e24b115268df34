"""One locus: read and pair the two files, back-translate, write the alignment.

Also the unit of work of batch mode, so it never prints: everything meant
for the user comes back in the LocusOutcome. The steps up to the written
alignment (align_locus) serve the Python API as well, on records it was
handed instead of files.
"""

from __future__ import annotations

import gc
import os
from functools import partial

from .errors import InputError, name_some, shown_path
from .header_pairing import (CdsLookup, HeaderPairing, pair_by_headers, rule_notes, rules_for,
                             tried_text, unpaired_proteins)
from .job import LocusJob, LocusOptions
from .kept_columns import KeptColumns, block_columns, kept_codon_rows, read_kept_columns
from .outcome import LocusOutcome, Record, Status
from .outputs import STDOUT, output_stream, write_file
from .pairing import (NUCLEOTIDE_LETTERS, Repeats, check_names_fit, check_not_swapped,
                      check_nucleotide, pair_by_identifier, pair_by_order)
from ._native import fasta_text  # the one FASTA writer: the engine's text is written alike
from .seqio import Reading, read_locus_files, read_records
from .translation import translate
from .writers import CODEML_NAME_LENGTH, alignment_lines, partitions_text, too_long_for_codeml

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Callable

    from .interrupts import StopGuard

__all__ = ["LocusJob", "LocusOptions", "LocusOutcome", "Status", "align_locus", "run_locus"]


def run_locus(job: LocusJob, options: LocusOptions,
              guard: StopGuard | None = None) -> LocusOutcome:
    """Reads, pairs, back-translates and writes one locus; never raises InputError: what went
    wrong is in the outcome. guard: the run's, told when an output is in place."""
    outcome = LocusOutcome(job)
    # A locus makes a few tuples per record and no cycles: the collector's
    # passes over them would only cost time.
    collecting = gc.isenabled()
    gc.disable()
    try:
        _run(job, options, outcome, guard)
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

    __slots__ = ("proteins", "cds", "pep_name", "cds_name", "marked", "pep_headers",
                 "lookup", "read_headers", "kept")

    def __init__(self, proteins: list[Record], cds: list[Record], pep_name: str, cds_name: str,
                 marked: list[int] | None = None, pep_headers: list[str] | None = None,
                 cds_headers: list[str] | None = None, lookup: CdsLookup | None = None,
                 read_headers: Callable[[LocusInputs], None] | None = None,
                 kept: KeptColumns | None = None) -> None:
        self.proteins = proteins  # identifier, aligned row
        self.cds = cds            # identifier, coding sequence
        self.pep_name = pep_name
        self.cds_name = cds_name
        self.marked = marked      # the CDS records that may hold more than nucleotides; None: all
        self.pep_headers = pep_headers  # whole header lines, where known
        # the CDS records looked up by identifier and header; a batch's shared CDS brings its own
        self.lookup = lookup if lookup is not None else CdsLookup(cds, cds_headers)
        # Fills in the header lines not read with the records, which most loci never need.
        self.read_headers = read_headers
        self.kept = kept          # the alignment's columns to write; None: all


def read_inputs(job: LocusJob, options: LocusOptions) -> LocusInputs:
    kept = read_kept_columns(job.kept_path) if job.kept_path is not None else None
    # Header lines are read with the records only where they will be needed or cannot be
    # read again (standard input); else only when an identifier misses.
    later = partial(_read_header_lines, job, options)
    pattern = options.id_pattern is not None
    if job.shared is not None:  # read and checked already: nothing left to look at
        aligned = read_records(job.pep_path, options.in_format, headers=pattern or
                               job.pep_path == "-", frameshift_digits=True)
        proteins, kept = _alignment_rows(job, options, aligned, kept)
        return LocusInputs(proteins, job.shared.records, job.pep_path, job.shared.name,
                           [], aligned.headers, lookup=job.shared.lookup, read_headers=later,
                           kept=kept)
    now = pattern or "-" in (job.pep_path, job.cds_path)
    aligned, coding = read_locus_files(job.pep_path, job.cds_path, options.in_format,
                                       NUCLEOTIDE_LETTERS, headers=now)
    proteins, kept = _alignment_rows(job, options, aligned, kept)
    return LocusInputs(proteins, coding.records, job.pep_path, job.cds_path, coding.marked,
                       aligned.headers, coding.headers, read_headers=None if now else later,
                       kept=kept)


def _alignment_rows(job: LocusJob, options: LocusOptions, aligned: Reading,
                    kept: KeptColumns | None) -> tuple[list[Record], KeptColumns | None]:
    """The alignment's rows (PAL2NAL's frameshift digits spread over their columns as read),
    and the columns to write: those of the kept-columns file or, with --blocks, of the lines
    of '#'."""
    proteins, marked_columns = aligned.records, aligned.kept
    if options.blocks:
        kept = block_columns(job.pep_path, marked_columns)
    return proteins, kept


def _read_header_lines(job: LocusJob, options: LocusOptions, inputs: LocusInputs) -> None:
    """The inputs' header lines, read again from the files (a batch's shared CDS has its own)."""
    if inputs.pep_headers is None:
        inputs.pep_headers = read_records(job.pep_path, options.in_format, headers=True).headers
    if job.shared is not None:
        job.shared.read_headers()
    else:
        inputs.lookup.set_headers(read_records(job.cds_path, "fasta", headers=True).headers or [])


def _pair(inputs: LocusInputs, options: LocusOptions,
          outcome: LocusOutcome) -> tuple[list[Record], Repeats]:
    """The CDS of each protein record in their order, and the repeated identifiers."""
    proteins, cds = inputs.proteins, inputs.cds
    pep_name, cds_name = inputs.pep_name, inputs.cds_name
    check_not_swapped(proteins, cds, pep_name, cds_name, inputs.marked)
    check_nucleotide(cds, cds_name, marked=inputs.marked)
    if not options.rename:  # renamed, every name is written once
        check_names_fit(proteins, options.out_format, pep_name)
    if options.pair_by_order:  # the CDS names play no part
        return pair_by_order(proteins, cds, pep_name, cds_name), Repeats([], [])
    paired, repeated = _pair_by_names(inputs, options, outcome)
    outcome.unused_cds = len(cds) - len(paired)
    return paired, repeated


def _pair_by_names(inputs: LocusInputs, options: LocusOptions,
                   outcome: LocusOutcome) -> tuple[list[Record], Repeats]:
    """pair_by_identifier, the proteins it would miss first looked for by their headers."""
    proteins, lookup = inputs.proteins, inputs.lookup
    idents = [ident for ident, _ in proteins]
    unpaired, taken = unpaired_proteins(idents, lookup, options.id_map, options.id_pattern)
    by_headers = HeaderPairing()
    if unpaired:
        if inputs.read_headers is not None:
            inputs.read_headers(inputs)
        by_headers = pair_by_headers(idents, inputs.pep_headers, unpaired, taken, lookup,
                                     rules_for(options.id_pattern))
    if by_headers.clashes or by_headers.ambiguous:
        raise InputError(inputs.cds_name, _ambiguity(by_headers.clashes, by_headers.ambiguous))
    id_map = options.id_map
    if by_headers.cds_of:
        id_map = {**(id_map or {}), **{idents[at]: cds for at, cds in by_headers.cds_of.items()}}
    if options.id_pattern is not None:  # the pattern alone: unmatched proteins stay unpaired
        id_map = {ident: id_map.get(ident, "") if id_map else "" for ident in idents}
    tried = tried_text(options.id_pattern,
                       (inputs.pep_headers or idents or [""])[0],
                       lookup.first_header)
    paired = pair_by_identifier(proteins, inputs.cds, inputs.pep_name, inputs.cds_name, id_map,
                                lookup.seq_of(), tried, partial(_header_lines, inputs))
    outcome.notes += rule_notes(by_headers, shown_path(inputs.cds_name))
    return paired


def _header_lines(inputs: LocusInputs) -> tuple[list[str], list[str]] | None:
    """The whole header lines of the proteins and of the CDS records, read now where they
    were not read with the records; None where they are gone (a batch's shared CDS)."""
    if inputs.read_headers is not None and (inputs.pep_headers is None
                                            or inputs.lookup.headers is None):
        inputs.read_headers(inputs)
    if inputs.pep_headers is None or inputs.lookup.headers is None:
        return None
    return inputs.pep_headers, list(inputs.lookup.headers)


def _repeats_note(pep_name: str, repeats: Repeats, renamed: bool) -> str:
    """One note: which identifiers repeat, how they were paired, how they are written."""
    told = [f"{name_some(names)} paired {how}" for names, how in (
        (repeats.by_header, "by their whole header lines"),
        (repeats.by_occurrence, "by occurrence, the n-th with the n-th")) if names]
    count = len(repeats.by_header) + len(repeats.by_occurrence)
    written = "renamed (--rename)" if renamed else \
        "written as they are; --rename makes them unique"
    return f"{shown_path(pep_name)}: {count} repeated identifier(s): {'; '.join(told)}; {written}"


def _ambiguity(clashes: list[str], ambiguous: list[str]) -> str:
    told = ([f"a CDS record fits two proteins: {name_some(clashes)}"] if clashes else []) + (
        [f"several CDS records fit {name_some(ambiguous)}"] if ambiguous else [])
    return "; ".join(told) + "; pair them with --id-map"


def align_locus(inputs: LocusInputs, options: LocusOptions, outcome: LocusOutcome,
                fasta_text: bool = False) -> None:
    """Pairs the locus's records and back-translates them into outcome, which keeps what was
    found also when an InputError ends the locus; fasta_text: the rows as the text of a FASTA
    file, where the engine can write them so.

    Empties the record lists of inputs: each sequence is held once.
    """
    paired_cds, repeats = _pair(inputs, options, outcome)
    if repeats:
        outcome.notes.append(_repeats_note(inputs.pep_name, repeats, options.rename))
    proteins, inputs.proteins, inputs.cds = inputs.proteins, [], []
    kept = _fitted_columns(inputs.kept, proteins, inputs.pep_name)
    cds = [seq for _, seq in paired_cds]
    del paired_cds
    translate(file_stem(inputs.pep_name), proteins, cds, options, inputs.pep_name,
              inputs.cds_name, outcome,
              fasta_text and kept is None and _output_is_plain_fasta(options), kept)
    if options.stops == "drop-columns" and outcome.stop_columns:  # 1-based columns
        dropped = {column - 1 for column in outcome.stop_columns}
        kept = [column for column in (range(outcome.width // 3) if kept is None else kept)
                if column not in dropped]
    if kept is not None:  # the rows are rows here, not the engine's text
        outcome.rows = kept_codon_rows(outcome.rows, kept)
        outcome.width = 3 * len(kept)


def _fitted_columns(kept: KeptColumns | None, proteins: list[Record],
                    pep_name: str) -> list[int] | None:
    """The kept columns, refused before any work where they do not fit the alignment,
    whose width is that of its widest row (the engine pads the others)."""
    if kept is None:
        return None
    return kept.fitted(max((len(row) for _, row in proteins), default=0), pep_name)


def _run(job: LocusJob, options: LocusOptions, outcome: LocusOutcome,
         guard: StopGuard | None) -> None:
    align_locus(read_inputs(job, options), options, outcome, fasta_text=True)
    if outcome.text is not None:
        write_bytes(job.out_path, outcome.text, guard)
        width = outcome.width
    else:
        rows = without_gap_columns(outcome.rows) if options.drop_gap_columns else outcome.rows
        width = len(rows[0][1]) if rows else outcome.width
        if job.names_path is not None:
            from .renaming import renamed_rows  # imported only where asked for

            rows, names = renamed_rows(rows)
        outcome.notes += _name_warnings(rows, options.out_format)
        outcome.notes += _paml_stop_warning(outcome, options)
        write_alignment(job.out_path, rows, width, options, guard)
        if job.names_path is not None:
            write_file(job.names_path, names.encode(), guard)
    outcome.rows, outcome.text = [], None  # written: not held any longer
    if job.partitions_path is not None:
        write_file(job.partitions_path, partitions_text(width).encode(), guard)


def _paml_stop_warning(outcome: LocusOutcome, options: LocusOptions) -> list[str]:
    if options.out_format != "paml" or options.stops != "keep" or not outcome.stop_columns:
        return []
    return [f"warning: {len(outcome.stop_columns)} column(s) hold stop codons, which codeml reads "
            f"as missing data in every row; --stops mask writes them NNN"]


def _name_warnings(rows: list[Record], out_format: str) -> list[str]:
    """What the next program will do to a name it cannot read whole."""
    if out_format != "paml":
        return []
    cut = too_long_for_codeml(rows)
    if not cut:
        return []
    return [f"warning: {len(cut)} name(s) longer than the {CODEML_NAME_LENGTH} characters codeml "
            f"reads, which it cuts short: {name_some(cut)}; --rename gives short names"]


def _output_is_plain_fasta(options: LocusOptions) -> bool:
    """Whether the engine's FASTA text is the output file as it is."""
    return (options.out_format == "fasta" and not options.drop_gap_columns
            and not options.keep_short and not options.rename
            and options.stops != "drop-columns")


def without_gap_columns(rows: list[Record]) -> list[Record]:
    """The rows without every codon column that has a gap in any row."""
    if not rows:
        return rows
    width = len(rows[0][1])
    gapped = 0
    for _, row in rows:  # one bit per column, '-' set, worked on by C code
        gapped |= int.from_bytes(row.encode("ascii", "replace").translate(_GAP_BITS), "big")
    marks = gapped.to_bytes(width, "big")
    kept = [start // 3 for start in range(0, width - width % 3, 3)
            if not any(marks[start:start + 3])]
    return kept_codon_rows(rows, kept)


_GAP_BITS = bytes(1 if byte == ord("-") else 0 for byte in range(256))

def write_bytes(out_path: str, data: bytes, guard: StopGuard | None = None) -> None:
    """Writes UTF-8 text, already in its output format, to out_path ('-': standard output),
    past the text layer: the engine's output needs no encoding."""
    if out_path != STDOUT:
        write_file(out_path, data, guard)
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
                    options: LocusOptions, guard: StopGuard | None = None) -> None:
    if options.out_format == "fasta":
        write_bytes(out_path, fasta_text(rows, options.wrap), guard)
        return
    lines = alignment_lines(rows, ncols, options.out_format, _version_for(options.out_format))
    with output_stream(out_path, guard) as out:
        out.writelines(lines)
