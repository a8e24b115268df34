#!/usr/bin/env python3
"""Fuzzes attempt_iupac_substitution against a literal expansion of the triplet."""

from __future__ import annotations

import sys

import atheris

with atheris.instrument_imports(include=["common"]):
    import common
    import ntpepmap

NAMES = ("original_triplet", "taxa")
LETTERS = "ACGTRYSWKMBDHVNacgtrn-é"


def triplet(arguments: common.Arguments) -> object:
    kind = arguments.count(9)
    if kind <= 6:
        return arguments.letters(LETTERS, 4)
    if kind <= 8:
        return arguments.text()
    return arguments.anything()


def entry(arguments: common.Arguments) -> object:
    kind = arguments.count(9)
    if kind <= 6:
        return arguments.letters(LETTERS[:-1], 3 if kind else 4)
    if kind <= 8:
        return arguments.text()
    return arguments.anything(1)


def well_formed(value: object) -> bool:
    try:
        return isinstance(value, str) and value.encode() is not None
    except UnicodeEncodeError:
        return False


def test_one_input(data: bytes) -> None:
    arguments = common.Arguments(atheris.FuzzedDataProvider(data))
    original = triplet(arguments)
    entries = [entry(arguments) for _ in range(arguments.count(8))]
    taxa = arguments.sequence(entries) if arguments.count(15) else arguments.anything()
    if arguments.count(15) == 0:
        arguments.malformed = True
        taxa = "".join(str(e) for e in entries)  # a str is no list of triplets
    items = list(taxa) if isinstance(taxa, (list, tuple, bytes, bytearray, common.SequenceOf)) \
        and not isinstance(taxa, common.FailingSequence) else None
    taxa_ok = items is not None and all(well_formed(item) for item in items)
    long_triplet = well_formed(original) and len(original.encode()) > 3
    if long_triplet:
        arguments.malformed = True
    call = common.call_shape(arguments, ntpepmap.attempt_iupac_substitution, NAMES, (original, taxa))
    try:
        result = call()
    except BaseException as error:  # noqa: BLE001 - PanicException is a BaseException
        if isinstance(error, common.HarnessError):
            assert arguments.raises_own
            return
        if long_triplet and taxa_ok and isinstance(error, ValueError) and "original_triplet" in str(error):
            assert str(error) == f"original_triplet must be at most 3 bytes of UTF-8, got {len(original.encode())}"
            return
        assert isinstance(error, common.ALLOWED_ARGUMENT_ERRORS), repr(error)
        assert arguments.malformed, repr(error)
        return
    assert not long_triplet, "a triplet of more than 3 bytes was accepted"
    assert well_formed(original) and taxa_ok, "a malformed call returned"
    expected = common.iupac_substitution(original, items)
    assert result == expected, (original, items, result, expected)
    assert result is None or isinstance(result, str)


def main() -> None:
    atheris.Setup(sys.argv, common.reporting(test_one_input))
    atheris.Fuzz()


if __name__ == "__main__":
    main()
