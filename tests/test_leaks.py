"""Repeated calls, failing and succeeding, must not leak references, objects or memory."""

from __future__ import annotations

import gc
import os
import sys

import pytest

from conftest import numbered_record, plain_record, seqs_that_shrink_while_converted
from ntpepmap import attempt_iupac_substitution, pepthread, pepthread_original_args

ROUNDS = 6
CALLS_PER_ROUND = 400
LONG_ROW = "MKW-" * 2500
LONG_NUCLEOTIDES = "ATGAAATGG" * 2500


class RaisingIndex:
    """Raises a fresh error each time: re-raising one instance would grow its traceback."""

    def __init__(self, make_error):
        self.make_error = make_error

    def __index__(self):
        raise self.make_error()


def _error_with_cause() -> TypeError:
    error = TypeError("bad index")
    error.__cause__ = KeyError("root")
    return error


GOOD_NUMBERED = {f"r{i}": numbered_record(f"h{i}", LONG_ROW, f"h{i}", LONG_NUCLEOTIDES) for i in range(4)}
GOOD_PLAIN = {f"r{i}": plain_record(f"h{i}", LONG_ROW, f"h{i}", LONG_NUCLEOTIDES) for i in range(4)}
GENE_TABLE = {"M": ["ATG"], "K": ["AAA", "AAG"], "W": ("TGG",)}

# (function, positional arguments, keyword arguments)
FAILING_CALLS = {
    "too-many-positional": (pepthread, ("f", 1, GOOD_NUMBERED, 4), {}),
    "missing": (pepthread, ("f",), {}),
    "unexpected-keyword": (pepthread, ("f", 1, GOOD_NUMBERED), {"table": 1}),
    "multiple-values": (pepthread, ("f", 1), {"file_steem": "g", "seqs": GOOD_NUMBERED}),
    "text-type": (pepthread, (5, 1, GOOD_NUMBERED), {}),
    "text-surrogate": (pepthread, ("\ud800", 1, GOOD_NUMBERED), {}),
    "int-type": (pepthread, ("f", 1.5, GOOD_NUMBERED), {}),
    "int-range": (pepthread, ("f", 2**31, GOOD_NUMBERED), {}),
    "int-c-long": (pepthread, ("f", 2**64, GOOD_NUMBERED), {}),
    "typeerror-with-cause": (pepthread, ("f", RaisingIndex(_error_with_cause), GOOD_NUMBERED), {}),
    "seqs-type": (pepthread, ("f", 1, [GOOD_NUMBERED]), {}),
    "seqs-late-length": (pepthread, ("f", 1, {**GOOD_NUMBERED, "z": (("h", "M"), ("h", "ATG"))}), {}),
    "seqs-late-key": (pepthread, ("f", 1, {**GOOD_NUMBERED, 5: GOOD_NUMBERED["r0"]}), {}),
    "seqs-late-text": (pepthread, ("f", 1, {**GOOD_NUMBERED, "z": numbered_record("h", "M", "h", None)}), {}),
    "unknown-table": (pepthread, ("f", 7, GOOD_NUMBERED), {}),
    "table-value-str": (pepthread_original_args, ("f", {**GENE_TABLE, "Y": "TAT"}, GOOD_PLAIN), {}),
    "table-late-codon": (pepthread_original_args, ("f", {**GENE_TABLE, "Y": ["TAT", 5]}, GOOD_PLAIN), {}),
    "table-key-length": (pepthread_original_args, ("f", {**GENE_TABLE, "YY": []}, GOOD_PLAIN), {}),
    "taxa-type": (attempt_iupac_substitution, ("RRA", 5), {}),
    "taxa-str": (attempt_iupac_substitution, ("RRA", "GGA"), {}),
    "taxa-late-item": (attempt_iupac_substitution, ("RRA", ["GGA", "AAA", None]), {}),
    "triplet-too-long": (attempt_iupac_substitution, ("RRAA", ["GGA", "AAA"]), {}),
}

SUCCESSFUL_CALLS = {
    "pepthread": (pepthread, ("f", 1, GOOD_NUMBERED), {}),
    "pepthread-keywords": (pepthread, (), {"seqs": GOOD_NUMBERED, "table_num": 11, "file_steem": "f"}),
    "original-args": (pepthread_original_args, ("f", GENE_TABLE, GOOD_PLAIN), {}),
    "iupac-found": (attempt_iupac_substitution, ("RRA", ("TTT", "GGA")), {}),
    "iupac-none": (attempt_iupac_substitution, ("RRA", ["TTT"]), {}),
}


def _reachable_inputs(value, found: dict[int, object]) -> None:
    if id(value) in found:
        return
    found[id(value)] = value
    if isinstance(value, dict):
        for key, item in value.items():
            _reachable_inputs(key, found)
            _reachable_inputs(item, found)
    elif isinstance(value, (tuple, list)):
        for item in value:
            _reachable_inputs(item, found)


def _refcounts(objects) -> list[int]:
    return [sys.getrefcount(obj) for obj in objects]


def _resident_bytes() -> int:
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def _under_address_sanitizer() -> bool:
    """ASan's quarantine holds freed memory back, so resident size grows without a leak."""
    with open("/proc/self/maps") as maps:
        return "libasan" in maps.read()


UNDER_ASAN = _under_address_sanitizer()


def _call_repeatedly(invoke) -> tuple[list[int], list[int]]:
    """Object counts and resident sizes after each round of calls."""
    object_counts, resident_sizes = [], []
    for _ in range(ROUNDS):
        for _ in range(CALLS_PER_ROUND):
            try:
                invoke()
            except BaseException:  # noqa: BLE001 - failing calls are the point; aborts included
                pass
        gc.collect()
        object_counts.append(len(gc.get_objects()))
        resident_sizes.append(_resident_bytes())
    return object_counts, resident_sizes


def _assert_no_growth(invoke, inputs) -> None:
    objects = {}
    _reachable_inputs(inputs, objects)
    for _ in range(50):  # warm-up: lazily built tables, caches, the exception class
        try:
            invoke()
        except BaseException:  # noqa: BLE001
            pass
    gc.collect()
    before = _refcounts(objects.values())
    object_counts, resident_sizes = _call_repeatedly(invoke)
    after = _refcounts(objects.values())
    # A per-call leak adds thousands of references; shared constants (small ints,
    # interned strings) may move by a few for reasons of their own.
    gained = [(obj, new - old) for obj, old, new in zip(objects.values(), before, after) if new != old]
    assert all(abs(delta) < CALLS_PER_ROUND for _, delta in gained), gained
    assert all(delta == 0 for obj, delta in gained if sys.getrefcount(obj) < 1000), gained
    assert len(set(object_counts[1:])) == 1, object_counts
    # Every call handles ~100 kB of sequence text: a per-call leak of it would add megabytes.
    assert UNDER_ASAN or resident_sizes[-1] - resident_sizes[1] < 1 << 20, resident_sizes


def _invoker(function, args, kwargs):
    return lambda: function(*args, **kwargs)


@pytest.mark.parametrize("name", FAILING_CALLS)
def test_failing_calls_do_not_leak(name):
    function, args, kwargs = FAILING_CALLS[name]
    with pytest.raises(BaseException):
        function(*args, **kwargs)
    _assert_no_growth(_invoker(function, args, kwargs), (args, kwargs))


@pytest.mark.parametrize("name", SUCCESSFUL_CALLS)
def test_successful_calls_do_not_leak(name):
    function, args, kwargs = SUCCESSFUL_CALLS[name]
    function(*args, **kwargs)
    _assert_no_growth(_invoker(function, args, kwargs), (args, kwargs))


def test_calls_that_print_reports_do_not_leak(capfd):
    seqs = {"r": numbered_record("h", LONG_ROW, "other", LONG_NUCLEOTIDES)}
    _assert_no_growth(_invoker(pepthread, ("f", 1, seqs), {}), seqs)
    assert capfd.readouterr().out.count("===ERROR CAUGHT") > ROUNDS * CALLS_PER_ROUND


def test_aborted_calls_do_not_leak():
    record = numbered_record("h", LONG_ROW, "h", LONG_NUCLEOTIDES)

    def abort():
        seqs = seqs_that_shrink_while_converted()
        seqs["third"] = record
        pepthread("f", 1, seqs)

    with pytest.raises(BaseException, match="dictionary changed size"):
        abort()
    _assert_no_growth(abort, record)
