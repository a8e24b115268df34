"""What became of a record, and why a residue's triplet failed: the engine's own names, in
its order, as the numbers its reports carry."""

from __future__ import annotations

from enum import IntEnum

from ._native import FATES, SITE_REASONS


def _members(names: tuple[str, ...]) -> dict[str, int]:
    """'wrong pairing' as the member wrong_pairing, numbered as the engine numbers it."""
    return {name.replace(" ", "_"): number for number, name in enumerate(names)}


# written, dropped, wrong_pairing, unplaced, too_short
Fate = IntEnum("Fate", _members(FATES))  # type: ignore[misc]
# mismatch, not_in_code, too_few_nucleotides
SiteReason = IntEnum("SiteReason", _members(SITE_REASONS))  # type: ignore[misc]
