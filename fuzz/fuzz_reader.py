#!/usr/bin/env python3
"""Fuzzes the command-line tool's reader: any bytes, plain or compressed, in every format.

The first byte picks the format asked for, the letters taken as plain and how the
rest is stored (as it is, compressed, or compressed and then damaged); the rest is
the file. Reading must give records or one InputError line naming the file, and
nothing else.
"""

from __future__ import annotations

import bz2
import gzip
import lzma
import os
import re
import sys
import tempfile

import atheris

with atheris.instrument_imports(include=["common", "ntpepmap_cli"]):
    import common
    from ntpepmap_cli.errors import InputError
    from ntpepmap_cli._native import fasta_text
    from ntpepmap_cli.reading.input_files import IN_FORMATS, read_alignment, read_fasta_marked, read_records

PLAIN_SETS = (b"ACGTUN-.", b"", b"ACDEFGHIKLMNPQRSTVWY*-", b"acgt")
COMPRESSORS = (gzip.compress, bz2.compress, lzma.compress)
SKIPPED = re.compile(r"[\s0-9]", re.ASCII)  # white space and position numbers
LINE_SPACE = re.compile(r"[ \t\v\f\r]+")
WHITE_SPACE = re.compile(r"\s", re.ASCII)
CONTROL = re.compile(r"[\x00-\x08\x0e-\x1f\x7f]")  # refused in a sequence: no letter of any
FOLDER = tempfile.mkdtemp(prefix="fuzz_reader_")
PATH = os.path.join(FOLDER, "input")


def stored(content: bytes, how: int) -> bytes:
    """0-3: as it is; 4-5: compressed; 6-7: compressed, then cut or overwritten."""
    if how < 4:
        return content
    packed = COMPRESSORS[len(content) % 3](content)
    if how < 6:
        return packed
    cut = len(content) % len(packed)
    return packed[:cut] if how == 6 else packed[:cut] + b"\0" + packed[cut + 1:]


def outcome(read):
    try:
        return read()
    except InputError as error:
        message = str(error)
        assert message.startswith(PATH + ": ") and "\n" not in message, message
        return message


def fasta_model(content: bytes) -> list[tuple[str, str]] | None:
    """FASTA as its definition reads, for UTF-8 text; None where the reader must refuse
    the text."""
    text = content.decode().replace("\r\n", "\n").replace("\r", "\n")
    if text.startswith("\ufeff"):
        text = text[1:]
    body = text.lstrip(" \t\n\v\f\r")
    if not body.startswith(">"):
        return None
    records = []
    for chunk in ("\n" + body).split("\n>")[1:]:
        name, _, sequence = chunk.partition("\n")
        identifier = LINE_SPACE.split(name.lstrip(" \t\v\f\r"), 1)[0]  # ASCII white space only
        if not identifier:
            return None
        if CONTROL.search(sequence):
            return None
        records.append((identifier, SKIPPED.sub("", sequence)))
    return records


def check_records(records, marked=None, plain: bytes = b"", skipped=SKIPPED) -> None:
    for identifier, sequence in records:
        assert identifier and not re.search(r"[ \t\n\v\f\r]", identifier), repr(identifier)
        assert not skipped.search(sequence) and not CONTROL.search(sequence), repr(sequence)
    if marked is not None:
        letters = set(plain.decode())
        assert marked == [index for index, (_, seq) in enumerate(records) if set(seq) - letters], marked


def test_one_input(data: bytes) -> None:
    if not data:
        return
    options, content = data[0], data[1:]
    in_format = IN_FORMATS[options % len(IN_FORMATS)]
    plain = PLAIN_SETS[(options >> 2) % len(PLAIN_SETS)]
    how = options >> 5
    with open(PATH, "wb") as file:
        file.write(stored(content, how))
    alignment = outcome(lambda: read_alignment(PATH, in_format))
    fasta = outcome(lambda: read_fasta_marked(PATH, plain))
    if isinstance(fasta, tuple):
        check_records(*fasta, plain)
        assert fasta[0] == outcome(lambda: read_records(PATH, "fasta").records.records())
    if isinstance(alignment, list):  # an alignment's digits inside rows are frameshifts, kept
        check_records(alignment, skipped=WHITE_SPACE)
    if how >= 6:
        return
    try:
        content.decode()
    except UnicodeDecodeError:
        return
    model = fasta_model(content)
    assert (fasta[0] if isinstance(fasta, tuple) else None) == model, (fasta, model)
    if isinstance(fasta, tuple) and not any(">" in seq for _, seq in fasta[0]):  # written, read back the same
        with open(PATH, "wb") as file:
            file.write(fasta_text(fasta[0], options % 7))
        assert outcome(lambda: read_alignment(PATH, "auto")) == fasta[0]


def main() -> None:
    atheris.Setup(sys.argv, common.reporting(test_one_input))
    atheris.Fuzz()


if __name__ == "__main__":
    main()
