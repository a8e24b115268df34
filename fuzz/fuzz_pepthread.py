#!/usr/bin/env python3
"""Fuzzes pepthread: built-in genetic codes, records well-formed and malformed."""

from __future__ import annotations

import operator
import sys

import atheris

with atheris.instrument_imports(include=["common"]):
    import common
    import ntpepmap

NAMES = ("file_steem", "table_num", "seqs")
TABLE_NUMBERS = sorted(common.BUILT_IN_TABLES)
capture = None


def table_number(arguments: common.Arguments) -> tuple[object, dict]:
    if arguments.count(7):
        number = arguments.choice(TABLE_NUMBERS)
        return number, common.codon_table_of(number)
    value = arguments.int32()
    try:
        number = operator.index(value)
    except Exception:  # noqa: BLE001 - a wrong type: the call must refuse it
        return value, {}
    if number not in common.BUILT_IN_TABLES:
        arguments.malformed = True  # unknown table: ValueError
    return value, common.codon_table_of(number)


def test_one_input(data: bytes) -> None:
    arguments = common.Arguments(atheris.FuzzedDataProvider(data))
    stem = arguments.text(common.PEPTIDE_LETTERS) if arguments.count(15) else arguments.anything()
    number, table = table_number(arguments)
    seqs = common.seqs_dict(arguments, True, table) if arguments.count(15) else arguments.anything()
    call = common.call_shape(arguments, ntpepmap.pepthread, NAMES, (stem, number, seqs))
    result = common.check_outcome(call, arguments, capture)
    if result is not None:
        common.check_records(result, seqs, lambda one: ntpepmap.pepthread(stem, number, one),
                             arguments, capture, stem, common.model_table(table))


def main() -> None:
    global capture
    capture = common.StdoutCapture()
    atheris.Setup(sys.argv, common.reporting(test_one_input))
    atheris.Fuzz()


if __name__ == "__main__":
    main()
