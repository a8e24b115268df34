"""Errors that end a locus with a one-line message naming the file."""

from __future__ import annotations

from collections.abc import Sequence

from .result.problems import Problem

SHOWN_NAMES = 3


class InputError(Exception):
    """A problem with an input file: the locus cannot be run."""

    # From codon_align: the records' problems found before the locus was refused,
    # such as the reasons every record was left out.
    problems: tuple[Problem, ...] = ()

    def __init__(self, path: str, detail: str) -> None:
        super().__init__(escaped(f"{shown_path(path)}: {detail}"))


# Control characters as \xNN: a name or header that holds one would otherwise break the
# message's line, or act on the user's terminal.
_ESCAPES = {code: f"\\x{code:02x}" for code in (*range(0x20), 0x7f)}


def escaped(text: str) -> str:
    """The text with no raw control character, fit for one line of a message."""
    return text.translate(_ESCAPES)


# What to do when memory runs out, after the line that says where it did.
_MORE_MEMORY = ("free memory or give the run more (ulimit -v, the job's memory request), or "
                "split the input into smaller loci")


def out_of_memory(path: str) -> MemoryError:
    """A MemoryError naming the file being read when memory ran out."""
    return MemoryError(escaped(f"{shown_path(path)}: out of memory reading it"))


def out_of_memory_line(error: MemoryError, path: str | None = None) -> str:
    """The one line that tells the user memory ran out: where (the file being read, else the
    locus's alignment being worked on) and what to do."""
    where = str(error) or (f"{shown_path(path)}: out of memory back-translating it" if path
                           else "out of memory")
    return f"{where}; {_MORE_MEMORY}"


def plural(count: int, word: str) -> str:
    """'1 codon', '2 codons'."""
    return f"{count} {word}{'' if count == 1 else 's'}"


def shown_path(path: str) -> str:
    return "<stdin>" if path == "-" else path


def name_some(names: Sequence[str]) -> str:
    """'a, b, c' or 'a, b, c and 4 more': enough to find them, short enough to read."""
    shown = ", ".join(names[:SHOWN_NAMES])
    hidden = len(names) - SHOWN_NAMES
    return f"{shown} and {hidden} more" if hidden > 0 else shown
