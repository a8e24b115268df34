"""Writing codon alignments in the formats the next programs read as they are.

Each writer yields the lines of one file; FASTA is written by the engine's
fasta_text. PHYLIP, PAML and NEXUS need every
name once (the tree programs refuse repeats); FASTA and CLUSTAL may repeat them.
"""

from __future__ import annotations

from collections.abc import Iterable, Iterator

from .._native import fasta_text  # the one FASTA writer: the engine's text is written alike
from .atomic_files import STDOUT

TYPE_CHECKING = False
if TYPE_CHECKING:
    from .atomic_files import OutputSet

Record = tuple[str, str]  # (name, codon row)

OUT_FORMATS = ("fasta", "phylip", "paml", "clustal", "nexus")
UNIQUE_NAME_FORMATS = ("phylip", "paml", "nexus")
BLOCK_WIDTH = 60
# codeml 4.9 reads this many characters of a name and drops the rest.
CODEML_NAME_LENGTH = 96
# Letters that end or split a NEXUS word, besides white space.
_NEXUS_PUNCTUATION = frozenset("()[]{}/\\,;:=*'\"`+-<>")


def _chunks(row: str, width: int) -> Iterator[str]:
    for start in range(0, len(row), width):
        yield row[start:start + width]


def phylip_lines(records: list[Record], ncols: int) -> Iterator[str]:
    """Relaxed sequential PHYLIP: names of any length, one taxon per line."""
    width = max((len(name) for name, _ in records), default=0)
    yield f"{len(records)} {ncols}\n"
    for name, row in records:
        yield f"{name.ljust(width)}  {row}\n"


def paml_lines(records: list[Record], ncols: int) -> Iterator[str]:
    """Sequential format as codeml reads it: the header, then each name on a line of its
    own and its sequence on the lines after it. No blank line anywhere: codeml skips a
    line without letters after a blank one, which eats a name made of digits."""
    yield f"  {len(records)}  {ncols}\n"
    for name, row in records:
        yield f"{name}\n"
        yield "\n".join(_chunks(row, BLOCK_WIDTH)) + "\n"


def clustal_lines(records: list[Record], ncols: int, version: str) -> Iterator[str]:
    yield f"CLUSTAL multiple sequence alignment (ntpepmap {version})\n\n"
    width = max((len(name) for name, _ in records), default=0) + 6
    for start in range(0, ncols, BLOCK_WIDTH):
        yield "\n"
        for name, row in records:
            yield f"{name.ljust(width)}{row[start:start + BLOCK_WIDTH]}\n"


def nexus_name(name: str) -> str:
    """The name as one NEXUS word: single-quoted (quotes doubled) where it holds
    punctuation or white space."""
    if name and not any(letter in _NEXUS_PUNCTUATION or letter.isspace() for letter in name):
        return name
    return "'" + name.replace("'", "''") + "'"


def codon_position_ranges(ncols: int) -> list[tuple[str, str]]:
    """The three codon positions of an alignment of ncols nucleotide columns."""
    return [(f"codon{position}", f"{position}-{ncols}\\3") for position in (1, 2, 3)]


def nexus_lines(records: list[Record], ncols: int) -> Iterator[str]:
    """A NEXUS DATA block, and a SETS block with the three codon positions."""
    names = [nexus_name(name) for name, _ in records]
    width = max(map(len, names), default=0)
    yield "#NEXUS\n\nbegin data;\n"
    yield f"  dimensions ntax={len(records)} nchar={ncols};\n"
    yield "  format datatype=dna missing=? gap=-;\n  matrix\n"
    for name, (_, row) in zip(names, records):
        yield f"  {name.ljust(width)}  {row}\n"
    yield "  ;\nend;\n\nbegin sets;\n"
    for label, columns in codon_position_ranges(ncols):
        yield f"  charset {label} = {columns};\n"
    yield "end;\n"


def partitions_text(ncols: int) -> str:
    """The codon positions as RAxML-NG's partition file gives them (IQ-TREE reads it too)."""
    return "".join(f"DNA, {label} = {columns}\n" for label, columns in codon_position_ranges(ncols))


def alignment_lines(records: list[Record], ncols: int, out_format: str,
                    version: str) -> Iterator[str]:
    """The lines of an alignment in a format of its own; FASTA is the engine's fasta_text."""
    if out_format == "phylip":
        return phylip_lines(records, ncols)
    if out_format == "paml":
        return paml_lines(records, ncols)
    if out_format == "nexus":
        return nexus_lines(records, ncols)
    return clustal_lines(records, ncols, version)


def too_long_for_codeml(records: Iterable[Record]) -> list[str]:
    """The names codeml would cut short."""
    return [name for name, _ in records if len(name) > CODEML_NAME_LENGTH]


# The format an output's name asks for; PAML's files have no name of their own.
_FORMAT_OF_EXTENSION = {
    **dict.fromkeys((".phy", ".phylip"), "phylip"),
    **dict.fromkeys((".nex", ".nexus", ".nxs"), "nexus"),
    **dict.fromkeys((".aln", ".clustal", ".clw"), "clustal"),
    **dict.fromkeys((".fa", ".fasta", ".fas", ".fna", ".ffn"), "fasta"),
}
GZIP_SUFFIX = ".gz"


def is_gzip_path(path: str) -> bool:
    return path[-3:].lower() == GZIP_SUFFIX  # per locus: the end alone is looked at


def named_format(path: str) -> str | None:
    """The format the output's extension names (before a trailing .gz), if any."""
    name = path[:-3] if is_gzip_path(path) else path
    dot = name.rfind(".")
    if dot <= name.rfind("/") + 1:  # no extension, or a hidden file's name alone
        return None
    return _FORMAT_OF_EXTENSION.get(name[dot:].lower())


def output_format(path: str, given: str | None) -> tuple[str, str | None]:
    """The format to write path in: --out-format if given, else the one its name asks for,
    else FASTA; and whether the two disagree (codeml's file is PHYLIP's kind: no clash)."""
    named = None if path == STDOUT else named_format(path)
    if given is None:
        return named or "fasta", None
    if named is None or named == given or (given, named) == ("paml", "phylip"):
        return given, None
    return given, named


def encoded_for(path: str, data: bytes | memoryview) -> bytes | memoryview:
    """The bytes of an output as its name asks: gzip-compressed for a name ending in .gz
    (no time stamp, so that the same alignment makes the same file)."""
    if not is_gzip_path(path):
        return data
    import gzip

    return gzip.compress(data, mtime=0)


def default_extension(out_format: str) -> str:
    return {"fasta": ".fasta", "phylip": ".phy", "paml": ".paml", "clustal": ".aln",
            "nexus": ".nex"}[out_format]


def _version_for(out_format: str) -> str:
    if out_format != "clustal":  # the only format that names the version
        return ""
    from .. import __version__

    return __version__


def write_alignment(outputs: OutputSet, out_path: str, rows: list[Record], ncols: int,
                    out_format: str, wrap: int) -> None:
    """The rows as a file of the format ('-': standard output), one of the run's outputs;
    wrap: FASTA's line width (0: a row on one line)."""
    if out_format == "fasta":
        text = fasta_text(rows, wrap)
    else:
        lines = alignment_lines(rows, ncols, out_format, _version_for(out_format))
        text = "".join(lines).encode("utf-8")
    outputs.write(out_path, encoded_for(out_path, text))
