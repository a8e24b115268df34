"""The command-line tool's pieces in-process: writers, CDS preparation, the engine."""

from __future__ import annotations

import itertools
import os
import threading
from pathlib import Path

import pytest

from helpers import translate
from ntpepmap_cli.codes import CODES_BY_NUMBER, terminal_stops
from ntpepmap_cli.errors import InputError, name_some
from ntpepmap_cli.locus.run import file_stem
from ntpepmap_cli.pairing.identifiers import check_nucleotide
from ntpepmap_cli._native import RecordSet, fasta_text
from ntpepmap_cli.result.fates import Fate
from ntpepmap_cli.reading.input_files import read_alignment
from ntpepmap_cli.outputs.formats import clustal_lines

RECORDS = [("a", "MKW-LF" * 23), ("long_name_b", "MK--LF" * 23), ("c", "-" * 138)]


def test_a_pipe_is_read_once_in_text_mode(tmp_path):
    fifo = tmp_path / "fifo"
    os.mkfifo(fifo)
    writer = threading.Thread(target=lambda: fifo.write_bytes(b">a\rAC GT\r>b\rA\r"))
    writer.start()
    try:
        assert read_alignment(str(fifo), "fasta") == [("a", "ACGT"), ("b", "A")]
    finally:
        writer.join(timeout=10)


@pytest.mark.parametrize("path", ["a/b/gene.fasta", "gene", "x/y.tar.gz", "a.b.", ".hidden",
                                  "dir/", "a//b.c", "a/..", "a/.", "...", "/"])
def test_file_stem_is_pathlibs(path):
    assert file_stem(path) == Path(path).stem


def test_cds_is_checked_as_written_and_only_where_marked():
    records = RecordSet.from_records([("a", "acgTNn"), ("b", "MKWLFMKWLF"), ("c", "ACRYgt")])
    check_nucleotide(records, "f", marked=[0, 2])  # b taken as clean
    assert records.records() == [("a", "acgTNn"), ("b", "MKWLFMKWLF"), ("c", "ACRYgt")]
    with pytest.raises(InputError, match="looks like protein, not coding DNA: b$"):
        check_nucleotide(records, "f")


@pytest.mark.parametrize("seq, protein", [
    ("ACGT" * 300 + "MKWLFSEDPQ" * 130, True),  # the protein comes after the first letters
    ("acgt" * 5 + "MKWLF" * 4, False),           # half and half is still nucleotides
    ("acgt" * 5 + "MKWLF" * 4 + "Q", True),
    ("AC-GT..n" + "RYKM" * 2, False),             # gaps, dots and N count as plain
])
def test_protein_is_told_from_the_whole_cds(seq, protein):
    if protein:
        with pytest.raises(InputError, match="looks like protein, not coding DNA: x"):
            check_nucleotide(RecordSet.from_records([("x", seq)]), "f")
    else:
        check_nucleotide(RecordSet.from_records([("x", seq)]), "f")


def test_protein_is_named_before_non_ascii():
    records = [("a", "ACGTé"), ("b", "MKWLFMKWLF"), ("c", "ACGT")]
    with pytest.raises(InputError, match="looks like protein, not coding DNA: b$"):
        check_nucleotide(RecordSet.from_records(records), "f")
    with pytest.raises(InputError, match="non-ASCII letters in the CDS: a$"):
        check_nucleotide(RecordSet.from_records(records[:1]), "f")


@pytest.mark.parametrize("wrap", [0, 1, 7, 60])
def test_fasta_writer_round_trip(tmp_path, wrap):
    path = tmp_path / "out.fasta"
    records = RECORDS + [("é", "ACGTé" * 7)]  # a letter of two bytes is never cut between lines
    path.write_bytes(fasta_text(records, wrap))
    assert read_alignment(str(path), "fasta") == records


def test_clustal_writer_round_trip_in_blocks_of_60(tmp_path):
    text = "".join(clustal_lines(RECORDS, 138, "1.0"))
    path = tmp_path / "out.aln"
    path.write_text(text)
    assert read_alignment(str(path), "auto") == RECORDS
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
    assert_prepared(seq, residues, {"TAA", "TGA"}, True, expected)


def assert_prepared(seq, residues, stops, trim_stop, expected):
    """The engine reads expected of seq for a row of that many residues (and gaps): all of
    its nucleotides, and its letters as written in the row."""
    found = translate([("r", "-M" * residues, seq)], code={"M": ALL_CODONS}, mismatch="keep",
                      trim_stop=trim_stop, terminal_stops=sorted(stops))
    told = {record.index: record for record in found.records}
    nucleotides = told[0].nucleotides if 0 in told else 3 * residues
    assert nucleotides == len(expected)
    written = (found.rows[0] or "").replace("-", "")
    assert written == (expected[:3 * residues] if len(expected) >= 3 * residues else "")


@pytest.mark.parametrize("seq, stops, trim_stop, expected", [
    ("atgtaa", {"TAA"}, True, "atg"),
    ("atgtaa", {"TAA"}, False, "atgtaa"),
    ("AUGUAA", {"TAA"}, True, "AUG"),     # RNA: U read as T
    ("AT", {"TAA"}, True, "AT"),          # too short: held back as it is
])
def test_prepare_cds_keeps_case_and_trims_only_when_asked(seq, stops, trim_stop, expected):
    assert_prepared(seq, 1, stops, trim_stop, expected)


def test_name_some():
    assert name_some(["a"]) == "a"
    assert name_some(list("abc")) == "a, b, c"
    assert name_some(list("abcdef")) == "a, b, c and 3 more"


ALL_CODONS = ["".join(bases) for bases in itertools.product("TCAG", repeat=3)]


@pytest.mark.parametrize("table", sorted(CODES_BY_NUMBER))
def test_terminal_stops_agree_with_the_module(table):
    """A '*' residue is accepted by the engine exactly for the table's stop codons."""
    told = translate([(c, "*", c) for c in ALL_CODONS], code=table, mismatch="drop").records
    accepted = set(ALL_CODONS) - {ALL_CODONS[record.index] for record in told
                                  if record.fate != Fate.written}
    if table in (27, 28, 31):  # stops only at the very end of a gene: no '*' in the module
        assert accepted == set() and terminal_stops(table, None)
    else:
        assert accepted == terminal_stops(table, None)


def test_terminal_stops_of_a_gene_table():
    assert terminal_stops(1, {"*": ["TAG", "TGA"], "M": ["ATG"]}) == {"TAG", "TGA"}
    assert terminal_stops(1, {"M": ["ATG"]}) == frozenset()
