"""What a locus run is given: its files, and the options every locus of a run shares."""

from __future__ import annotations

from .option_table import locus_defaults, locus_fields

TYPE_CHECKING = False
if TYPE_CHECKING:
    from typing import Any

    from .pairing.shared_cds import CdsSource


_DEFAULTS = locus_defaults()


# Plain classes, not NamedTuple or dataclass: importing typing or dataclasses
# would cost a small locus more start-up time than its work.
class LocusOptions:
    """How every locus of a run is read, back-translated and written: an attribute per
    field of the option table, its default where not given."""

    __slots__ = locus_fields()

    # For type checkers: the option table's fields, as they are held.
    table_num: int
    gene_table: dict[str, list[str]] | None
    in_format: str
    out_format: str | None  # None: from the output's name
    wrap: int
    drop_gap_columns: bool
    pair_by_order: bool
    id_map: dict[str, str] | None  # protein identifier -> CDS identifier
    id_pattern: str | None  # one capture group, found in both inputs' header lines: pairs alone
    trim_stop: bool
    locate: bool  # search a CDS that does not fit for the protein's coding region
    both_strands: bool
    blocks: bool  # write the columns that lines of '#' mark under CLUSTAL blocks
    letter_case: str  # keep or upper
    resolve_ambiguity: bool
    t_for_u: bool
    mismatch: str
    frameshifts: str  # a CDS that fits only with frameshifts: mask or drop
    stops: str  # what becomes of stop codons under '*': keep, mask, drop-columns
    strict: bool
    keep_short: bool
    keep_reports: bool
    rename: bool  # names made safe and unique, each job writing its map
    html: bool  # what became of each codon kept, for the locus's page
    threads: int  # a large locus on this many threads at most (0: one per usable CPU)

    def __init__(self, **given: Any) -> None:
        unknown = set(given) - set(_DEFAULTS)
        if unknown:
            raise TypeError(f"LocusOptions has no {', '.join(sorted(unknown))}")
        for field, default in _DEFAULTS.items():
            setattr(self, field, given.get(field, default))

    def replaced(self, **changes: Any) -> LocusOptions:
        """The same options but for the fields given (a locus's own output format)."""
        return LocusOptions(**{**{field: getattr(self, field) for field in _DEFAULTS}, **changes})


class LocusJob:
    """The two input files of a locus and its output ('-': standard output); or, for
    CDS, a source read already (several files, or those a batch shares); and the file of
    the columns kept of its alignment by a trimmer, if any."""

    __slots__ = ("pep_path", "cds_path", "out_path", "shared", "partitions_path", "names_path",
                 "kept_path", "name", "html_path", "out_format")

    def __init__(self, pep_path: str, cds_path: str, out_path: str = "-",
                 shared: CdsSource | None = None, partitions_path: str | None = None,
                 names_path: str | None = None, kept_path: str | None = None,
                 name: str = "") -> None:
        self.pep_path = pep_path
        self.cds_path = cds_path if shared is None else shared.name
        self.out_path = out_path
        self.shared = shared
        self.partitions_path = partitions_path  # the codon positions as partitions
        self.names_path = names_path  # the map of safe names to the originals (--rename)
        self.kept_path = kept_path
        self.name = name  # in a batch: the output path as the manifest writes it, or the stem
        self.html_path: str | None = None  # the locus's page (--html)
        self.out_format: str | None = None  # the output's own format; None: the run's

    def share(self, source: CdsSource) -> None:
        """Takes its CDS from a source read already."""
        self.shared = source
        self.cds_path = source.name

    def __repr__(self) -> str:
        kept = f", {self.kept_path!r}" if self.kept_path is not None else ""
        return f"LocusJob({self.pep_path!r}, {self.cds_path!r}, {self.out_path!r}{kept})"
