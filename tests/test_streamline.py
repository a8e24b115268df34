"""Normalisation of both sequences, seen through pepthread's rows and reports."""

import pytest

import ntpepmap

WHITE_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680\u2000\u200a\u2028\u2029\u202f\u205f\u3000"


def run(capfd, aa_seq, nt_seq):
    capfd.readouterr()
    row = ntpepmap.pepthread("stem", 1, {"r": (("h", aa_seq), (0, "h", nt_seq))})
    return row.removeprefix("r\n").removesuffix("\n"), capfd.readouterr().out


def streamlined_peptide(capfd, aa_seq, residues):
    """The peptide row as the translator sees it, read from the window of a forced mismatch."""
    # Lower-case codons never match a residue, so the first non-X residue reports the row.
    _, out = run(capfd, aa_seq, "ttt" * residues)
    return out.split("Amino Acid: `", 1)[1].split("`", 1)[0] if "Amino Acid: `" in out else out


@pytest.mark.parametrize(
    ("aa_seq", "expected"),
    [
        (WHITE_SPACE + "MK" + WHITE_SPACE, "MK"),
        ("\u3000M-K\x85", "M-K"),
        ("mk-w", "MK-W"),
        ("M K", "MXK"),
        ("M\u3000K", "MXK"),
        ("M.K", "MXK"),
        ("MO1U", "MXXX"),
        ("M*bjzx", "M*BJZX"),
        ("\u00dfM", "SSM"),
        ("M\ufb01", "MFI"),
        ("M\u0131\u017f", "MIS"),
        ("M\u0390", "MXXX"),
        ("\u00e9M", "XM"),
        ("\x1cM", "XM"),
    ],
)
def test_peptide_row(capfd, aa_seq, expected):
    residues = len(expected) - expected.count("-")
    assert streamlined_peptide(capfd, aa_seq, residues) == expected


@pytest.mark.parametrize(
    ("aa_seq", "nt_seq", "row"),
    [
        (" \u3000\n", "", ""),
        ("1OU", "CCCGGGTTT", "CCCGGGTTT"),  # each becomes X, whose triplet is taken unchecked
        ("mk-w\n", "ATGAAATGG", "ATGAAA---TGG"),
        ("\u00df", "TCTAGC", "TCTAGC"),
        ("M.K", "ATG.CC-CAAA", "ATGCCCAAA"),
        ("M-K", "--AT-G..AAA-", "ATG---AAA"),
    ],
)
def test_rows_without_reports(capfd, aa_seq, nt_seq, row):
    assert run(capfd, aa_seq, nt_seq) == (row, "")


def test_nucleotides_keep_case_and_whitespace(capfd):
    # "atg " keeps its four bytes: the length check counts the space.
    _, out = run(capfd, "M", "atg ")
    assert "(NT -> h) is larger than (AA -> h) with a difference of 0 NT triplet(s)" in out
