"""No growth of references, objects or memory over every kind of record report and every
remaining abort (the argument errors and plain successes are covered in test_leaks)."""

from __future__ import annotations

import os

import pytest

from conftest import MutatingIndex, numbered_record, plain_record
from ntpepmap import pepthread, pepthread_original_args
from test_leaks import LONG_NUCLEOTIDES, LONG_ROW, _assert_no_growth

REPORT = "===ERROR CAUGHT IN FILE "

# One record per kind of report; each prints exactly one report per call.
REPORTING_RECORDS = {
    "length": numbered_record("h", LONG_ROW, "h", LONG_NUCLEOTIDES + "A"),
    "short-nucleotides": numbered_record("h", LONG_ROW, "h", LONG_NUCLEOTIDES[:300]),
    "mismatch": numbered_record("h", LONG_ROW, "h", LONG_NUCLEOTIDES.replace("AAA", "CCC")),
    "missing-residue": numbered_record("h", LONG_ROW.replace("K", "*"), "h", LONG_NUCLEOTIDES.replace("AAA", "TGA")),
    "cut-inside-a-character": numbered_record("h", LONG_ROW, "h", "AT\u00e9" + LONG_NUCLEOTIDES[4:]),
}


@pytest.mark.parametrize("kind", REPORTING_RECORDS)
def test_each_kind_of_report_does_not_leak(kind, capfd):
    seqs = {"r": REPORTING_RECORDS[kind]}
    table = 27 if kind == "missing-residue" else 1  # table 27 has no stop
    _assert_no_growth(lambda: pepthread("f", table, seqs), seqs)
    assert capfd.readouterr().out.count(REPORT) > 2000


def test_iupac_rescues_do_not_leak(capfd):
    seqs = {"r": numbered_record("h", "MKR" * 3000, "h", "ATGAARMGR" * 3000)}
    result = pepthread("f", 1, seqs)
    assert result == "r\n" + "ATGAAACGA" * 3000 + "\n"
    _assert_no_growth(lambda: pepthread("f", 1, seqs), seqs)
    assert REPORT not in capfd.readouterr().out


def _swapping_seqs(record) -> dict:
    """Same size throughout, one entry more than at the start: 'keys changed'."""
    seqs: dict = {}

    def swap() -> None:
        del seqs["a"]
        seqs["c"] = record

    seqs["a"] = (("h", "M"), (MutatingIndex(swap), "h", "ATG"))
    seqs["b"] = record
    return seqs


class MutatingCodons:
    """A codon list whose iteration adds an entry to the gene table being converted."""

    def __init__(self, table: dict) -> None:
        self.table = table

    def __len__(self) -> int:
        return 1

    def __getitem__(self, index: int) -> str:
        return ["ATG"][index]

    def __iter__(self):
        self.table["Q"] = ["CAA"]
        return iter(["ATG"])


def _growing_gene_table() -> dict:
    table: dict = {"M": ["ATG"], "K": ["AAA"]}
    table["W"] = MutatingCodons(table)
    return table


def _abort_keys_changed(record) -> None:
    pepthread("f", 1, _swapping_seqs(record))


def _abort_gene_table(record) -> None:
    pepthread_original_args("f", _growing_gene_table(), {"r": record})


@pytest.mark.parametrize(("abort", "record", "message"), [
    (_abort_keys_changed, numbered_record("h", LONG_ROW, "h", LONG_NUCLEOTIDES), "dictionary keys changed"),
    (_abort_gene_table, plain_record("h", LONG_ROW, "h", LONG_NUCLEOTIDES), "dictionary changed size"),
], ids=["seqs-keys-changed", "gene-table-grew"])
def test_remaining_aborts_do_not_leak(abort, record, message):
    with pytest.raises(BaseException, match=message):
        abort(record)
    _assert_no_growth(lambda: abort(record), record)


def test_a_report_that_cannot_be_written_aborts_without_leaking():
    record = numbered_record("h", LONG_ROW, "other", LONG_NUCLEOTIDES)
    seqs = {"first": numbered_record("h", LONG_ROW, "h", LONG_NUCLEOTIDES), "r": record}
    full = os.open("/dev/full", os.O_WRONLY)
    saved = os.dup(1)
    os.dup2(full, 1)
    try:
        with pytest.raises(BaseException, match="^failed printing to stdout: ") as caught:
            pepthread("f", 1, seqs)
        assert type(caught.value).__name__ == "PanicException"
        _assert_no_growth(lambda: pepthread("f", 1, seqs), seqs)
    finally:
        os.dup2(saved, 1)
        os.close(saved)
        os.close(full)
