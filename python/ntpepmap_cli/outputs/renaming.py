"""--rename: names every downstream program reads, and the map that restores the originals.

Newick-based tools break on ':', '(', '|' or spaces in a name, codeml and old
PHYLIP readers on long ones, and every tree program on a name given twice.
"""

from __future__ import annotations

from .formats import Record

MOST_LETTERS = 30
_KEPT_PUNCTUATION = frozenset("_.-")


def _safe_letters(name: str) -> str:
    """Each run of letters outside [A-Za-z0-9_.-] made one '_', none at either end."""
    letters: list[str] = []
    for letter in name:
        if (letter.isascii() and letter.isalnum()) or letter in _KEPT_PUNCTUATION:
            letters.append(letter)
        elif letters and letters[-1] != "_":
            letters.append("_")
    return "".join(letters).strip("_")


def safe_names(names: list[str]) -> list[str]:
    """A name for each, of [A-Za-z0-9_.-], at most MOST_LETTERS long, all different: the
    name's own letters where it has some, told apart by '_2', '_3'... where they meet;
    't0001' (its place) where none is left."""
    taken: set[str] = set()
    renamed: list[str] = []
    for place, name in enumerate(names, start=1):
        base = _safe_letters(name)[:MOST_LETTERS] or f"t{place:04d}"
        candidate, copy = base, 1
        while candidate in taken:
            copy += 1
            suffix = f"_{copy}"
            candidate = base[:MOST_LETTERS - len(suffix)] + suffix
        taken.add(candidate)
        renamed.append(candidate)
    return renamed


def renamed_rows(rows: list[Record]) -> tuple[list[Record], str]:
    """The rows under safe names, and the map's text: new name, tab, original name."""
    names = safe_names([name for name, _ in rows])
    text = "".join(f"{new}\t{old}\n" for new, (old, _) in zip(names, rows))
    return [(new, row) for new, (_, row) in zip(names, rows)], text
