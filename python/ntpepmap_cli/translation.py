"""The translate step: a locus's pairs through the native engine, and what it found, in words."""

from __future__ import annotations

from ._native import translate_locus
from .errors import InputError, shown_path
from .problems import (CDS_TOO_LONG, CODING_REGION, KEPT, LEFT_OUT, LOCATED, MASKED, MISMATCH,
                       NO_CODING_REGION, NOT_IN_CODE, TRIMMED, WRONG_PAIRING, Problem)

MISMATCH_POLICIES = ("mask", "keep", "drop")

# What the engine's flags and codes mean (see _native.translate_locus).
_UPPER_CASE, _RESOLVE_AMBIGUITY, _T_FOR_U, _KEEP_REPORTS, _FASTA_TEXT = 1, 2, 4, 8, 16
_LOCATE, _BOTH_STRANDS = 32, 64
_MISMATCH, _MISSING_RESIDUE, _TOO_FEW = 0, 1, 2
_WRITTEN, _DROPPED, _WRONG_PAIRING, _UNPLACED = 0, 1, 2, 3
_DONE_TO_CODON = {"mask": MASKED, "keep": KEPT, "drop": LEFT_OUT}
_DONE_IN_WORDS = {"mask": "masked", "keep": "kept", "drop": "record left out"}


class Tally:
    """Records and codons of one locus or a whole batch, for the summary line."""

    __slots__ = ("written", "masked", "kept", "located", "padded", "left_out")

    def __init__(self) -> None:
        self.written = self.masked = self.kept = self.located = self.padded = self.left_out = 0

    def add(self, other: Tally) -> None:
        for name in self.__slots__:
            setattr(self, name, getattr(self, name) + getattr(other, name))

    def changed_anything(self) -> bool:
        """Whether a codon was masked or kept, or a record padded or left out."""
        return bool(self.masked or self.kept or self.padded or self.left_out)

    def __repr__(self) -> str:
        return "Tally(" + ", ".join(f"{name}={getattr(self, name)}" for name in self.__slots__) + ")"


class EngineSettings:
    """What the engine needs to know of a run's options."""

    __slots__ = ("code", "mismatch", "flags", "both_strands", "threads")

    def __init__(self, table_num: int, gene_table: dict[str, list[str]] | None, mismatch: str,
                 upper_case: bool, resolve_ambiguity: bool, t_for_u: bool,
                 keep_reports: bool, locate: bool = True, both_strands: bool = False,
                 threads: int = 0) -> None:
        self.code: int | dict[str, list[str]] = table_num if gene_table is None else gene_table
        self.mismatch = mismatch
        self.both_strands = both_strands
        self.threads = threads
        self.flags = (_UPPER_CASE * upper_case | _RESOLVE_AMBIGUITY * resolve_ambiguity
                      | _T_FOR_U * t_for_u | _KEEP_REPORTS * keep_reports
                      | _LOCATE * locate | _BOTH_STRANDS * both_strands)

    def code_name(self) -> str:
        return "the gene table" if isinstance(self.code, dict) else f"table {self.code}"


class ShortRow:
    """Where a record's CDS ran out of nucleotides."""

    __slots__ = ("column", "residue_number", "nucleotides", "residues")

    def __init__(self, column: int, residue_number: int, nucleotides: int, residues: int) -> None:
        self.column = column
        self.residue_number = residue_number
        self.nucleotides = nucleotides
        self.residues = residues


class Translated:
    """The rows of the records written, and what became of the others, in words."""

    __slots__ = ("rows", "text", "ragged", "problems", "located", "named", "short", "tally",
                 "reports")

    def __init__(self, reports: str) -> None:
        self.rows: list[tuple[str, str]] = []  # every row written, ragged ones too
        self.text: bytes | None = None  # or the FASTA text of the full rows (UTF-8), when asked for
        self.ragged: list[tuple[str, int]] = []  # rows shorter than the alignment, and their length
        self.problems: list[Problem] = []
        self.located: list[str] = []  # records written from a coding region located in their CDS
        self.named: list[str] = []      # records with a problem
        self.short: dict[str, ShortRow] = {}
        self.tally = Tally()
        self.reports = reports          # the framed reports, when asked for


def translate_pairs(stem: str, pairs: list[tuple[str, str, str]], settings: EngineSettings,
                    pep_path: str, cds_path: str, as_fasta_text: bool = False) -> Translated:
    """Back-translates every pair: rows in the order of pairs, records left out missing;
    or, as_fasta_text, the output file's text of the full rows, as UTF-8 bytes."""
    flags = settings.flags | (_FASTA_TEXT if as_fasta_text else 0)
    try:
        rows, told, reports, clean_located = translate_locus(
            stem, settings.code, pairs, MISMATCH_POLICIES.index(settings.mismatch), flags,
            settings.threads)
    except ValueError as exc:  # letters that are not ASCII
        raise InputError(pep_path, str(exc)) from None
    translated = Translated(reports)
    if as_fasta_text:
        translated.text = rows
    else:
        translated.rows = [(pair[0], row) for pair, row in zip(pairs, rows) if row is not None]
    clean_count = len(clean_located)
    located_at = clean_located  # and the located records told in full, after them
    for index, fate, residues, nucleotides, failed, located, placements, length, sites in told:
        ident = pairs[index][0]
        if fate == _WRITTEN and length != 3 * len(pairs[index][1]):
            translated.ragged.append((ident, length))
        if fate == _UNPLACED:
            problems = [_unplaced_problem(ident, residues, nucleotides, placements, settings,
                                          cds_path)]
        else:
            problems = _record_problems(ident, fate, residues, nucleotides, failed, placements,
                                        sites, settings, pep_path, cds_path)
        short = [site for site in sites if site[0] == _TOO_FEW]
        if short:
            translated.short[ident] = ShortRow(short[0][1], short[0][2], nucleotides, residues)
        if problems or short:
            translated.named.append(ident)
        translated.problems.extend(problems)
        if located and fate == _WRITTEN:  # as the tally counts it
            located_at.append(index)
        _count(translated.tally, fate, failed, located, settings.mismatch)
    translated.tally.located += clean_count
    if len(located_at) > clean_count:  # in the records' order
        located_at.sort()
    translated.located = [pairs[index][0] for index in located_at]
    return translated


def located_notes(idents: list[str], cds_path: str) -> list[Problem]:
    """The note of each record written from a coding region located in its CDS."""
    shown = shown_path(cds_path)
    return [Problem(ident, CODING_REGION, LOCATED,
                    f"{shown}: {ident}: coding region located in the CDS") for ident in idents]


def _count(tally: Tally, fate: int, failed: int, located: bool, mismatch: str) -> None:
    if fate != _WRITTEN:
        tally.left_out += 1
        return
    tally.located += located
    if mismatch == "mask":
        tally.masked += failed
    elif mismatch == "keep":
        tally.kept += failed


def _placements_found(count: int, settings: EngineSettings, where: str = "it") -> str:
    """'the protein has 0 placements in it (...)', or '... N placements in it: ambiguous'."""
    if count > 1:
        return f"the protein has {count} placements in {where}: ambiguous"
    found = f"the protein has {count} placement{'' if count == 1 else 's'} in {where}"
    if count == 0 and not settings.both_strands:
        found += " (forward strand only; --both-strands searches the reverse complement too)"
    return found


def _unplaced_problem(ident: str, residues: int, nucleotides: int, placements: int,
                      settings: EngineSettings, cds_path: str) -> Problem:
    """A CDS that does not fit its residues and holds no single coding region for them."""
    return Problem(ident, NO_CODING_REGION, LEFT_OUT,
                   f"{shown_path(cds_path)}: {ident}: CDS of {nucleotides} nt does not fit its "
                   f"{residues} residues ({3 * residues} or {3 * residues + 3} nt); in "
                   f"{settings.code_name()} {_placements_found(placements, settings)}; left out")


def _record_problems(ident: str, fate: int, residues: int, nucleotides: int, failed: int,
                     placements: int | None, sites: list[tuple[int, int, int, str, str, str]],
                     settings: EngineSettings, pep_path: str, cds_path: str) -> list[Problem]:
    where = f"{shown_path(pep_path)}: {ident}"
    if fate == _WRONG_PAIRING:
        verdict = ": wrong pairing, not this record's CDS; left out"
        if placements is not None and placements != 1:
            found = _placements_found(placements, settings, "the CDS")
            verdict = f"; {found}" + ("; left out" if placements > 1 else verdict)
        return [Problem(ident, WRONG_PAIRING, LEFT_OUT,
                        f"{where}: {failed} of {residues} residues do not match their triplets "
                        f"in {settings.code_name()}{verdict}")]
    problems = []
    if nucleotides > 3 * residues:
        surplus = nucleotides - 3 * residues
        problems.append(Problem(ident, CDS_TOO_LONG, TRIMMED,
                                f"{shown_path(cds_path)}: {ident}: CDS of {nucleotides} nt is "
                                f"{surplus} nt longer than its {residues} residues need "
                                f"({3 * residues} nt); the last {surplus} nt are not written"))
    done, in_words = _DONE_TO_CODON[settings.mismatch], _DONE_IN_WORDS[settings.mismatch]
    for reason, column, number, residue, triplet, encodes in sites:
        if reason == _TOO_FEW:
            continue
        what = _encoded(encodes, settings)
        if reason == _MISMATCH:
            kind, said = MISMATCH, f"does not match {triplet} ({what})"
        else:
            kind, said = NOT_IN_CODE, f"is not in {settings.code_name()} ({triplet}: {what})"
        problems.append(Problem(ident, kind, done,
                                f"{where}: column {column} (residue {number}): {residue} {said}; "
                                f"{in_words}", column, number, residue, triplet))
    return problems


def _encoded(letters: str, settings: EngineSettings) -> str:
    """'D in table 1', 'N or D in table 1', 'no residue in the gene table'."""
    named = " or ".join(letters) if letters else "no residue"
    return f"{named} in {settings.code_name()}"
