"""What became of a record, and why a residue's triplet failed: the engine's own names, in
its order, as the numbers its reports carry."""

from __future__ import annotations

from enum import IntEnum

from .._native import FATES, SITE_REASONS

TYPE_CHECKING = False


def _members(names: tuple[str, ...]) -> dict[str, int]:
    """'wrong pairing' as the member wrong_pairing, numbered as the engine numbers it."""
    return {name.replace(" ", "_"): number for number, name in enumerate(names)}


if TYPE_CHECKING:  # the members' names for type checkers; their numbers are the engine's
    from enum import auto

    class Fate(IntEnum):
        written = auto()
        dropped = auto()
        wrong_pairing = auto()
        unplaced = auto()
        too_short = auto()

    class SiteReason(IntEnum):
        mismatch = auto()
        not_in_code = auto()
        too_few_nucleotides = auto()
else:
    Fate = IntEnum("Fate", _members(FATES))
    SiteReason = IntEnum("SiteReason", _members(SITE_REASONS))
