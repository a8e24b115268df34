"""The command-line tool's pieces in-process: parsers, writers, CDS preparation, the engine."""

from __future__ import annotations

import itertools
import os
import threading
from pathlib import Path

import pytest

from ntpepmap_cli import _native
from ntpepmap_cli.codes import CODES_BY_NUMBER, terminal_stops
from ntpepmap_cli.errors import InputError, name_some
from ntpepmap_cli.locus import file_stem
from ntpepmap_cli.pairing import check_nucleotide, prepare_cds
from ntpepmap_cli.seqio import (clustal_lines, detect_format, fasta_lines, parse_alignment,
                                parse_clustal, parse_fasta, read_alignment, read_fasta,
                                read_fasta_marked, read_text)

RECORDS = [("a", "MKW-LF" * 23), ("long_name_b", "MK--LF" * 23), ("c", "-" * 138)]


@pytest.mark.parametrize("text", [
    ">a desc\nMK\nW\n>b\nMKW\n",
    "\n\n>a\r\nMK\r\nW\r\n>b  other words\r\nMKW\r\n",
    ">a\nM K\n\nW\n>b\nMKW",
])
def test_fasta_parsing_tolerates_layout(text):
    assert parse_fasta(text, "f") == [("a", "MKW"), ("b", "MKW")]


@pytest.mark.parametrize("text, problem", [
    ("", "empty file"), ("  \n\n", "empty file"), ("MKW\n", "not FASTA"),
    (">a\nMK\n>\nMK\n", "record 2 has an empty header")])
def test_fasta_parsing_errors(text, problem):
    with pytest.raises(InputError, match=problem):
        parse_fasta(text, "f")


# Files that the mapped reader takes itself, and files it must hand on to the
# general parser; both must come out as parsing the text-mode text gives.
FILE_TEXTS = [
    ">a desc\nAC GT\n>b\nACGT\n",            # plain, a space inside a sequence
    ">a\nACGT\n>b\nacgt\n>c\nAC GT\nAA\n>d\nACGTN\n>e\n\n",  # plain, some letters odd
    ">a\nAC\nGT\n>b\nACGT",                  # wrapped, no final line feed
    ">a\r\nACGT\r\n>b x\r\nAC\r\n",           # CRLF
    ">a\rACGT\r>b\rAC\r",                    # old Mac line ends
    ">a\tx\nAC\tGT\n>b\nACGT\n",             # tabs
    ">a\nAC\x1cGT\x0b\n>b\nACGT\n",           # whitespace to str.split, not bytes.split
    ">a\nAC\u00a0GT\u2003\n>b é\nACGT\n",     # non-ASCII whitespace and header
    "\n\n  >a\nACGT\n",                      # leading blank lines
    "\ufeff>a\nACGT\n",                       # a byte-order mark: not FASTA
    ">a x>y\nACGT\n>b\nAC\n",                 # '>' inside a header
    ">a\nACGT\n>>b\nAC\n",                    # '>' doubled
    ">a\nACGT\n>\nAC\n",                     # empty header
    ">a\nACGT\n>  \t\nAC\n",                  # header of whitespace only
    ">a\n\n>b\nAC\n\n",                      # empty sequence, trailing blank line
    ">a",                                    # a header and nothing else
    "", "  \n", "CLUSTAL W\n\na  MK\nb  MK\n",
]


def _outcome(read):
    try:
        return read()
    except InputError as exc:
        return str(exc)


@pytest.mark.parametrize("text", FILE_TEXTS)
def test_reading_a_file_gives_what_parsing_its_text_gives(tmp_path, text):
    path = tmp_path / "f.fasta"
    path.write_bytes(text.encode())
    as_text = path.read_text(encoding="utf-8")  # text mode: the reference
    assert read_text(str(path)) == as_text
    expected = _outcome(lambda: parse_fasta(as_text, str(path)))
    assert _outcome(lambda: read_fasta(str(path))) == expected
    marked = _outcome(lambda: read_fasta_marked(str(path), b"ACGT"))
    if isinstance(expected, str):
        assert marked == expected
    else:
        records, indices = marked
        assert records == expected and indices == sorted(set(indices))
        assert {i for i, (_, seq) in enumerate(records) if set(seq) - set("ACGT")} <= set(indices)
    for in_format in ("auto", "fasta", "clustal"):
        assert _outcome(lambda: read_alignment(str(path), in_format)) == \
            _outcome(lambda: parse_alignment(as_text, str(path), in_format))


@pytest.mark.parametrize("content, where", [(b">a\nAC\xffGT\n", 5), (b">a x\xff\nACGT\n", 4)])
def test_a_file_that_is_not_utf8_is_named_with_the_byte(tmp_path, content, where):
    path = tmp_path / "f.fasta"
    path.write_bytes(content)
    with pytest.raises(InputError, match=fr"not UTF-8 text \(invalid start byte at byte {where}\)"):
        read_fasta(str(path))


def test_a_pipe_is_read_once_in_text_mode(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    writer = threading.Thread(target=lambda: fifo.write_bytes(b">a\rAC GT\r>b\rA\r"))
    writer.start()
    try:
        assert read_fasta(str(fifo)) == [("a", "ACGT"), ("b", "A")]
    finally:
        writer.join(timeout=10)


@pytest.mark.parametrize("path", ["a/b/gene.fasta", "gene", "x/y.tar.gz", "a.b.", ".hidden",
                                  "dir/", "a//b.c", "a/..", "a/.", "...", "/"])
def test_file_stem_is_pathlibs(path):
    assert file_stem(path) == Path(path).stem


def test_cds_is_upper_cased_in_place_only_when_asked():
    records = [("a", "acgTNn"), ("b", "ACGT"), ("c", "ACRYgt")]
    check_nucleotide(records, "f")
    assert records == [("a", "acgTNn"), ("b", "ACGT"), ("c", "ACRYgt")]
    check_nucleotide(records, "f", upper_case=True, marked=[2])  # the others taken as clean
    assert records == [("a", "acgTNn"), ("b", "ACGT"), ("c", "ACRYGT")]
    check_nucleotide(records, "f", upper_case=True)
    assert records == [("a", "ACGTNN"), ("b", "ACGT"), ("c", "ACRYGT")]


@pytest.mark.parametrize("seq, protein", [
    ("ACGT" * 300 + "MKWLFSEDPQ" * 130, True),  # the protein comes after the first letters
    ("acgt" * 5 + "MKWLF" * 4, False),           # half and half is still nucleotides
    ("acgt" * 5 + "MKWLF" * 4 + "Q", True),
    ("AC-GT..n" + "RYKM" * 2, False),             # gaps, dots and N count as plain
])
def test_protein_is_told_from_the_whole_cds(seq, protein):
    if protein:
        with pytest.raises(InputError, match="looks like protein, not coding DNA: x"):
            check_nucleotide([("x", seq)], "f", upper_case=True)
    else:
        check_nucleotide([("x", seq)], "f", upper_case=True)


def test_protein_is_named_before_non_ascii():
    records = [("a", "ACGTé"), ("b", "MKWLFMKWLF"), ("c", "ACGT")]
    with pytest.raises(InputError, match="looks like protein, not coding DNA: b$"):
        check_nucleotide(records, "f")
    with pytest.raises(InputError, match="non-ASCII letters in the CDS: a$"):
        check_nucleotide(records[:1], "f")


def test_clustal_parsing_joins_blocks_and_skips_counts_and_conservation():
    text = ("CLUSTAL W (1.83) multiple sequence alignment\n\n\n"
            "a      MKW-  4\nb      MK--  2\n       **  \n\n"
            "a      LF  6\nb      LF  4\n       ::\n")
    assert parse_clustal(text, "f") == [("a", "MKW-LF"), ("b", "MK--LF")]


def test_clustal_duplicate_name_within_a_block():
    with pytest.raises(InputError, match="duplicate identifiers: a"):
        parse_clustal("CLUSTAL\n\na  MK\na  MK\n", "f")


@pytest.mark.parametrize("wrap", [0, 1, 7, 60])
def test_fasta_writer_round_trip(wrap):
    assert parse_fasta("".join(fasta_lines(RECORDS, wrap)), "f") == RECORDS


def test_clustal_writer_round_trip_in_blocks_of_60():
    text = "".join(clustal_lines(RECORDS, 138, "1.0"))
    assert detect_format(text) == "clustal"
    assert parse_alignment(text, "f", "auto") == RECORDS
    assert max(len(line.split()[-1]) for line in text.splitlines()[1:] if line.strip()) == 60


@pytest.mark.parametrize("seq, residues, expected", [
    ("ATG-AA.G", 2, "ATGAAG"),          # gaps and dots go, as the module would drop them
    ("ATGAAGTAA", 2, "ATGAAG"),         # one codon too long, ends in a stop: trimmed
    ("ATGAAGtga", 2, "ATGAAG"),         # a stop in any case
    ("ATGAAGTAA", 3, "ATGAAGTAA"),      # the stop is the third residue's codon: kept
    ("ATGAAGTAATAA", 2, "ATGAAGTAATAA"),  # two codons too long: not ours to guess
    ("ATGAAGTGG", 2, "ATGAAGTGG"),      # not a stop
])
def test_prepare_cds(seq, residues, expected):
    assert prepare_cds(seq, residues, frozenset({"TAA", "TGA"}), True) == expected


def test_prepare_cds_keeps_case_and_trims_only_when_asked():
    stops = frozenset({"TAA"})
    assert prepare_cds("atgtaa", 1, stops, True) == "atg"
    assert prepare_cds("atgtaa", 1, stops, False) == "atgtaa"


def test_name_some():
    assert name_some(["a"]) == "a"
    assert name_some(list("abc")) == "a, b, c"
    assert name_some(list("abcdef")) == "a, b, c and 3 more"


ALL_CODONS = ["".join(bases) for bases in itertools.product("TCAG", repeat=3)]


@pytest.mark.parametrize("table", sorted(CODES_BY_NUMBER))
def test_terminal_stops_agree_with_the_module(table):
    """A '*' residue is accepted by the engine exactly for the table's stop codons."""
    _, told, _ = _native.translate_locus("stops", table, [(c, "*", c) for c in ALL_CODONS], 2, 0)
    accepted = set(ALL_CODONS) - {ALL_CODONS[record[0]] for record in told}
    if table in (27, 28, 31):  # stops only at the very end of a gene: no '*' in the module
        assert accepted == set() and terminal_stops(table, None)
    else:
        assert accepted == terminal_stops(table, None)


def test_terminal_stops_of_a_gene_table():
    assert terminal_stops(1, {"*": ["tag", "TGA"], "M": ["ATG"]}) == {"TAG", "TGA"}
    assert terminal_stops(1, {"M": ["ATG"]}) == frozenset()
