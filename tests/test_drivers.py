"""pepthread and pepthread_original_args: result layout, record order, table choice, reports."""

from __future__ import annotations

import io
import itertools
import sys

import pytest

from conftest import MutatingIndex, numbered_record, plain_record
from ntpepmap import pepthread, pepthread_original_args

BUILT_IN_TABLES = [*range(1, 7), *range(9, 17), *range(21, 34)]
UNKNOWN_TABLES = [0, 7, 8, 17, 20, 34, -1, 2**31 - 1, -(2**31)]
STANDARD_CODE = "FFLLSSSSYY**CC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"


def table_1() -> dict[str, list[str]]:
    table: dict[str, list[str]] = {}
    for letter, codon in zip(STANDARD_CODE, ("".join(c) for c in itertools.product("TCAG", repeat=3))):
        table.setdefault(letter, []).append(codon)
    table["X"] = []
    table["B"] = table["N"] + table["D"]
    table["J"] = table["L"] + table["I"]
    table["Z"] = table["Q"] + table["E"]
    return table


def unknown_table_message(number: int) -> str:
    return f"unknown genetic code table {number}: the built-in tables are 1-6, 9-16 and 21-33"


# (name, aa_header, aa_seq, nt_header, nt_seq): clean, header mismatch, length mismatch, codon mismatch.
MIXED_RECORDS = [
    ("clean", "h1", "M-K", "h1", "ATGAAA"),
    ("headers", "h2", "MK", "other", "ATGAAG"),
    ("length", "h3", "MK", "h3", "ATGAAAC"),
    ("mismatch", "h4", "MKW", "h4", "ATGAAATTT"),
    ("iupac", "h5", "LR", "h5", "YTRMGR"),
]


def numbered_seqs(records=MIXED_RECORDS) -> dict:
    return {name: numbered_record(*fields) for name, *fields in records}


def plain_seqs(records=MIXED_RECORDS) -> dict:
    return {name: plain_record(*fields) for name, *fields in records}


def test_one_record_result_layout(capfd):
    assert pepthread("aln", 1, {"r1": numbered_record("h", "M-K", "h", "ATGAAA")}) == "r1\nATG---AAA\n"
    assert capfd.readouterr() == ("", "")


@pytest.mark.parametrize("driver, seqs", [
    pytest.param(pepthread, numbered_seqs, id="pepthread"),
    pytest.param(lambda stem, _, seqs: pepthread_original_args(stem, table_1(), seqs), plain_seqs, id="original-args"),
])
def test_records_and_reports_follow_the_order_of_seqs(driver, seqs, capfd):
    for order in [MIXED_RECORDS, MIXED_RECORDS[::-1], MIXED_RECORDS[2:] + MIXED_RECORDS[:2]]:
        result = driver("stem", 1, seqs(order))
        lines = result.split("\n")
        assert lines[-1] == ""
        assert lines[0:-1:2] == [name for name, *_ in order]
        reported = [line.split(" AND HEADER ")[1].rstrip(":")
                    for line in capfd.readouterr().out.splitlines() if line.startswith("===ERROR CAUGHT IN FILE stem")]
        expected = [aa_header for _, aa_header, *_ in order if aa_header in ("h2", "h3", "h4")]
        assert reported == expected


def test_result_rows_of_mixed_records(capfd):
    result = pepthread("stem", 1, numbered_seqs())
    assert result == "clean\nATG---AAA\nheaders\nATGAAG\nlength\nATGAAA\nmismatch\nATGAAA\niupac\nTTACGA\n"
    assert result.count("\n") == 2 * len(MIXED_RECORDS)
    out = capfd.readouterr().out
    assert out.count("===ERROR CAUGHT IN FILE stem AND HEADER") == 3
    assert "AA header -> h2 is not the same as NT header -> other" in out


@pytest.mark.parametrize("driver", [
    pytest.param(lambda seqs: pepthread("f", 1, seqs), id="pepthread"),
    pytest.param(lambda seqs: pepthread_original_args("f", {}, seqs), id="original-args"),
])
def test_empty_seqs_gives_empty_text_and_no_output(driver, capfd):
    assert driver({}) == ""
    assert capfd.readouterr() == ("", "")


@pytest.mark.parametrize("table_num", BUILT_IN_TABLES)
def test_every_built_in_table_is_known(table_num):
    assert pepthread("f", table_num, {}) == ""
    assert pepthread("f", table_num, {"r": numbered_record("h", "M-W", "h", "ATGTGG")}) == "r\nATG---TGG\n"


@pytest.mark.parametrize("table_num", UNKNOWN_TABLES)
@pytest.mark.parametrize("records", [[], MIXED_RECORDS], ids=["empty", "records"])
def test_unknown_table_number_raises_value_error(table_num, records, capfd):
    with pytest.raises(ValueError) as caught:
        pepthread("f", table_num, numbered_seqs(records))
    assert type(caught.value) is ValueError
    assert str(caught.value) == unknown_table_message(table_num)
    assert capfd.readouterr() == ("", "")


def test_conversion_checked_before_the_table_number():
    with pytest.raises(TypeError, match="argument 'seqs'"):
        pepthread("f", 7, {"r": [1]})


@pytest.mark.parametrize("driver, bad_seqs", [
    pytest.param(pepthread, {**numbered_seqs(), "bad": (("h", "M"), ("h", "ATG"))}, id="pepthread"),
    pytest.param(lambda stem, _, seqs: pepthread_original_args(stem, table_1(), seqs),
                 {**plain_seqs(), "bad": (("h", "M"), (0, "h", "ATG"))}, id="original-args"),
])
def test_nothing_is_processed_when_a_late_entry_fails(driver, bad_seqs, capfd):
    with pytest.raises(ValueError, match="expected tuple of length"):
        driver("f", 1, bad_seqs)
    assert capfd.readouterr() == ("", "")


class Alias(str):
    """A record name that differs from an equal text only by its tag."""

    def __new__(cls, text, tag):
        alias = super().__new__(cls, text)
        alias.tag = tag
        return alias

    def __eq__(self, other):
        return str.__eq__(self, other) and getattr(other, "tag", None) == self.tag

    def __hash__(self):
        return hash((str(self), self.tag))


def test_names_with_equal_text_merge_like_a_dict_update(capfd):
    seqs = {
        Alias("r1", 1): numbered_record("h", "MK", "other", "ATGAAA"),
        "r2": numbered_record("h", "K", "h", "AAG"),
        Alias("r1", 2): numbered_record("h", "W", "h", "TGG"),
    }
    assert len(seqs) == 3
    assert pepthread("f", 1, seqs) == "r1\nTGG\nr2\nAAG\n"
    assert capfd.readouterr().out == "", "the replaced value is never processed"


def test_gene_table_equal_to_table_1_matches_pepthread_1(capfd):
    by_number = pepthread("stem", 1, numbered_seqs())
    number_reports = capfd.readouterr().out
    by_table = pepthread_original_args("stem", table_1(), plain_seqs())
    assert by_table == by_number
    assert capfd.readouterr().out == number_reports


def test_empty_gene_table_reports_every_record(capfd):
    result = pepthread_original_args("f", {}, plain_seqs(MIXED_RECORDS[:1]))
    assert result == "clean\n---\n"
    assert "Genetic table does not have the pep." in capfd.readouterr().out


def test_reports_bypass_sys_stdout(capfd, monkeypatch):
    replacement = io.StringIO()
    monkeypatch.setattr(sys, "stdout", replacement)
    pepthread("f", 1, {"r": numbered_record("h", "M", "g", "ATG")})
    assert replacement.getvalue() == ""
    assert "===ERROR CAUGHT IN FILE f AND HEADER h:" in capfd.readouterr().out


@pytest.mark.parametrize("names", [
    pytest.param(["a", "b", "r\u00e9c"], id="non-ascii-last"),
    pytest.param(["r\u00e9c", "a", "b"], id="non-ascii-first"),
    pytest.param(["a", "\U0001f9ec", "b"], id="non-ascii-middle"),
])
def test_result_text_switching_to_utf8_midway(names):
    seqs = {name: numbered_record("h", "MK" * 50, "h", "ATGAAA" * 50) for name in names}
    assert pepthread("f", 1, seqs) == "".join(f"{name}\n{'ATGAAA' * 50}\n" for name in names)


def test_result_longer_than_three_bytes_per_peptide_byte():
    # Upper-cased, this two-byte letter becomes three characters, each an unchecked X residue.
    row = "\u0390" * 100
    seqs = {"r": numbered_record("h", row, "h", "ACG" * 300), "s": numbered_record("h", "M", "h", "ATG")}
    assert pepthread("f", 1, seqs) == "r\n" + "ACG" * 300 + "\ns\nATG\n"


def test_a_name_seen_twice_while_the_dict_is_refilled_comes_out_once():
    # Re-inserting "a" fills the table, the dict compacts, and the iteration meets "a"
    # again (skipping "b") without the size ever changing.
    seqs: dict = {}

    def move_a_to_the_end():
        del seqs["a"]
        seqs["a"] = numbered_record("h", "K", "h", "AAA")

    seqs["a"] = (("h", "M"), (MutatingIndex(move_a_to_the_end), "h", "ATG"))
    for name in "bcde":
        seqs[name] = numbered_record("h", "W", "h", "TGG")
    assert pepthread("f", 1, seqs) == "a\nAAA\nc\nTGG\nd\nTGG\ne\nTGG\n"
