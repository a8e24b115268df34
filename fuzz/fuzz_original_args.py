#!/usr/bin/env python3
"""Fuzzes pepthread_original_args: caller-supplied genetic codes, records well-formed and malformed."""

from __future__ import annotations

import sys

import atheris

with atheris.instrument_imports(include=["common"]):
    import common
    import ntpepmap

NAMES = ("file_steem", "gene_table", "seqs")
CODON_LETTERS = "ACGTRYKMN" + "acgtN-.é"
capture = None


def codon(arguments: common.Arguments) -> object:
    kind = arguments.count(9)
    if kind <= 6:
        return arguments.letters(CODON_LETTERS[:9], 1) + arguments.letters(CODON_LETTERS[:9], 1) \
            + arguments.letters(CODON_LETTERS, 1) if kind == 0 else \
            "".join(arguments.choice(CODON_LETTERS[:9]) for _ in range(3))
    if kind <= 8:
        return arguments.text()
    return arguments.anything(2)


def codon_list(arguments: common.Arguments, table: dict) -> object:
    codons = [codon(arguments) for _ in range(arguments.count(6))]
    kind = arguments.count(11)
    if kind <= 8:
        return arguments.sequence(codons)
    if kind == 9:
        arguments.malformed = True  # a str is refused: "Can't extract `str` to `Vec`"
        return "".join(str(c) for c in codons)
    if kind == 10:
        return common.Mutator(arguments, table, ["ATG"], codons)
    return arguments.anything(1)


def table_key(arguments: common.Arguments) -> object:
    kind = arguments.count(9)
    if kind <= 5:
        return arguments.choice(common.PEPTIDES + "-ax")
    if kind == 6:
        return common.LonelyText(arguments.choice("MKW"))
    key = arguments.text(common.PEPTIDE_LETTERS) if kind <= 8 else arguments.anything(2)
    if not isinstance(key, str) or len(key) != 1:
        arguments.malformed = True
    return key


def gene_table(arguments: common.Arguments) -> dict:
    if arguments.count(15) == 0:
        return arguments.anything()
    if arguments.count(5) == 0:
        number = arguments.choice(sorted(common.BUILT_IN_TABLES))
        return {letter: list(codons) for letter, codons in common.codon_table_of(number).items()}
    table: dict = common.StrictDict() if arguments.count(7) == 0 else {}
    for _ in range(arguments.count(8)):
        key = table_key(arguments)
        try:
            dict.__setitem__(table, key, codon_list(arguments, table))
        except TypeError:  # unhashable key
            pass
    return table


def test_one_input(data: bytes) -> None:
    arguments = common.Arguments(atheris.FuzzedDataProvider(data))
    stem = arguments.text(common.PEPTIDE_LETTERS) if arguments.count(15) else arguments.anything()
    table = gene_table(arguments)
    usable_table = table if isinstance(table, dict) else {}
    seqs = common.seqs_dict(arguments, False, usable_table) if arguments.count(15) else arguments.anything()
    call = common.call_shape(arguments, ntpepmap.pepthread_original_args, NAMES, (stem, table, seqs))
    result = common.check_outcome(call, arguments, capture)
    if result is not None:
        common.check_records(result, seqs, lambda one: ntpepmap.pepthread_original_args(stem, table, one),
                             arguments, capture, stem, common.model_table(table))


def main() -> None:
    global capture
    capture = common.StdoutCapture()
    atheris.Setup(sys.argv, common.reporting(test_one_input))
    atheris.Fuzz()


if __name__ == "__main__":
    main()
