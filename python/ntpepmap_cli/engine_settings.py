"""What the engine reads of a run's options: the settings of its one call per locus."""

from __future__ import annotations

from .codes import terminal_stops

TYPE_CHECKING = False
if TYPE_CHECKING:
    from .job import LocusOptions


class EngineSettings:
    """What the engine reads of a run's options, by name."""

    __slots__ = ("code", "mismatch", "frameshifts", "upper_case", "resolve_ambiguity", "t_for_u",
                 "keep_reports", "locate", "both_strands", "trim_stop", "terminal_stops",
                 "keep_short", "stops", "fasta_text", "wrap", "threads")

    def __init__(self, options: LocusOptions, fasta_text: bool = False) -> None:
        self.code: int | dict[str, list[str]] = (options.table_num if options.gene_table is None
                                                 else options.gene_table)
        self.mismatch = options.mismatch
        self.frameshifts = options.frameshifts
        self.upper_case = options.upper_case
        self.resolve_ambiguity = options.resolve_ambiguity
        self.t_for_u = options.t_for_u
        self.keep_reports = options.keep_reports
        self.locate = options.locate
        self.both_strands = options.both_strands
        self.trim_stop = options.trim_stop
        self.terminal_stops = sorted(terminal_stops(options.table_num, options.gene_table))
        self.keep_short = options.keep_short
        self.stops = options.stops
        self.fasta_text = fasta_text
        self.wrap = options.wrap
        self.threads = options.threads

    def code_name(self) -> str:
        return "the gene table" if isinstance(self.code, dict) else f"table {self.code}"
