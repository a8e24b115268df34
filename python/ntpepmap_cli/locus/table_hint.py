"""The table hint: the other built-in codes that every failing codon of a locus fits.

Mitochondrial data run under the standard code fail on TGA (W), ATA (M) and
AGR; nothing else says that a code of its own would fit them all.
"""

from __future__ import annotations

from .._native import codes_fitting_locus
from ..result.fates import Fate, SiteReason

TYPE_CHECKING = False
if TYPE_CHECKING:
    from collections.abc import Sequence

    from .._native import RecordReport, RecordSet
    from .engine_settings import EngineSettings

# Fewer failures than this are usually the data's own; a wrong code fails many codons.
LEAST_FAILURES = 2
_RAN_OUT = SiteReason.too_few_nucleotides  # no codon to fit another code
_DONE_IN_WORDS = {"mask": "masked", "keep": "kept", "drop": "failing"}


def _in_words(numbers: list[int]) -> str:
    """'table 2', 'tables 2 and 5', 'tables 2, 5 and 13'."""
    if len(numbers) == 1:
        return f"table {numbers[0]}"
    listed = ", ".join(map(str, numbers[:-1]))
    return f"tables {listed} and {numbers[-1]}"


class TableHint:
    """The other built-in codes that the locus's failing codons all fit, and their count."""

    __slots__ = ("codes", "count", "done")

    def __init__(self, codes: list[int], count: int, done: str) -> None:
        self.codes = codes
        self.count = count
        self.done = done  # what became of the failing codons, in a word

    def tables(self) -> str:
        return _in_words(self.codes)

    def __str__(self) -> str:
        return f"all {self.count} {self.done} codons fit {self.tables()}; try -t {self.codes[0]}"


def table_hint(records: Sequence[RecordReport], locus: tuple[RecordSet, RecordSet, list[int]],
               settings: EngineSettings) -> TableHint | None:
    """'all 1622 masked codons fit tables 2, 5 and 13; try -t 2', when at least
    LEAST_FAILURES codons fail and every one of them fits another built-in code under which
    the whole locus fails no codon and leaves out no more records; else None."""
    if isinstance(settings.code, dict):
        return None
    failing = {(site.residue, site.triplet) for record in records for site in record.sites
               if site.reason != _RAN_OUT}
    count = sum(site.reason != _RAN_OUT for record in records for site in record.sites)
    if count < LEAST_FAILURES:
        return None
    left_out_now = sum(record.fate != Fate.written for record in records)
    fitting = codes_fitting_locus(settings, *locus, list(failing), left_out_now)
    if not fitting:
        return None
    done = _DONE_IN_WORDS[settings.mismatch] if left_out_now == 0 else "failing"
    return TableHint(fitting, count, done)
