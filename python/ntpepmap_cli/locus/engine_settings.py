"""What the engine reads of a run's options: the settings of its one call per locus."""

from __future__ import annotations

from ..codes import terminal_stops
from ..option_table import engine_options, engine_value

TYPE_CHECKING = False
if TYPE_CHECKING:
    from ..job import LocusOptions

# The options the engine reads one by one: (its name for one, LocusOptions' field, the option).
_READ = [(str(option.engine), str(option.field), option) for option in engine_options()]


class EngineSettings:
    """What the engine reads of a run's options, by name: those the option table gives an
    engine name, the code (a built-in's number or a gene table) and the codons that end a
    CDS under it, and whether to write the rows as a FASTA file's text."""

    __slots__ = ("code", "terminal_stops", "fasta_text",
                 *(engine for engine, _, _ in _READ))

    # For type checkers: the settings the tool reads back.
    mismatch: str
    frameshifts: str
    stops: str
    locate: bool
    both_strands: bool

    def __init__(self, options: LocusOptions, fasta_text: bool = False) -> None:
        self.code: int | dict[str, list[str]] = (options.table_num if options.gene_table is None
                                                 else options.gene_table)
        self.terminal_stops = sorted(terminal_stops(options.table_num, options.gene_table))
        self.fasta_text = fasta_text
        for engine, field, option in _READ:
            setattr(self, engine, engine_value(option, getattr(options, field)))

    def code_name(self) -> str:
        return "the gene table" if isinstance(self.code, dict) else f"table {self.code}"
