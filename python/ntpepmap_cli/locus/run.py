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

from ..errors import InputError, name_some, out_of_memory_line, shown_path
from ..pairing.header_rules import (CdsLookup, HeaderPairing, pair_by_headers, rule_notes, rules_for,
                             tried_text, unpaired_proteins)
from ..job import LocusJob, LocusOptions
from ..result.outcome import LocusOutcome, Record, Status
from ..outputs.atomic_files import OutputSet
from ..pairing.identifiers import (NUCLEOTIDE_LETTERS, MissingCds, Repeats, check_names_fit,
                                  check_not_swapped, check_nucleotide, pair_by_identifier,
                                  pair_by_order)
from ..result.problems import LEFT_OUT, NO_CDS, Problem
from .._native import RecordSet
from ..reading.input_files import Reading, read_locus_files, read_records
from .translation import translate
from ..outputs.formats import (CODEML_NAME_LENGTH, UNIQUE_NAME_FORMATS, encoded_for, partitions_text,
                               too_long_for_codeml, write_alignment)

TYPE_CHECKING = False
if TYPE_CHECKING:
    from ..reading.kept_columns import KeptColumns
    from ..interrupts import StopGuard

__all__ = ["LocusJob", "LocusOptions", "LocusOutcome", "Status", "align_locus", "run_locus"]


def run_locus(job: LocusJob, options: LocusOptions, guard: StopGuard | None = None,
              outputs: OutputSet | None = None) -> LocusOutcome:
    """Reads, pairs, back-translates and writes one locus; never raises InputError: what went
    wrong is in the outcome. guard: the run's, told when the outputs are in place. outputs:
    the run's set, which the caller commits; without it the locus's own is committed here."""
    outcome = LocusOutcome(job)
    out_format = job.out_format or options.out_format or "fasta"
    if out_format != options.out_format:
        options = options.replaced(out_format=out_format)
    own = outputs is None
    staged = OutputSet(guard) if outputs is None else outputs
    # A locus makes a few tuples per record and no cycles: the collector's
    # passes over them would only cost time.
    collecting = gc.isenabled()
    gc.disable()
    try:
        _run(job, options, outcome, staged)
        if own:
            staged.commit()
    except InputError as exc:
        outcome.failed(str(exc))
        outcome.tally.written = 0  # whatever was back-translated, nothing was written
    except MemoryError as exc:
        outcome.failed(out_of_memory_line(exc, job.pep_path))
        outcome.tally.written = 0
    finally:
        if own:
            staged.discard()  # nothing left to remove once committed
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


_COMPRESSED = (".gz", ".bgz", ".bz2", ".xz")
# Letters Newick and the PHYLIP readers reserve, which a name of a tree program's input must not hold.
_NAME_PUNCTUATION = frozenset("()[]:;,'")


def bare_stem(path: str) -> str:
    """The file name without its compression suffix and the suffix before it: b.fa.gz and
    b.fasta.bz2 name the same locus as b.fa."""
    stem = file_stem(path)
    return file_stem(stem) if path.endswith(_COMPRESSED) else stem


class LocusInputs:
    """The records of a locus's two inputs, and the names messages give the inputs."""

    __slots__ = ("proteins", "cds", "pep_name", "cds_name", "marked", "lookup", "kept",
                 "headers_read", "without_cds")

    def __init__(self, proteins: RecordSet, cds: RecordSet, pep_name: str, cds_name: str,
                 marked: list[int] | None = None, lookup: CdsLookup | None = None,
                 kept: KeptColumns | None = None, headers_read: bool = False) -> None:
        self.proteins = proteins  # identifier, aligned row
        self.cds = cds            # identifier, coding sequence
        self.pep_name = pep_name
        self.cds_name = cds_name
        self.marked = marked      # the CDS records that may hold more than nucleotides; None: all
        # the CDS records looked up by identifier and header; a batch's shared CDS brings its own
        self.lookup = lookup if lookup is not None else CdsLookup(cds)
        self.kept = kept          # the alignment's columns to write; None: all
        # the header lines are the inputs' own (given, or wanted from the start): messages
        # show them rather than the identifiers
        self.headers_read = headers_read
        self.without_cds: list[Problem] = []  # aligned records left out for want of a CDS


def read_inputs(job: LocusJob, options: LocusOptions) -> LocusInputs:
    kept = None
    if job.kept_path is not None:  # the kept columns' readers, imported only for them
        from ..reading.kept_columns import read_kept_columns

        kept = read_kept_columns(job.kept_path)
    pattern = options.id_pattern is not None
    if job.shared is not None:  # read and checked already: nothing left to look at
        aligned = read_records(job.pep_path, options.in_format, frameshift_digits=True)
        return LocusInputs(aligned.records, job.shared.records, job.pep_path, job.shared.name,
                           [], lookup=job.shared.lookup,
                           kept=_alignment_columns(job, options, aligned, kept),
                           headers_read=pattern or job.pep_path == "-")
    aligned, coding = read_locus_files(job.pep_path, job.cds_path, options.in_format,
                                       NUCLEOTIDE_LETTERS)
    return LocusInputs(aligned.records, coding.records, job.pep_path, job.cds_path,
                       coding.marked, kept=_alignment_columns(job, options, aligned, kept),
                       headers_read=pattern or "-" in (job.pep_path, job.cds_path))


def _alignment_columns(job: LocusJob, options: LocusOptions, aligned: Reading,
                       kept: KeptColumns | None) -> KeptColumns | None:
    """The columns to write: those of the kept-columns file or, with --blocks, of the lines
    of '#' (spread over PAL2NAL's frameshift digits as the rows were)."""
    if options.blocks:
        from ..reading.kept_columns import block_columns

        return block_columns(job.pep_path, aligned.kept)
    return kept


def _pair(inputs: LocusInputs, options: LocusOptions,
          outcome: LocusOutcome) -> tuple[list[int], Repeats]:
    """The index of the CDS record of each protein record in their order, and the repeated
    identifiers."""
    proteins, cds = inputs.proteins, inputs.cds
    pep_name, cds_name = inputs.pep_name, inputs.cds_name
    check_not_swapped(proteins, cds, pep_name, cds_name, inputs.marked)
    check_nucleotide(cds, cds_name, marked=inputs.marked)
    if not options.rename:  # renamed, every name is written once
        check_names_fit(proteins.identifiers(), options.out_format, pep_name)
    if options.pair_by_order:  # the CDS names play no part
        return pair_by_order(len(proteins), len(cds), pep_name, cds_name), Repeats([], [])
    try:
        paired, repeated = _pair_by_names(inputs, options, outcome)
    except MissingCds as missing:
        if options.strict:
            raise
        _leave_out_without_cds(inputs, missing, outcome)
        paired, repeated = _pair_by_names(inputs, options, outcome)
    outcome.unused_cds = len(cds) - len(paired)
    return paired, repeated


def _leave_out_without_cds(inputs: LocusInputs, missing: MissingCds,
                           outcome: LocusOutcome) -> None:
    """The locus goes on without the aligned records that have no CDS, each told with why
    (missing from the CDS files, or CDS records left unpaired: a pairing to give)."""
    proteins = inputs.proteins
    lost = set(missing.indices)
    records, headers = proteins.records(), proteins.headers()
    kept = [at for at in range(len(records)) if at not in lost]
    inputs.proteins = RecordSet.from_records([records[at] for at in kept],
                                             [headers[at] for at in kept])
    pep = shown_path(inputs.pep_name)
    inputs.without_cds = [Problem(records[at][0], NO_CDS, LEFT_OUT,
                                  f"{pep}: {records[at][0]}: left out, no CDS record: "
                                  f"{missing.hint}") for at in missing.indices]


def _pair_by_names(inputs: LocusInputs, options: LocusOptions,
                   outcome: LocusOutcome) -> tuple[list[int], Repeats]:
    """pair_by_identifier, the proteins it would miss first looked for by their headers."""
    proteins, lookup = inputs.proteins, inputs.lookup
    idents = proteins.identifiers()
    unpaired, taken = unpaired_proteins(idents, lookup, options.id_map, options.id_pattern)
    by_headers = HeaderPairing()
    if unpaired:
        by_headers = pair_by_headers(idents, proteins.headers(), unpaired, taken, lookup,
                                     rules_for(options.id_pattern))
    if by_headers.clashes or by_headers.ambiguous:
        raise InputError(inputs.cds_name, _ambiguity(by_headers.clashes, by_headers.ambiguous))
    id_map = options.id_map
    if by_headers.cds_of:
        id_map = {**(id_map or {}), **{idents[at]: cds for at, cds in by_headers.cds_of.items()}}
    if options.id_pattern is not None:  # the pattern alone: unmatched proteins stay unpaired
        id_map = {ident: id_map.get(ident, "") if id_map else "" for ident in idents}
    shown = inputs.headers_read or bool(unpaired)  # header lines the rules looked at
    tried = tried_text(options.id_pattern, _first_name(proteins, idents, shown),
                       lookup.first_header(shown or lookup.complete))
    paired = pair_by_identifier(idents, lookup.idents, inputs.pep_name, inputs.cds_name, id_map,
                                lookup.index_of(), tried, partial(_header_lines, inputs))
    outcome.remarks += rule_notes(by_headers, shown_path(inputs.cds_name))
    return paired


def _first_name(records: RecordSet, idents: list[str], header: bool) -> str:
    """The first record's whole header line, or its identifier."""
    if not idents:
        return ""
    return records.header(0) if header else idents[0]


def _header_lines(inputs: LocusInputs) -> tuple[list[str], list[str]] | None:
    """The whole header lines of the proteins and of the CDS records; None for a batch's
    shared CDS whose indexes were built before the workers started: a worker would make a
    str of every one of its header lines to pair a few repeats, which pair by occurrence."""
    if inputs.lookup.complete:
        return None
    return inputs.proteins.headers(), inputs.lookup.header_lines()


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
    file, where the engine can write them so."""
    cds_of, repeats = _pair(inputs, options, outcome)
    if repeats:
        outcome.notes.append(_repeats_note(inputs.pep_name, repeats, options.rename))
    kept = _fitted_columns(inputs.kept, inputs.proteins, inputs.pep_name)
    translate(file_stem(inputs.pep_name), inputs.proteins, inputs.cds, cds_of, options,
              inputs.pep_name, inputs.cds_name, outcome,
              fasta_text and kept is None and _output_is_plain_fasta(options)
              and not _page_shows_codons(options, inputs.proteins), kept)
    if inputs.without_cds:
        outcome.problems[:0] = inputs.without_cds
        outcome.tally.left_out += len(inputs.without_cds)
        outcome.changed()
    if options.stops == "drop-columns" and outcome.stop_columns:  # 1-based columns
        dropped = {column - 1 for column in outcome.stop_columns}
        kept = [column for column in (range(outcome.width // 3) if kept is None else kept)
                if column not in dropped]
    if kept is not None and outcome.cells is not None:
        from ..qc.cells import mark_trimmed

        mark_trimmed(outcome.cells, kept)
    if kept is not None:  # the rows are rows here, not the engine's text
        from ..reading.kept_columns import kept_codon_rows

        outcome.rows = kept_codon_rows(outcome.rows, kept)
        outcome.width = 3 * len(kept)


def _fitted_columns(kept: KeptColumns | None, proteins: RecordSet,
                    pep_name: str) -> list[int] | None:
    """The kept columns, refused before any work where they do not fit the alignment,
    whose width is that of its widest row (the engine pads the others)."""
    if kept is None:
        return None
    return kept.fitted(proteins.max_width(), pep_name)


def _run(job: LocusJob, options: LocusOptions, outcome: LocusOutcome,
         outputs: OutputSet) -> None:
    align_locus(read_inputs(job, options), options, outcome, fasta_text=True)
    if outcome.text is not None:
        outputs.write(job.out_path, encoded_for(job.out_path, outcome.text))
        width = outcome.width
    else:
        rows = without_gap_columns(outcome.rows) if options.drop_gap_columns else outcome.rows
        if options.drop_gap_columns and outcome.cells is not None:
            from ..qc.cells import mark_gap_columns

            mark_gap_columns(outcome.cells)
        width = len(rows[0][1]) if rows else outcome.width
        if job.names_path is not None:
            from ..outputs.renaming import renamed_rows  # imported only where asked for

            rows, names = renamed_rows(rows)
        outcome.notes += _name_warnings(rows, options.out_format)
        outcome.notes += _paml_stop_warning(outcome, options)
        write_alignment(outputs, job.out_path, rows, width, options.out_format, options.wrap)
        if job.names_path is not None:
            outputs.write(job.names_path, names.encode())
    outcome.rows, outcome.text = [], None  # written: not held any longer
    if job.partitions_path is not None:
        outputs.write(job.partitions_path, partitions_text(width).encode())
    if job.html_path is not None:  # imported only where asked for
        from ..qc.locus_page import write_locus_page

        write_locus_page(outputs, job.html_path, outcome, job.name or file_stem(job.pep_path))
        outcome.cells = None


def _paml_stop_warning(outcome: LocusOutcome, options: LocusOptions) -> list[str]:
    if options.out_format != "paml" or options.stops != "keep" or not outcome.stop_columns:
        return []
    return [f"warning: {len(outcome.stop_columns)} column(s) hold stop codons, which codeml reads "
            f"as missing data in every row; --stops mask writes them NNN"]


def _name_warnings(rows: list[Record], out_format: str) -> list[str]:
    """What the next program will do to a name it cannot read whole."""
    reserved = _reserved_warning(rows, out_format) if out_format in UNIQUE_NAME_FORMATS else ""
    return ([reserved] if reserved else []) + _codeml_warning(rows, out_format)


def _reserved_warning(rows: list[Record], out_format: str) -> str:
    """Names with letters that a tree file or a PHYLIP reader takes for punctuation."""
    reserved = [name for name, _ in rows if not _NAME_PUNCTUATION.isdisjoint(name)]
    if not reserved:
        return ""
    written = " written quoted, as NEXUS wants them, which not every program reads" \
        if out_format == "nexus" else ", which PHYLIP readers and tree files take for punctuation"
    return (f"warning: {len(reserved)} name(s) with one of ()[]:;,'{written}: "
            f"{name_some(reserved)}; --rename gives plain names")


def _codeml_warning(rows: list[Record], out_format: str) -> list[str]:
    if out_format != "paml":
        return []
    cut = too_long_for_codeml(rows)
    if not cut:
        return []
    return [f"warning: {len(cut)} name(s) longer than the {CODEML_NAME_LENGTH} characters codeml "
            f"reads, which it cuts short: {name_some(cut)}; --rename gives short names"]


def _page_shows_codons(options: LocusOptions, proteins: RecordSet) -> bool:
    """Whether the locus's page shows every codon written: a small locus's page does, from
    the rows, which the engine then gives as rows rather than as the file's text."""
    if not options.html:
        return False
    from ..qc.cells import RESIDUES_UP_TO

    return len(proteins) * proteins.max_width() <= RESIDUES_UP_TO


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
    from ..reading.kept_columns import kept_codon_rows

    return kept_codon_rows(rows, kept)


_GAP_BITS = bytes(1 if byte == ord("-") else 0 for byte in range(256))

