"""What a locus run is given: its files, and the options every locus of a run shares."""

from __future__ import annotations

TYPE_CHECKING = False
if TYPE_CHECKING:
    from .cds_source import CdsSource


# Plain classes, not NamedTuple or dataclass: importing typing or dataclasses
# would cost a small locus more start-up time than its work.
class LocusOptions:
    """How every locus of a run is read, back-translated and written."""

    __slots__ = ("table_num", "gene_table", "in_format", "out_format", "wrap", "pair_by_order",
                 "id_map", "trim_stop", "strict", "keep_short", "mismatch", "frameshifts", "upper_case",
                 "resolve_ambiguity", "t_for_u", "drop_gap_columns", "keep_reports", "locate",
                 "both_strands", "threads", "id_pattern", "rename", "stops", "blocks")

    def __init__(self, table_num: int = 1, gene_table: dict[str, list[str]] | None = None,
                 in_format: str = "auto", out_format: str = "fasta", wrap: int = 0,
                 pair_by_order: bool = False, id_map: dict[str, str] | None = None,
                 trim_stop: bool = True, strict: bool = False, keep_short: bool = False,
                 mismatch: str = "mask", frameshifts: str = "mask", upper_case: bool = False,
                 resolve_ambiguity: bool = False, t_for_u: bool = False,
                 drop_gap_columns: bool = False, keep_reports: bool = False, locate: bool = True,
                 both_strands: bool = False, threads: int = 0,
                 id_pattern: str | None = None, rename: bool = False,
                 stops: str = "keep", blocks: bool = False) -> None:
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
        # One capture group, found in the whole header lines of both inputs: pairs by it alone.
        self.id_pattern = id_pattern
        self.rename = rename  # names made safe and unique, each job writing its map
        self.stops = stops  # what becomes of stop codons under '*': keep, mask, drop-columns
        self.blocks = blocks  # write the columns that lines of '#' mark under CLUSTAL blocks


class LocusJob:
    """The two input files of a locus and its output ('-': standard output); or, for
    CDS, a source read already (several files, or those a batch shares); and the file of
    the columns kept of its alignment by a trimmer, if any."""

    __slots__ = ("pep_path", "cds_path", "out_path", "shared", "partitions_path", "names_path",
                 "kept_path", "name")

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

    def share(self, source: CdsSource) -> None:
        """Takes its CDS from a source read already."""
        self.shared = source
        self.cds_path = source.name

    def __repr__(self) -> str:
        kept = f", {self.kept_path!r}" if self.kept_path is not None else ""
        return f"LocusJob({self.pep_path!r}, {self.cds_path!r}, {self.out_path!r}{kept})"
