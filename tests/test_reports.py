"""The framed record reports on file descriptor 1, byte for byte."""

import random

import pytest

import ntpepmap

MISSING_RESIDUE = "Genetic table does not have the pep. Perhaps you've chosen the wrong table index?"


def framed(message, stem="stem", header="h"):
    return f"\n===ERROR CAUGHT IN FILE {stem} AND HEADER {header}:\n {message}\n===\n"


def mismatch(site, peptide_window, nucleotide_window):
    indent = " " * 16
    return (
        f" \n{indent}======\n{indent}MISMATCH ERROR:\n"
        f"{indent}The following Amino Acid failed to match with its source Nucleotide pair at aa site {site}.\n"
        f"{indent}Amino Acid: `{peptide_window}`,\n{indent}======\n"
        f"{indent}Source Nucleotide: `{nucleotide_window}`,\n{indent}=======\n{' ' * 12}"
    )


def printed(capfd, aa_seq, nt_seq, aa_header="h", nt_header="h", table=1):
    capfd.readouterr()
    ntpepmap.pepthread("stem", table, {"r": ((aa_header, aa_seq), (0, nt_header, nt_seq))})
    return capfd.readouterr().out


def lysine_codons(count, seed=7):
    """Distinct-looking synonymous codons, so that a shifted window would not compare equal."""
    choose = random.Random(seed).choice
    return "".join(choose(["AAA", "AAG"]) for _ in range(count))


@pytest.mark.parametrize(
    ("aa_seq", "nt_seq", "aa_header", "nt_header", "message"),
    [
        ("MK", "ATGAAA", "h", "h ", "AA header -> h is not the same as NT header -> h "),
        # Header and length both wrong: the header report wins.
        ("MKW", "ATG", "h", "g", "AA header -> h is not the same as NT header -> g"),
        ("MKW", "ATG", "h", "h", "(AA -> h) is larger than (NT -> h) with a difference of 2 PEP char(s)"),
        ("MK", "ATGAAAC", "h", "h", "(NT -> h) is larger than (AA -> h) with a difference of 0 NT triplet(s)"),
        ("M-", "ATGAAACC", "h", "h", "(NT -> h) is larger than (AA -> h) with a difference of 1 NT triplet(s)"),
        ("", "AAAAAAAAA", "h", "h", "(NT -> h) is larger than (AA -> h) with a difference of 3 NT triplet(s)"),
        ("M", "atg ", "h", "h", "(NT -> h) is larger than (AA -> h) with a difference of 0 NT triplet(s)"),
    ],
)
def test_header_and_length_reports(capfd, aa_seq, nt_seq, aa_header, nt_header, message):
    assert printed(capfd, aa_seq, nt_seq, aa_header, nt_header) == framed(message, header=aa_header)


@pytest.mark.parametrize(("aa_seq", "nt_seq"), [("M-K", "ATGAAA"), ("", ""), ("---", ""), ("X", "NNN")])
def test_clean_records_print_nothing(capfd, aa_seq, nt_seq):
    assert printed(capfd, aa_seq, nt_seq) == ""


def test_missing_residue_report(capfd):
    assert printed(capfd, "M*K", "ATGTAAAAA", table=27) == framed(MISSING_RESIDUE)


def test_one_report_per_record_and_one_per_each_record(capfd):
    capfd.readouterr()
    seqs = {
        "a": (("ha", "MWW"), (0, "ha", "ATGAAAAAA")),
        "b": (("hb", "W*"), (0, "hx", "AAAAAA")),
    }
    ntpepmap.pepthread("stem", 27, seqs)
    assert capfd.readouterr().out == (
        framed(mismatch(1, "MWW", "ATGAAAAAA"), header="ha")
        + framed("AA header -> hb is not the same as NT header -> hx", header="hb")
    )


def test_mismatch_at_3_of_5_shows_both_sequences_whole(capfd):
    nt_seq = "ATGAAAAAGAAAAAA"
    assert printed(capfd, "MKKWK", nt_seq) == framed(mismatch(3, "MKKWK", nt_seq))


def test_mismatch_at_50_of_100_windows_are_40_to_60_and_120_to_180(capfd):
    aa_seq = "K" * 50 + "W" + "K" * 49
    nt_seq = lysine_codons(100)
    assert printed(capfd, aa_seq, nt_seq) == framed(mismatch(50, aa_seq[40:60], nt_seq[120:180]))


def test_window_centre_takes_the_quotient_first(capfd):
    # 87 * (17 / 29) is just below 51 in double precision: the centre is 50, the window 20..80.
    aa_seq = "K" * 17 + "W" + "K" * 11
    nt_seq = lysine_codons(29)
    assert int(87 * (17 / 29)) == 50
    assert printed(capfd, aa_seq, nt_seq) == framed(mismatch(17, aa_seq[7:27], nt_seq[20:80]))


def test_window_start_inside_a_character_widens_to_it(capfd):
    # "€" (3 bytes) fills the triplet of residue X; the centre 47 puts the start at byte 17, inside it.
    aa_seq = "KKKKKX" + "K" * 13 + "M" + "----"
    nt_seq = "AAA" * 5 + "€" + "AAA" * 14
    raw = nt_seq.encode()
    assert len(raw) == 60 and int(60 * (19 / 24)) == 47
    assert printed(capfd, aa_seq, nt_seq) == framed(mismatch(19, aa_seq[9:24], raw[15:].decode()))


def test_cut_triplet_window_end_widens_to_the_whole_character(capfd):
    # Residue 4's triplet is "AA" plus the first byte of "é": a mismatch; the window
    # would end at byte 42, the middle of the second "é", and takes it whole.
    raw = ("A" * 14 + "é" + "A" * 25 + "é" + "A" * 17).encode()
    assert len(raw) == 60
    aa_seq = "K" * 20
    printed_text = printed(capfd, aa_seq, raw.decode())
    assert printed_text == framed(mismatch(4, aa_seq[0:14], raw[0:43].decode()))
