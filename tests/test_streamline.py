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


def test_every_code_point_upper_cases_as_python_does(capfd):
    """The whole Unicode range in one row, checked against str.upper().

    Each accepted letter has its own codon in a table without X: a letter read as another
    letter mismatches, and an X (a table miss, no piece) is given the triplet NNN, which any
    letter read in its place would copy into the row.
    """
    accepted = "ALWQYECDFGHIMKPRSVNT*-BJZX"
    letters = [letter for letter in accepted if letter not in "-X"]
    bases = "TCAG"
    codons = [a + b + c for a in bases for b in bases for c in bases]
    gene_table = {letter: [codons[index]] for index, letter in enumerate(letters)}
    characters = "".join(chr(cp) for cp in range(0x110000) if not 0xD800 <= cp <= 0xDFFF)
    residues = "".join(letter if letter in accepted else "X" for letter in characters.upper())
    nt_seq = "".join("NNN" if letter == "X" else gene_table[letter][0] for letter in residues if letter != "-")
    expected_row = "".join("---" if letter == "-" else gene_table[letter][0] for letter in residues if letter != "X")

    # Flanked by M so that no white space is trimmed.
    methionine = gene_table["M"][0]
    record = (("h", "M" + characters + "M"), ("h", methionine + nt_seq + methionine))
    capfd.readouterr()
    row = ntpepmap.pepthread_original_args("stem", gene_table, {"r": record})
    assert row == "r\n" + methionine + expected_row + methionine + "\n"
    assert "MISMATCH" not in capfd.readouterr().out
