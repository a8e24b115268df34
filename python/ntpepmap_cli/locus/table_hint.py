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
LEAST_FAILURES = 5
_RAN_OUT = SiteReason.too_few_nucleotides  # no codon to fit another code
_DONE_IN_WORDS = {"mask": "masked", "keep": "kept", "drop": "failing"}


def _in_words(numbers: list[int]) -> str:
    """'table 2', 'tables 2 and 5', 'tables 2, 5 and 13'."""
    if len(numbers) == 1:
        return f"table {numbers[0]}"
    listed = ", ".join(map(str, numbers[:-1]))
    return f"tables {listed} and {numbers[-1]}"


def table_hint(records: Sequence[RecordReport], locus: tuple[RecordSet, RecordSet, list[int]],
               settings: EngineSettings) -> str | None:
    """'all 1622 masked codons fit tables 2, 5 and 13; try -t 2', when at least
    LEAST_FAILURES codons fail and every one of them fits another built-in code that
    makes no codon that matches now fail; else None."""
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
    return f"all {count} {done} codons fit {_in_words(fitting)}; try -t {fitting[0]}"
