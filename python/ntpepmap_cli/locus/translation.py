"""The translate step: a locus's records through the native engine in one call, and what
it found, in words, in the locus's outcome."""

from __future__ import annotations

from .._native import looks_trimmed, translate_locus
from .engine_settings import EngineSettings
from ..errors import InputError, name_some, plural, shown_path
from ..result.fates import Fate, SiteReason
from ..result.outcome import LocusOutcome, Tally
from ..result.problems import (CDS_TOO_LONG, CDS_TOO_SHORT, CODING_REGION, CODONS_EXTRA,
                               CODONS_MISSING, COLUMN_LEFT_OUT, COMPLETED, FRAMESHIFT, INTRON, KEPT,
                               LEFT_OUT, LOCATED, MASKED, MISMATCH, NO_CODING_REGION, NOT_IN_CODE,
                               PADDED, PARTIAL_CODON, READ_THROUGH, ROW_TOO_SHORT, STOP_CODON,
                               TRIMMED, WRITTEN_SHORT, WRONG_PAIRING, Problem)

TYPE_CHECKING = False
if TYPE_CHECKING:
    from .._native import FrameshiftReport, LocusTranslation, RecordReport, RecordSet
    from ..job import LocusOptions
    from ..qc.cells import CellMap
    from .table_hint import TableHint

_RAN_OUT = SiteReason.too_few_nucleotides  # a site only told when the row comes out short
# Codons the CDS gains in one run are named as a likely intron from this many nucleotides on.
# The shortest spliced introns are ~60 nt in Drosophila (the short-intron peak lies at 59-63 nt)
# and ~70-80 nt in mammals and Arabidopsis; C. elegans and yeasts splice shorter ones, which
# are then told as codons, not as an intron. Isoforms and moved exon boundaries (NAGNAG: one
# codon) gain a few codons, far fewer than 60 nt.
INTRON_LEAST = 60
_DONE_TO_CODON = {"mask": MASKED, "keep": KEPT, "drop": LEFT_OUT}
_DONE_IN_WORDS = {"mask": "masked", "keep": "kept", "drop": "record left out"}

# A trimmed alignment (ClipKIT, trimAl, Gblocks) has lost residues in the columns cut, so most of
# its records no longer fit their CDS; the engine finds their residues as a few stretches of the
# CDS's translation (looks_trimmed). The trim itself cannot be undone without the untrimmed
# alignment: the hint names --kept-columns, nothing more.
TRIMMED_HINT = ("the alignment looks trimmed: give the untrimmed alignment and the trimmer's "
                "kept columns with --kept-columns")


def strict_refusal(path: str, problems: list[str]) -> InputError:
    return InputError(path, f"--strict: {len(problems)} record(s) with problems: "
                            f"{name_some(problems)}; nothing written")


_GAPS = ("-", ".", "~")


def check_aligned(proteins: RecordSet, found: LocusTranslation, pep_name: str) -> None:
    """Refuses rows of different lengths none of which has a gap: an unaligned file, whose
    rows padded as a ragged alignment's would shift every codon against the others'. Asked
    only where the engine padded rows: an aligned file costs nothing."""
    if any(gap in row for _, row in proteins.records() for gap in _GAPS):
        return
    narrowest = min(width for _, width in found.padded)  # the widest is the alignment's
    raise InputError(pep_name, f"does not look aligned (rows of {narrowest}-{found.width} "
                               f"residues, no gaps); align it first")


def translate(stem: str, proteins: RecordSet, cds: RecordSet, cds_of: list[int],
              options: LocusOptions, pep_name: str, cds_name: str, outcome: LocusOutcome,
              fasta_text: bool = False, kept: list[int] | None = None) -> None:
    """Back-translates each protein record with its CDS (cds_of: the index of each one's CDS
    record) into outcome: the rows in the
    alignment's order, records left out missing (or, fasta_text, the output file's text of
    the full rows), each problem in words, and the tally. Raises InputError where nothing
    may be written; outcome keeps what was found before.

    kept: the columns to be written, when not all are. Every codon is still checked, but a
    failed one in a column trimmed away is only counted."""
    settings = EngineSettings(options, fasta_text)
    try:
        found = translate_locus(stem, settings, proteins, cds, cds_of)
    except ValueError as exc:  # letters that are not ASCII
        raise InputError(pep_name, str(exc)) from None
    if found.padded:
        check_aligned(proteins, found, pep_name)
    idents = proteins.identifiers()
    if options.strict and found.padded:
        raise strict_refusal(pep_name, [idents[index] for index, _ in found.padded])
    outcome.width = 3 * found.width
    outcome.reports = found.reports
    tally = outcome.tally
    tally.padded = len(found.padded)
    padded = [Problem(idents[index], ROW_TOO_SHORT, PADDED,
                      f"{shown_path(pep_name)}: {idents[index]}: protein row of {length} "
                      f"columns padded with {found.width - length} trailing gap(s) to the "
                      f"alignment's {found.width}") for index, length in found.padded]
    held_back: list[Problem] = []  # CDS too short: told first, as they are found before any other
    problems: list[Problem] = []
    stops: list[Problem] = []  # notes, not problems: they change no exit status, --strict or not
    with_problems: list[str] = []  # held back ones first
    ragged: list[tuple[str, int, RecordReport]] = []
    located = list(found.clean_located)
    written_columns = None if kept is None else frozenset(column + 1 for column in kept)
    hint = _table_hint(found, (proteins, cds, cds_of), settings)
    cells = _cells(found, proteins, options, padded) if options.html else None
    for record in found.records:
        ident = idents[record.index]
        words = _Words(ident, proteins, record, settings, pep_name, cds_name, written_columns, hint)
        if record.fate == Fate.too_short:
            held_back.append(words.held_back())
            with_problems.insert(len(held_back) - 1, ident)
        elif record.fate == Fate.unplaced:
            problems.append(words.unplaced())
        else:
            problems.extend(words.record_problems())
        if record.fate != Fate.too_short and (words.has_problems or _ran_out(record)):
            with_problems.append(ident)
        if record.fate == Fate.written and record.row_length != 3 * found.width:
            ragged.append((ident, record.row_length, record))
        if record.located and record.fate == Fate.written:  # as the tally counts it
            located.append(record.index)
        if record.fate == Fate.written:
            stops += words.stop_codons()
        if cells is not None:
            cells.told(record.index, words.told)
        _count(tally, record, settings.mismatch, words.trimmed_away)
    tally.located += len(found.clean_located)
    outcome.problems += padded + held_back + problems
    if tally.padded:
        outcome.changed()
    if options.strict and (outcome.problems or ragged):
        raise strict_refusal(pep_name, list(dict.fromkeys(with_problems + [r[0] for r in ragged])))
    for ident, length, record in ragged:
        outcome.problems.append(_ragged_problem(cds_name, ident, length, record, 3 * found.width,
                                                options.keep_short))
        if cells is not None:
            cells.told(record.index, outcome.problems[-1:])
    if not options.keep_short:
        tally.left_out += len(ragged)
    outcome.located = [idents[index] for index in sorted(located)]
    tally.written = len(proteins) - tally.left_out
    looks_cut = kept is None and _looks_trimmed(found, ragged, (proteins, cds, cds_of), settings,
                                                options.keep_short)
    if tally.written == 0:
        said = f"; {TRIMMED_HINT}" if looks_cut else f"; {hint}" if hint else ""
        raise InputError(pep_name, f"every record was left out; nothing written{said}")
    if looks_cut:
        gapped = len(_gained_codons(found))
        past = f", {gapped} threaded past codons their rows lack" if gapped else ""
        outcome.notes.append(f"{shown_path(pep_name)}: {tally.left_out} of {len(proteins)} "
                             f"records left out{past}; {TRIMMED_HINT}")
    if tally.lacks_data():
        outcome.changed()
    outcome.problems += stops
    read_through = sum(stop.kind == READ_THROUGH for stop in stops)
    tally.read_through += read_through
    _count_stops(tally, found, len(stops) - read_through, settings.stops, read_through)
    tally.stops_trimmed += found.stops_trimmed
    tally.cds_gaps += found.cds_gaps
    outcome.stop_columns = found.stop_columns
    outcome.cells = cells
    _keep_rows(outcome, found, _row_names(proteins, idents, options.rename), options.keep_short)
    if hint:
        outcome.notes.append(f"{shown_path(pep_name)}: {hint}")


def _row_names(proteins: RecordSet, idents: list[str], rename: bool) -> list[str]:
    """The rows' names: the identifiers; to be renamed, a repeated identifier's whole header
    line, which the names and their map keep apart."""
    if not rename or len(set(idents)) == len(idents):
        return idents
    seen: dict[str, int] = {}
    for ident in idents:
        seen[ident] = seen.get(ident, 0) + 1
    return [header if seen[ident] > 1 else ident
            for ident, header in zip(idents, proteins.headers())]


def _keep_rows(outcome: LocusOutcome, found: LocusTranslation, idents: list[str],
               keep_short: bool) -> None:
    """The rows to write: never a ragged alignment unless keep_short."""
    if found.text is not None:
        outcome.text = found.text
        return
    full = 3 * found.width
    outcome.rows = [(ident, row) for ident, row in zip(idents, found.rows)
                    if row is not None and (keep_short or len(row) == full)]


def _table_hint(found: LocusTranslation, locus: tuple[RecordSet, RecordSet, list[int]],
                settings: EngineSettings) -> TableHint | None:
    """Another built-in code that the failing codons fit; asked only where codons fail."""
    if not any(record.failed for record in found.records):
        return None
    from .table_hint import table_hint

    return table_hint(found.records, locus, settings)


def _cells(found: LocusTranslation, proteins: RecordSet, options: LocusOptions,
           padded: list[Problem]) -> CellMap:
    """The locus's cells for its page, the padded rows' problems told already."""
    from ..qc.cells import cell_map

    cells = cell_map(found, proteins, options.mismatch, options.keep_short)
    for (index, _), problem in zip(found.padded, padded):
        cells.told(index, [problem])
    return cells


def _ran_out(record: RecordReport) -> bool:
    return any(site.reason == _RAN_OUT for site in record.sites)


def located_notes(idents: list[str], cds_path: str) -> list[Problem]:
    """The note of each record written from a coding region located in its CDS."""
    shown = shown_path(cds_path)
    return [Problem(ident, CODING_REGION, LOCATED,
                    f"{shown}: {ident}: coding region located in the CDS") for ident in idents]


def _gained_codons(found: LocusTranslation) -> list[int]:
    """The records written with codons of their CDS that their rows lack: the columns a trim cut."""
    return [record.index for record in found.records if record.fate == Fate.written
            and any(event.shift >= 3 for event in record.frameshifts)]


def _looks_trimmed(found: LocusTranslation, ragged: list[tuple[str, int, RecordReport]],
                   locus: tuple[RecordSet, RecordSet, list[int]], settings: EngineSettings,
                   keep_short: bool) -> bool:
    """Whether the records left out, and those written past codons their rows lack, say that
    the alignment was trimmed."""
    left_out = [record.index for record in found.records if record.fate != Fate.written]
    left_out += _gained_codons(found)
    if not keep_short:
        left_out += [record.index for _, _, record in ragged]
    return bool(left_out) and looks_trimmed(settings, *locus, left_out)  # a clean locus asks nothing


def _count(tally: object, record: RecordReport, mismatch: str, trimmed_away: int) -> None:
    if record.fate != Fate.written:
        tally.left_out += 1  # type: ignore[attr-defined]
        return
    tally.located += record.located  # type: ignore[attr-defined]
    tally.trimmed_away += trimmed_away  # type: ignore[attr-defined]
    gaps = sum(abs(frameshift.shift) >= 3 for frameshift in record.frameshifts)
    tally.frameshifts += len(record.frameshifts) - gaps  # type: ignore[attr-defined]
    tally.codon_gaps += gaps  # type: ignore[attr-defined]
    # A codon a frameshift or a gap of codons broke, or left in doubt, is written NNN whatever
    # --mismatch says.
    tally.masked += sum(shift.masked + shift.masked_after  # type: ignore[attr-defined]
                        for shift in record.frameshifts)
    if mismatch == "mask":
        tally.masked += record.failed - trimmed_away  # type: ignore[attr-defined]
    elif mismatch == "keep":
        tally.kept += record.failed - trimmed_away  # type: ignore[attr-defined]


def _count_stops(tally: Tally, found: LocusTranslation, internal: int, policy: str,
                 read_through: int) -> None:
    """Kept, only the stop codons inside the proteins count; masked or dropped, all of them
    (codons read through as U or O are counted apart)."""
    if policy == "mask":
        tally.stops_masked += found.stop_codons - read_through
    elif policy == "drop-columns":
        tally.stops_dropped += found.stop_codons - read_through
    else:
        tally.stops_kept += internal


def _placements_found(count: int, settings: EngineSettings, where: str = "it") -> str:
    """'the protein has 0 placements in it (...)', or '... N placements in it: ambiguous'."""
    if count > 1:
        return f"the protein has {count} placements in {where}: ambiguous"
    found = f"the protein has {count} placement{'' if count == 1 else 's'} in {where}"
    if count == 0 and not settings.both_strands:
        found += " (forward strand only; --both-strands searches the reverse complement too)"
    return found


class _Words:
    """The problem lines of one record the engine told of."""

    __slots__ = ("ident", "proteins", "record", "settings", "pep_name", "cds_name",
                 "written_columns", "hint", "has_problems", "trimmed_away", "told")

    def __init__(self, ident: str, proteins: RecordSet, record: RecordReport,
                 settings: EngineSettings, pep_name: str, cds_name: str,
                 written_columns: frozenset[int] | None, hint: TableHint | None) -> None:
        self.ident = ident
        self.proteins = proteins  # the record's row fetched only where a line shows a residue
        self.record = record
        self.settings = settings
        self.pep_name = pep_name
        self.cds_name = cds_name
        self.written_columns = written_columns  # 1-based; None: all
        self.hint = hint  # another code under which the whole locus fits
        self.has_problems = False
        self.trimmed_away = 0  # failed codons in columns not written
        self.told: list[Problem] = []  # every line of the record, for its page

    def _problem(self, *fields: object) -> Problem:
        self.has_problems = True
        self.told.append(Problem(self.ident, *fields))  # type: ignore[arg-type]
        return self.told[-1]

    def held_back(self) -> Problem:
        """A CDS with fewer triplets than its row has residues can never give a full row."""
        record = self.record
        return self._problem(CDS_TOO_SHORT, LEFT_OUT,
                             f"{shown_path(self.cds_name)}: {self.ident}: CDS of "
                             f"{record.nucleotides} nt is too short for {record.residues} "
                             f"residues ({3 * record.residues} nt){self._frameshifts_found()}; "
                             "left out")

    def unplaced(self) -> Problem:
        """A CDS that does not fit its residues and holds no single coding region for them."""
        record = self.record
        return self._problem(NO_CODING_REGION, LEFT_OUT,
                             f"{shown_path(self.cds_name)}: {self.ident}: CDS of "
                             f"{record.nucleotides} nt does not fit its {record.residues} residues "
                             f"({3 * record.residues} or {3 * record.residues + 3} nt); in "
                             f"{self.settings.code_name()} "
                             f"{_placements_found(record.placements, self.settings)}"
                             f"{self._frameshifts_found()}; left out")

    def stop_codons(self) -> list[Problem]:
        """A note for each stop codon inside the protein: a terminal one is what a CDS ends
        with, and is only counted."""
        policy = self.settings.stops
        where = f"{shown_path(self.pep_name)}: {self.ident}"
        stops = [Problem(self.ident, READ_THROUGH if stop.residue in _READ_THROUGH else STOP_CODON,
                         _STOP_DONE[policy],
                         f"{where}: column {stop.column} (residue {stop.residue_number}): "
                         f"{_READ_THROUGH.get(stop.residue, 'internal stop')} codon {stop.triplet} "
                         f"under {stop.residue}; {_STOP_DONE_IN_WORDS[policy]}",
                         stop.column, stop.residue_number, stop.residue, stop.triplet)
                 for stop in self.record.stops if not stop.terminal]
        self.told += stops
        return stops

    def record_problems(self) -> list[Problem]:
        record, settings = self.record, self.settings
        where = f"{shown_path(self.pep_name)}: {self.ident}"
        if record.fate == Fate.wrong_pairing:
            verdict = f": wrong pairing, not this record's CDS{self._frameshifts_found()}; left out"
            placements = record.placements
            if self.hint:  # its own CDS after all, read in the wrong code
                verdict = f", but all do in {self.hint.tables()}: try -t {self.hint.codes[0]}; left out"
            elif placements is not None and placements != 1:
                found = _placements_found(placements, settings, "the CDS")
                verdict = f"; {found}" + ("; left out" if placements > 1 else verdict)
            return [self._problem(WRONG_PAIRING, LEFT_OUT,
                                  f"{where}: {record.failed} of {record.residues} residues do "
                                  f"not match their triplets in {settings.code_name()}{verdict}")]
        problems = []
        if record.nucleotides > 3 * record.residues:
            surplus = record.nucleotides - 3 * record.residues
            problems.append(self._problem(
                CDS_TOO_LONG, TRIMMED,
                f"{shown_path(self.cds_name)}: {self.ident}: CDS of {record.nucleotides} nt is "
                f"{surplus} nt longer than its {record.residues} residues need "
                f"({3 * record.residues} nt); the last {surplus} nt are not written"))
        problems += [self._frameshift(frameshift) for frameshift in record.frameshifts]
        if record.partial_codon:
            problems.append(self._partial_codon())
        done, in_words = _DONE_TO_CODON[settings.mismatch], _DONE_IN_WORDS[settings.mismatch]
        # A record dropped for a codon in a column trimmed away says so: it is not written.
        written = self.written_columns if record.fate == Fate.written else None
        for site in record.sites:
            if site.reason == _RAN_OUT:
                continue
            if written is not None and site.column not in written:
                self.trimmed_away += 1
                continue
            what = _encoded(site.encodes, settings)
            if site.reason == SiteReason.mismatch:
                kind, said = MISMATCH, f"does not match {site.triplet} ({what})"
            else:
                kind, said = NOT_IN_CODE, f"is not in {settings.code_name()} ({site.triplet}: {what})"
            problems.append(self._problem(
                kind, done, f"{where}: column {site.column} (residue {site.residue_number}): "
                            f"{site.residue} {said}; {in_words}",
                site.column, site.residue_number, site.residue, site.triplet))
        return problems

    def _partial_codon(self) -> Problem:
        """A 3'-partial CDS, its last codon completed with N."""
        kept, residues = self.record.partial_codon, self.record.residues
        end = 3 * residues - 3 + kept
        at = f"{end - 1}-{end}" if kept == 2 else f"{end}"
        return self._problem(PARTIAL_CODON, COMPLETED,
                             f"{shown_path(self.cds_name)}: {self.ident}: CDS of {end} nt ends "
                             f"in a 3'-partial codon ({plural(kept, 'nucleotide')} at CDS {at}, "
                             f"residue {residues}); completed with N",
                             None, residues)

    def _frameshift(self, frameshift: FrameshiftReport) -> Problem:
        """'column 88 (residue 71): frameshift, 1 extra nucleotide (A at CDS 212) left out;
        codon masked', or the like for codons gained or lost."""
        shift, letters, at = frameshift.shift, frameshift.letters, frameshift.cds_position
        if abs(shift) >= 3:
            return self._codon_gap(frameshift)
        if shift > 0:
            said = f"{plural(shift, 'extra nucleotide')} ({letters} at CDS {at}) left out"
        else:
            span = f"{at}-{at + len(letters) - 1}" if len(letters) > 1 else f"{at}"
            said = (f"{plural(-shift, 'nucleotide')} missing (its codon reads {letters} at CDS "
                    f"{span})")
        said += "; codon masked" if frameshift.masked else "; codon written whole"
        return self._event_problem(frameshift, FRAMESHIFT, MASKED if frameshift.masked else TRIMMED,
                                   f"frameshift, {said}")

    def _codon_gap(self, gap: FrameshiftReport) -> Problem:
        """'1 codon missing from the CDS after nt 300', '2 codons in the CDS and not in the
        protein, nt 301-306, left out', 'looks like an intron: 87 nt at CDS 151-237'."""
        at, length = gap.cds_position, abs(gap.shift)
        if gap.shift < 0:
            kind, done = CODONS_MISSING, MASKED
            said = f"{plural(length // 3, 'codon')} missing from the CDS after nt {at}"
        elif length >= INTRON_LEAST:
            kind, done = INTRON, TRIMMED
            said = f"looks like an intron: {length} nt at CDS {at}-{at + length - 1}"
        else:
            kind, done = CODONS_EXTRA, TRIMMED
            said = (f"{plural(length // 3, 'codon')} in the CDS and not in the protein, "
                    f"nt {at}-{at + length - 1}, left out")
        return self._event_problem(gap, kind, done, said)

    def _event_problem(self, event: FrameshiftReport, kind: str, done: str, said: str) -> Problem:
        if event.masked_after:
            said += f"; {plural(event.masked_after, 'codon')} after it masked too"
        column = event.column
        return self._problem(kind, done,
                             f"{shown_path(self.pep_name)}: {self.ident}: column {column} "
                             f"(residue {event.residue_number}): {said}",
                             column, event.residue_number,
                             self.proteins.sequence(self.record.index, column)[column - 1],
                             event.letters)

    def _frameshifts_found(self) -> str:
        """For a record left out: what threading it with frameshifts found, if it ran."""
        found = self.record.frameshifts
        if not found:
            return ""
        first = found[0]
        dropped = " (--frameshifts drop)" if self.settings.frameshifts == "drop" else ""
        gaps = sum(abs(event.shift) >= 3 for event in found)
        held = plural(len(found) - gaps, "frameshift")
        if gaps:
            held += f" and {plural(gaps, 'gap')} of whole codons"
        return (f"; allowing frameshifts, its best threading holds {held}{dropped}, the first "
                f"at column {first.column} (residue {first.residue_number}, CDS {first.cds_position})")


_READ_THROUGH = {"U": "selenocysteine", "O": "pyrrolysine"}
_STOP_DONE = {"keep": KEPT, "mask": MASKED, "drop-columns": COLUMN_LEFT_OUT}
_STOP_DONE_IN_WORDS = {"keep": "kept", "mask": "masked",
                       "drop-columns": "its column left out of every row"}


def _ragged_problem(cds_path: str, ident: str, length: int, record: RecordReport, expected: int,
                    keep_short: bool) -> Problem:
    fate = "written anyway (--keep-short)" if keep_short else "left out"
    short = next((site for site in record.sites if site.reason == _RAN_OUT), None)
    where = (f"CDS of {record.nucleotides} nt runs out at column {short.column} (residue "
             f"{short.residue_number} of {record.residues}, {3 * record.residues} nt needed); "
             if short else "")
    return Problem(ident, CDS_TOO_SHORT, WRITTEN_SHORT if keep_short else LEFT_OUT,
                   f"{shown_path(cds_path)}: {ident}: {where}codon row of {length} "
                   f"columns, alignment has {expected}; {fate}",
                   short.column if short else None, short.residue_number if short else None)


def _encoded(letters: str, settings: EngineSettings) -> str:
    """'D in table 1', 'N or D in table 1', 'no residue in the gene table'."""
    residues = " or ".join(letters) if letters else "no residue"
    return f"{residues} in {settings.code_name()}"
