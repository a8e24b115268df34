"""Reading FASTA and CLUSTAL files and writing codon alignments.

Parsing works with str and bytes methods (find, slices, split, translate),
so the per-character work happens in C, not in Python loops. Plain FASTA
files, the usual case, are parsed straight from a mapping of the file; any
other file is decoded and parsed as text, with the same result.
"""

from __future__ import annotations

import mmap
import sys
from collections.abc import Iterable, Iterator
from io import BufferedReader

from .errors import InputError

Record = tuple[str, str]  # (identifier, sequence)
Marked = tuple[list[Record], list[int]]  # records, and indices of records to look at

CLUSTAL_HEADERS = ("CLUSTAL", "MUSCLE", "PROBCONS", "MSAPROBS", "Kalign")
IN_FORMATS = ("auto", "fasta", "clustal")
OUT_FORMATS = ("fasta", "phylip", "paml", "clustal")
BLOCK_WIDTH = 60

# What str.split() takes for whitespace among the ASCII characters, apart from
# space and line feed, which are looked for record by record.
_RARE_ASCII_SPACES = "\t\x0b\x0c\r\x1c\x1d\x1e\x1f"
_MAP_POPULATE = getattr(mmap, "MAP_POPULATE", 0)  # Linux: map all pages in one go
# Whitespace that bytes.split() and str.split() disagree on, and the carriage
# return that text mode would translate: a file with any is not plain.
_UNUSUAL_SPACE_BYTES = tuple(space.encode() for space in _RARE_ASCII_SPACES)
_LINE_FEED = ord("\n")
_SCAN_PIECE = 1 << 18


def _map(stream: BufferedReader) -> mmap.mmap | None:
    """A read-only mapping of an open file, or None where it cannot be mapped."""
    try:
        if not hasattr(mmap, "MAP_SHARED"):  # Windows
            return mmap.mmap(stream.fileno(), 0, access=mmap.ACCESS_READ)
        return mmap.mmap(stream.fileno(), 0, flags=mmap.MAP_SHARED | _MAP_POPULATE,
                         prot=mmap.PROT_READ)
    except (OSError, ValueError):  # empty, or a pipe or device
        return None


def _read(path: str, plain_letters: bytes | None) -> tuple[str, Marked | None]:
    """The file's text; or, given plain_letters, for a plain FASTA file, its
    records as read_fasta_marked gives them, and no text.

    The file is opened once, so that a pipe is read once. A mapped file is
    decoded straight from the page cache: reading it into a bytes object first
    would copy it and fault in the fresh memory of that copy.
    """
    try:
        if path == "-":
            return _text_mode_newlines(sys.stdin.read()), None
        with open(path, "rb") as stream:
            view = _map(stream)
            if view is None:
                return _text_mode_newlines(stream.read().decode("utf-8")), None
            with view:
                if plain_letters is not None:
                    marked = _parse_plain_fasta(view, plain_letters)
                    if marked is not None:
                        return "", marked
                return _text_mode_newlines(str(view, "utf-8")), None
    except UnicodeDecodeError as exc:
        raise InputError(path, f"not UTF-8 text ({exc.reason} at byte {exc.start})") from None
    except OSError as exc:
        raise InputError(path, exc.strerror or str(exc)) from None


def _text_mode_newlines(text: str) -> str:
    if "\r" in text:
        text = text.replace("\r\n", "\n").replace("\r", "\n")
    return text


def read_text(path: str) -> str:
    """The whole file as text, line ends made '\\n' as in text mode; '-' is standard input."""
    return _read(path, None)[0]


def read_fasta(path: str) -> list[Record]:
    """Records of a FASTA file ('-' is standard input), as parse_fasta gives them."""
    return read_fasta_marked(path, b"")[0]


def read_fasta_marked(path: str, letters: bytes) -> Marked:
    """read_fasta's records, and the indices of those that may hold more than letters.

    The sequences of a plain file are looked at as they are parsed, so that a
    later look at what else they hold can skip the records made only of
    letters; in other files every record is marked.
    """
    text, marked = _read(path, letters)
    if marked is not None:
        return marked
    records = parse_fasta(text, path)
    return records, list(range(len(records)))


def read_alignment(path: str, in_format: str) -> list[Record]:
    """Records of an alignment file, as parse_alignment gives them."""
    text, marked = _read(path, b"" if in_format in ("auto", "fasta") else None)
    return parse_alignment(text, path, in_format) if marked is None else marked[0]


def _holds_any(view: mmap.mmap, needles: tuple[bytes, ...]) -> bool:
    """Whether any of the bytes occurs; piece by piece, so that all the
    searches but the first find the piece in the processor's cache."""
    for start in range(0, len(view), _SCAN_PIECE):
        end = start + _SCAN_PIECE
        if any(view.find(needle, start, end) >= 0 for needle in needles):
            return True
    return False


def _parse_plain_fasta(view: mmap.mmap, letters: bytes) -> Marked | None:
    """The records of a plain FASTA file, as read_fasta_marked gives them, or
    None for any other file.

    Plain: ASCII, first byte '>', no empty header, no whitespace but space
    and line feed (so no carriage return either). Such a file is parsed from
    its mapping, so that only the records themselves take fresh memory; the
    other files go through parse_fasta, which gives the same records and says
    what is wrong with a file.
    """
    if view[:1] != b">" or _holds_any(view, _UNUSUAL_SPACE_BYTES):
        return None
    records: list[Record] = []
    marked: list[int] = []
    find, size, start = view.find, len(view), 1
    try:
        while True:
            marker = find(b">", start)  # as _record_end, on bytes
            while marker > 0 and view[marker - 1] != _LINE_FEED:
                marker = find(b">", marker + 1)
            end = size if marker < 0 else marker - 1
            header_end = find(b"\n", start, end)
            if header_end < 0:
                header_end = end
            header, sequence = view[start:header_end], view[header_end + 1:end]
            words = header.split(None, 1)
            if not words or not header.isascii():  # the sequence is decoded below
                return None
            # Whatever is not a letter, whitespace included, is left in rest.
            rest = sequence.translate(None, letters) if letters else sequence
            if rest:
                marked.append(len(records))
                if b"\n" in rest or b" " in rest:
                    sequence = b"".join(sequence.split())
            # An ASCII header holds no other whitespace than bytes.split's: the
            # odd ASCII ones are ruled out above.
            records.append((words[0].decode("ascii"), sequence.decode("ascii")))
            if end >= size:
                return records, marked
            start = end + 2
    except UnicodeDecodeError:  # not ASCII
        return None


def _record_end(body: str, start: int) -> int:
    """Where the record that starts at start ends: the '\\n' of the next '\\n>', or the end."""
    marker = body.find(">", start)  # one '>' per header, found by a fast byte search
    while marker > 0 and body[marker - 1] != "\n":
        marker = body.find(">", marker + 1)
    return len(body) if marker < 0 else marker - 1


def parse_fasta(text: str, path: str) -> list[Record]:
    """Records of a FASTA text; the identifier is the header's first word.

    Each sequence is sliced once out of the text; whitespace is removed only
    from the sequences that hold some, which one-line FASTA never does.
    """
    body = text.lstrip()
    if not body:
        raise InputError(path, "empty file")
    if not body.startswith(">"):
        raise InputError(path, "not FASTA: the first line does not start with '>'")
    # Outside ASCII there is more whitespace than the record-wise look-out sees.
    spaced = not body.isascii() or any(space in body for space in _RARE_ASCII_SPACES)
    records: list[Record] = []
    start, number = 1, 1
    while True:
        end = _record_end(body, start)
        header_end = body.find("\n", start, end)
        if header_end < 0:
            header_end = end
        words = body[start:header_end].split(None, 1)
        if not words:
            raise InputError(path, f"record {number} has an empty header")
        sequence = body[header_end + 1:end]
        if spaced or "\n" in sequence or " " in sequence:
            sequence = "".join(sequence.split())
        records.append((words[0], sequence))
        if end >= len(body):
            return records
        start, number = end + 2, number + 1


def parse_clustal(text: str, path: str) -> list[Record]:
    """Records of a CLUSTAL alignment, its blocks joined per name."""
    lines = text.lstrip().splitlines()
    if not lines:
        raise InputError(path, "empty file")
    if not lines[0].startswith(CLUSTAL_HEADERS):
        raise InputError(path, "not CLUSTAL: the first line does not start with 'CLUSTAL'")
    pieces: dict[str, list[str]] = {}
    names_in_block: set[str] = set()
    for line in lines[1:]:
        if not line.strip():
            names_in_block.clear()
            continue
        if line[0].isspace():  # conservation line
            continue
        fields = line.split()
        if len(fields) not in (2, 3):
            raise InputError(path, f"unreadable CLUSTAL line: {line[:40]!r}")
        name = fields[0]
        if name in names_in_block:
            raise InputError(path, f"duplicate identifiers: {name}")
        names_in_block.add(name)
        pieces.setdefault(name, []).append(fields[1])
    if not pieces:
        raise InputError(path, "no sequences")
    return [(name, "".join(parts)) for name, parts in pieces.items()]


def detect_format(text: str) -> str:
    head = text.lstrip()[:16]
    if head.startswith(">"):
        return "fasta"
    if head.startswith(CLUSTAL_HEADERS):
        return "clustal"
    return "unknown"


def parse_alignment(text: str, path: str, in_format: str) -> list[Record]:
    fmt = detect_format(text) if in_format == "auto" else in_format
    if fmt == "fasta":
        return parse_fasta(text, path)
    if fmt == "clustal":
        return parse_clustal(text, path)
    if not text.strip():
        raise InputError(path, "empty file")
    raise InputError(path, "neither FASTA nor CLUSTAL (use --in-format)")


def _chunks(row: str, width: int) -> Iterator[str]:
    for start in range(0, len(row), width):
        yield row[start:start + width]


def fasta_lines(records: Iterable[Record], wrap: int) -> Iterator[str]:
    for ident, row in records:
        yield f">{ident}\n"
        if wrap > 0 and row:
            yield "\n".join(_chunks(row, wrap)) + "\n"
        else:
            yield row + "\n"


def phylip_lines(records: list[Record], ncols: int) -> Iterator[str]:
    """Relaxed sequential PHYLIP: names of any length, one taxon per line."""
    width = max((len(ident) for ident, _ in records), default=0)
    yield f"{len(records)} {ncols}\n"
    for ident, row in records:
        yield f"{ident.ljust(width)}  {row}\n"


def paml_lines(records: list[Record], ncols: int) -> Iterator[str]:
    """Sequential format as codeml reads it: a name line, then the sequence."""
    yield f"  {len(records)}  {ncols}\n\n"
    for ident, row in records:
        yield f"{ident}\n"
        yield "\n".join(_chunks(row, BLOCK_WIDTH)) + "\n\n"


def clustal_lines(records: list[Record], ncols: int, version: str) -> Iterator[str]:
    yield f"CLUSTAL multiple sequence alignment (ntpepmap {version})\n\n"
    width = max((len(ident) for ident, _ in records), default=0) + 6
    for start in range(0, ncols, BLOCK_WIDTH):
        yield "\n"
        for ident, row in records:
            yield f"{ident.ljust(width)}{row[start:start + BLOCK_WIDTH]}\n"


def alignment_lines(records: list[Record], ncols: int, out_format: str,
                    wrap: int, version: str) -> Iterator[str]:
    if out_format == "fasta":
        return fasta_lines(records, wrap)
    if out_format == "phylip":
        return phylip_lines(records, ncols)
    if out_format == "paml":
        return paml_lines(records, ncols)
    return clustal_lines(records, ncols, version)


def default_extension(out_format: str) -> str:
    return {"fasta": ".fasta", "phylip": ".phy", "paml": ".paml", "clustal": ".aln"}[out_format]
