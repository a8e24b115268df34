"""Back-translation of one record: gaps, unchecked triplets, IUPAC rescue, and the frame-keeping mends."""

import itertools

import pytest

import ntpepmap
from native_tools import run_native_check

MISSING_RESIDUE = "Genetic table does not have the pep. Perhaps you've chosen the wrong table index?"


def translate(capfd, aa_seq, nt_seq, table=1):
    capfd.readouterr()
    row = ntpepmap.pepthread("stem", table, {"r": (("h", aa_seq), (0, "h", nt_seq))})
    return row.removeprefix("r\n").removesuffix("\n"), capfd.readouterr().out


@pytest.mark.parametrize(
    ("aa_seq", "nt_seq", "row"),
    [
        ("M-K", "ATGAAA", "ATG---AAA"),
        ("---", "", "---------"),
        ("-M--", "ATG", "---ATG------"),
        ("MXK", "ATGqz!AAA", "ATGqz!AAA"),  # X takes any triplet unchecked
        ("MXK", "ATGTGGAAA", "ATGTGGAAA"),
        ("MK", "ATGANG", "ATGANG"),  # an upper-case N takes the triplet unchecked
        ("MK", "ATGNNN", "ATGNNN"),
        ("ML", "ATGYTR", "ATGTTA"),  # rescued as the earliest listed codon it can stand for
        ("MR", "ATGMGR", "ATGCGA"),
        ("MK", "ATGAAR", "ATGAAA"),
        ("MB", "ATGRAY", "ATGAAT"),
        ("MX", "ATGAé", "ATGAé"),  # one base and a whole two-byte character
    ],
)
def test_clean_rows(capfd, aa_seq, nt_seq, row):
    assert translate(capfd, aa_seq, nt_seq) == (row, "")


@pytest.mark.parametrize(
    ("aa_seq", "nt_seq", "row"),
    [
        ("MK", "ATGang", "ATG"),  # a lower-case n is no wildcard
        ("M-K", "atgaaa", "---"),  # codons match case-sensitively
        ("MK", "ATGYYY", "ATG"),  # no reading of YYY encodes K
        ("MKW", "ATGAAATGA", "ATGAAA"),
    ],
)
def test_mismatches_leave_the_residue_out(capfd, aa_seq, nt_seq, row):
    got_row, out = translate(capfd, aa_seq, nt_seq)
    assert got_row == row
    assert out.count("MISMATCH ERROR") == 1


def test_residue_missing_from_the_table_keeps_the_frame(capfd):
    row, out = translate(capfd, "M*KW", "ATGTAAAAATGG", table=27)
    assert row == "ATGAAATGG"
    assert out.count("===ERROR") == 1 and MISSING_RESIDUE in out


def test_gene_table_without_a_residue_keeps_the_frame(capfd):
    capfd.readouterr()
    gene_table = {"M": ["ATG"], "K": ["AAA"]}
    result = ntpepmap.pepthread_original_args("stem", gene_table, {"r": (("h", "MWK"), ("h", "ATGTGGAAA"))})
    assert result == "r\nATGAAA\n"
    assert MISSING_RESIDUE in capfd.readouterr().out


@pytest.mark.parametrize(
    ("gene_table", "nt_seq", "row"),
    [
        ({"M": ["atg"], "K": ["AAA"]}, "atgAAA", "atgAAA"),  # codons other than plain bases match exactly
        ({"M": ["ATGA", "AT"], "K": ["AAA"]}, "ATGAAA", "AAA"),  # entries of another length never match
        ({"M": ["ATG", "ATG"], "K": ["AAA", "AAR"]}, "ATGAAR", "ATGAAR"),  # the exact entry before IUPAC
        ({"M": ["ATG"], "K": ["AAG", "AAA"]}, "ATGAAR", "ATGAAG"),  # the list's order picks the reading
    ],
)
def test_caller_gene_tables(capfd, gene_table, nt_seq, row):
    result = ntpepmap.pepthread_original_args("stem", gene_table, {"r": (("h", "MK"), ("h", nt_seq))})
    assert result == f"r\n{row}\n"



ALL_CODONS = ["".join(codon) for codon in itertools.product("TCAG", repeat=3)]


@pytest.mark.parametrize(
    ("key", "codons"),
    [
        ("-", ["ATG"]),  # the codon that follows the gap
        ("-", ALL_CODONS),
        (".", ALL_CODONS),
        ("m", ["ATG", "AAA"]),
        ("\u012d", ALL_CODONS),  # a character whose low byte is '-'
        ("\u014d", ["AAA"]),  # ... and one whose low byte is 'M'
    ],
)
def test_keys_no_peptide_row_holds_change_nothing(capfd, key, codons):
    capfd.readouterr()
    gene_table = {"M": ["ATG"], "K": ["AAA"], "W": ["TGG"]}
    seqs = {"r": (("h", "M-MK--W-"), ("h", "ATGATGAAATGG"))}
    plain = ntpepmap.pepthread_original_args("stem", gene_table, seqs)
    widened = ntpepmap.pepthread_original_args("stem", {key: codons, **gene_table}, seqs)
    assert plain == widened == "r\nATG---ATGAAA------TGG---\n"
    assert capfd.readouterr().out == ""

@pytest.mark.parametrize(
    ("aa_seq", "nt_seq", "row"),
    [
        ("MK", "ATG", "ATG"),
        ("MK", "ATGAA", "ATG"),
        ("MKW", "ATGAAAT", "ATGAAA"),
        ("M-KW-", "ATGA", "ATG------"),
        ("MK", "", ""),
    ],
)
def test_short_nucleotides_end_the_row_without_aborting(capfd, aa_seq, nt_seq, row):
    capfd.readouterr()
    seqs = {
        "short": (("h", aa_seq), (0, "h", nt_seq)),
        "next": (("g", "M-K"), (0, "g", "ATGAAA")),
    }
    result = ntpepmap.pepthread("stem", 1, seqs)
    assert result == f"short\n{row}\nnext\nATG---AAA\n"
    out = capfd.readouterr().out
    assert out.count("===ERROR") == 1 and "PEP char(s)" in out


@pytest.mark.parametrize(
    ("aa_seq", "nt_seq", "row", "site"),
    [
        ("MXX", "ATGAAéAA", "ATG", 1),  # cut after the first byte of é, even for X
        ("MXX", "ATGNAéAA", "ATG", 1),  # ... and even with an N
        ("MKX", "ATGA€AA", "ATG", 1),  # € straddles two triplets
        ("MKK", "ATGA😀A", "ATG", 1),  # a four-byte character cut twice
    ],
)
def test_triplets_cutting_a_character_are_mismatches(capfd, aa_seq, nt_seq, row, site):
    got_row, out = translate(capfd, aa_seq, nt_seq)
    assert got_row == row
    assert f"at aa site {site}." in out and out.count("===ERROR") == 1


def test_native_translator_checks():
    result = run_native_check("check_translator")
    assert result.returncode == 0, result.stdout + result.stderr
