"""--rename: names every downstream program reads, and the map that restores the originals.

Newick-based tools break on ':', '(', '|' or spaces in a name, codeml and old
PHYLIP readers on long ones, and every tree program on a name given twice.
The map's second column is what the new name stands for: the identifier, or, where
identifiers repeat, the whole header line that tells them apart (everything after
the first tab, which a new name never holds).
"""

from __future__ import annotations

import re

from .formats import Record

MOST_LETTERS = 30
# A run of letters outside [A-Za-z0-9_.-] becomes one '_', or nothing right after a '_';
# the names are worked on as one text, a line each.
_AFTER_UNDERSCORE = re.compile(r"(?<=_)[^A-Za-z0-9_.\n-]+")
_UNSAFE = re.compile(r"[^A-Za-z0-9_.\n-]+")


def _safe_letters(names: list[str]) -> list[str]:
    """Each name's runs of letters outside [A-Za-z0-9_.-] made one '_', none at either end."""
    if any("\n" in name for name in names):  # no header line holds one; the lines would shift
        names = [name.replace("\n", " ") for name in names]
    text = _UNSAFE.sub("_", _AFTER_UNDERSCORE.sub("", "\n".join(names)))
    return [part.strip("_") for part in text.split("\n")]


def safe_names(names: list[str]) -> list[str]:
    """A name for each, of [A-Za-z0-9_.-], at most MOST_LETTERS long, all different: the
    name's own letters where it has some, told apart by '_2', '_3'... where they meet;
    't0001' (its place) where none is left. Each base remembers its last copy number, so
    that many names on one base cost no more than as many different ones."""
    taken: set[str] = set()
    last_copy: dict[str, int] = {}
    renamed: list[str] = []
    for place, letters in enumerate(_safe_letters(names), start=1):
        base = letters[:MOST_LETTERS] or f"t{place:04d}"
        candidate, copy = base, last_copy.get(base, 1)
        while candidate in taken:
            copy += 1
            suffix = f"_{copy}"
            candidate = base[:MOST_LETTERS - len(suffix)] + suffix
        last_copy[base] = copy
        taken.add(candidate)
        renamed.append(candidate)
    return renamed


def renamed_rows(rows: list[Record]) -> tuple[list[Record], str]:
    """The rows under safe names, and the map's text: new name, tab, original name (for
    a repeated identifier, the rows carry their whole header lines)."""
    names = safe_names([name for name, _ in rows])
    text = "".join(f"{new}\t{old}\n" for new, (old, _) in zip(names, rows))
    return [(new, row) for new, (_, row) in zip(names, rows)], text
