"""Pairing by what the headers say, where a protein's identifier is no CDS identifier.

The files people download name a gene differently in its protein and its CDS
(NCBI's protein.faa and cds_from_genomic.fna, Ensembl's pep and cds, UniProt's
db|ACC|NAME): each rule reads, from both headers, the key those files share.
A header is the whole header line, identifier first; where none is known, the
identifier stands for it.
"""

from __future__ import annotations

import re


TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Callable, Sequence
    from typing import Any

    from .._native import RecordSet

    Keys = Callable[[str, str], list[str]]


class _CompiledWhenUsed:
    """A regular expression compiled on its first use: most runs pair by identifier and
    never read a header, and compiling the four below cost a one-record run 2 % of its
    instructions. The compiled pattern's methods are kept on the instance once looked up."""

    def __init__(self, source: str) -> None:
        self._source = source

    def __getattr__(self, name: str) -> Callable[..., Any]:
        method = getattr(re.compile(self._source), name)
        setattr(self, name, method)
        return method  # type: ignore[no-any-return]


_PROTEIN_ID = _CompiledWhenUsed(r"\[protein_id=([^\]\s]+)\]")
_NCBI_CDS_IDENT = _CompiledWhenUsed(r"lcl\|.*_cds_(.+)_\d+")
_TRANSCRIPT = _CompiledWhenUsed(r"(?:^|\s)transcript:(\S+)")
_VERSION = _CompiledWhenUsed(r"\.\d+$")
# Marks the unversioned name of a versioned CDS identifier, which a protein's
# unversioned transcript pairs with but its versioned one does not.
_ANY_VERSION = "\0"


class Rule:
    """A way to pair: the keys that a protein's header and a CDS header give.

    A protein pairs by the first of its keys found among the CDS keys (and,
    with_identifiers, among the CDS identifiers).
    """

    __slots__ = ("name", "protein_keys", "cds_keys", "with_identifiers")

    def __init__(self, name: str, protein_keys: Keys, cds_keys: Keys,
                 with_identifiers: bool = True) -> None:
        self.name = name
        self.protein_keys = protein_keys
        self.cds_keys = cds_keys
        self.with_identifiers = with_identifiers


def _ncbi_protein_keys(ident: str, header: str) -> list[str]:
    # XP_016856.2 also finds a CDS that names XP_016856; XP_016856 finds any version
    stem = _unversioned(ident) if "." in ident else ident
    return [ident, stem] if stem != ident else [ident, _ANY_VERSION + ident]


def _ncbi_cds_keys(ident: str, header: str) -> list[str]:
    # substring tests first: 40,000 plain records indexed by the three rules in 28 ms, not 38
    keys = _PROTEIN_ID.findall(header) if "[protein_id=" in header else []
    named = _NCBI_CDS_IDENT.fullmatch(ident) if "_cds_" in ident else None
    if named and named.group(1) not in keys:
        keys.append(named.group(1))
    return keys + [_ANY_VERSION + stem for stem in map(_unversioned, keys)
                   if stem not in keys]


def _unversioned(name: str) -> str:
    return _VERSION.sub("", name)


def _transcript_keys(ident: str, header: str) -> list[str]:
    found = _TRANSCRIPT.search(header)
    if not found:
        return []
    transcript = found.group(1)
    stem = _unversioned(transcript)
    return [transcript, stem] if stem != transcript else [transcript, _ANY_VERSION + stem]


def _transcript_cds_keys(ident: str, header: str) -> list[str]:
    if "." not in ident:
        return []
    stem = _unversioned(ident)
    return [_ANY_VERSION + stem] if stem != ident else []


def _accession(ident: str, header: str) -> list[str]:
    if "|" not in ident:
        return []
    fields = ident.split("|")
    return [fields[1]] if len(fields) >= 3 and fields[1] else []


def _piped_or_own(ident: str, header: str) -> list[str]:
    return _accession(ident, header) or [ident]


def _species_keys(ident: str, header: str) -> list[str]:
    """Species|ID (OrthoFinder's and BUSCO pipelines' layout): the ID, and the whole name for
    a CDS known by its file's name."""
    species, bar, rest = ident.partition("|")
    return [ident, rest] if bar and species and rest and "|" not in rest else []


def _species_cds_keys(ident: str, header: str) -> list[str]:
    """A CDS named STEM|ID, as one in several files is: also by the stem's first word
    (Homo_sapiens.cds|g1.t1 as Homo_sapiens|g1.t1)."""
    stem, bar, rest = ident.partition("|")
    species = stem.split(".", 1)[0]
    return [f"{species}|{rest}"] if bar and species != stem else []


RULES = (
    Rule("NCBI protein_id", _ncbi_protein_keys, _ncbi_cds_keys, with_identifiers=False),
    Rule("Ensembl transcript", _transcript_keys, _transcript_cds_keys),
    Rule("db|accession|name", _piped_or_own, _accession),
    Rule("Species|ID", _species_keys, _species_cds_keys),
)
RULE_NAMES = ", ".join(rule.name for rule in RULES[:-1]) + " and " + RULES[-1].name


def pattern_rule(pattern: str) -> Rule:
    """The rule of --id-pattern: its one capture group, found in the whole header line.
    Matched by RE2, whose time grows with the header's length alone, whatever the pattern
    ('(a+)+$' takes Python's re exponential time); RE2 has no back-references or
    look-around, which a pattern of one capture group has no need of."""
    compiled = _linear_pattern(pattern)
    if compiled.groups != 1:
        raise ValueError(f"the pattern {pattern!r} must have exactly one capture group, "
                         f"not {compiled.groups}")

    def captured(ident: str, header: str) -> list[str]:
        found = compiled.search(header)
        return [found.group(1)] if found and found.group(1) else []

    return Rule("the pattern", captured, captured, with_identifiers=False)


def _linear_pattern(pattern: str) -> Any:
    import re2  # google-re2: imported only for a pattern

    try:
        return re2.compile(pattern)
    except re2.error as exc:
        raise ValueError(f"the pattern {pattern!r} is not one RE2 takes ({exc}); matching "
                         f"runs in linear time, without back-references or look-around") from None


class CdsLookup:
    """The CDS records by identifier and by the keys each rule finds in their
    headers, built as needed and kept: a batch's shared CDS is looked up through
    one, built before its workers start."""

    __slots__ = ("records", "idents", "headers", "complete", "_index_of", "_by_rule")

    def __init__(self, records: RecordSet, index_of: dict[str, int] | None = None,
                 idents: list[str] | None = None) -> None:
        self.records = records
        # the names the records pair by: their identifiers, unless given
        self.idents: list[str] = records.identifiers() if idents is None else idents
        self.headers: list[str] | None = None  # made from the records when a rule needs them
        self.complete = False  # every index the rules ask for is built
        self._index_of = index_of
        self._by_rule: dict[str, dict[str, list[str]]] = {}

    def first_header(self, known: bool = True) -> str:
        """The first record's whole header line; its identifier where the header lines
        play no part (known false)."""
        if not len(self.records):
            return ""
        return self.records.header(0) if known else self.idents[0]

    def index_of(self) -> dict[str, int]:
        """Identifier -> index of its record (the last record of a repeated identifier)."""
        if self._index_of is None:
            self._index_of = {ident: index for index, ident in enumerate(self.idents)}
        return self._index_of

    def header_lines(self) -> list[str]:
        if self.headers is None:
            self.headers = self.records.headers()
        return self.headers

    def by_rule(self, rule: Rule) -> dict[str, list[str]]:
        found = self._by_rule.get(rule.name)
        if found is None:
            found = self._by_rule[rule.name] = {}
            cds_keys = rule.cds_keys
            for ident, header in zip(self.idents, self.header_lines()):
                for key in cds_keys(ident, header):
                    found.setdefault(key, []).append(ident)
        return found

    def build(self, rules: Sequence[Rule]) -> None:
        """Every index the rules can ask for, made now; the header lines, no longer
        needed then, are let go."""
        self.index_of()
        for rule in rules:
            self.by_rule(rule)
        self.headers = None
        self.complete = True

    def found(self, rule: Rule, ident: str, header: str) -> list[str]:
        """The CDS identifiers that the first of the protein's keys finds."""
        by_rule = self.by_rule(rule)
        index_of = self.index_of() if rule.with_identifiers else {}
        for key in rule.protein_keys(ident, header):
            hits = by_rule.get(key, []) + ([key] if key in index_of else [])
            if hits:
                return list(dict.fromkeys(hits))
        return []


class HeaderPairing:
    """What the rules made of the proteins no identifier paired."""

    __slots__ = ("cds_of", "counts", "ambiguous", "clashes")

    def __init__(self) -> None:
        self.cds_of: dict[int, str] = {}     # protein position -> CDS identifier
        self.counts: dict[str, int] = {}     # rule name -> proteins it paired
        self.ambiguous: list[str] = []       # proteins a rule found several CDS for
        self.clashes: list[str] = []         # 'p1 and p2 (CDS c)': two proteins, one CDS


def pair_by_headers(idents: Sequence[str], headers: Sequence[str] | None,
                    unpaired: Sequence[int], taken: set[str], lookup: CdsLookup,
                    rules: Sequence[Rule]) -> HeaderPairing:
    """The CDS identifier of each unpaired protein (positions into idents) that a
    rule finds exactly one CDS record for, the first rule that does winning; a CDS
    identifier already taken (by identifier, or by another protein) serves no other.
    """
    headers = headers if headers is not None else idents
    outcome = HeaderPairing()
    holder = {cds: "" for cds in taken}  # CDS identifier -> the protein that took it by a rule
    for position in unpaired:
        ident, header = idents[position], headers[position]
        several = False
        for rule in rules:
            hits = lookup.found(rule, ident, header)
            if len(hits) > 1:
                several = True
                continue
            if not hits:
                continue
            cds = hits[0]
            if cds in holder:
                outcome.clashes.append(f"{holder[cds] or cds} and {ident} (CDS {cds})")
            else:
                holder[cds] = ident
                outcome.cds_of[position] = cds
                outcome.counts[rule.name] = outcome.counts.get(rule.name, 0) + 1
            break
        else:
            if several:
                outcome.ambiguous.append(ident)
    return outcome


def rules_for(id_pattern: str | None) -> Sequence[Rule]:
    return RULES if id_pattern is None else (pattern_rule(id_pattern),)


def unpaired_proteins(idents: Sequence[str], lookup: CdsLookup, id_map: dict[str, str] | None,
                      id_pattern: str | None) -> tuple[list[int], set[str]]:
    """The positions of the proteins that no identifier (mapped or their own) pairs, and
    the CDS identifiers the others take; with a pattern, every protein, as it is then
    the only rule."""
    if id_pattern is not None:
        return list(range(len(idents))), set()
    index_of = lookup.index_of()
    wanted = [id_map.get(ident, ident) for ident in idents] if id_map else idents
    mapped = id_map or {}  # a protein the map names pairs as mapped, or not at all
    unpaired = [position for position, name in enumerate(wanted)
                if name not in index_of and idents[position] not in mapped]
    if not unpaired:
        return [], set()
    return unpaired, set(wanted) - {wanted[position] for position in unpaired}


_SHOWN_HEADER = 60


def _shown_header(header: str) -> str:
    return repr(header if len(header) <= _SHOWN_HEADER else header[:_SHOWN_HEADER] + "...")


def tried_text(id_pattern: str | None, protein_header: str, cds_header: str) -> str:
    """What was tried besides identifiers, for the message of a protein file that no CDS pairs."""
    tried = (f"tried the pattern {id_pattern!r} on both header lines" if id_pattern is not None
             else f"tried {RULE_NAMES} in the headers too")
    return f"{tried} (protein {_shown_header(protein_header)}, CDS {_shown_header(cds_header)})"


def rule_notes(pairing: HeaderPairing, cds_name: str) -> list[str]:
    """A note for each rule that paired records, telling how many."""
    return [f"{cds_name}: {count} record(s) paired by {name}"
            for name, count in pairing.counts.items()]
