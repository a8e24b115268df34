"""Repeated calls, failing and succeeding, must not leak references, objects or memory."""

from __future__ import annotations

import gc
import os
import sys

import pytest

from conftest import numbered_record, seqs_that_shrink_while_converted
from leak_calls import calls, tool_calls
from helpers import under_address_sanitizer
from ntpepmap import pepthread

ROUNDS = 6
CALLS_PER_ROUND = 400
LONG_ROW = "MKW-" * 2500
LONG_NUCLEOTIDES = "ATGAAATGG" * 2500


FAILING_CALLS, SUCCESSFUL_CALLS = calls(LONG_ROW, LONG_NUCLEOTIDES)
TOOL_FAILING_CALLS, TOOL_SUCCESSFUL_CALLS = tool_calls(LONG_ROW, LONG_NUCLEOTIDES)
FAILING_CALLS.update(TOOL_FAILING_CALLS)
SUCCESSFUL_CALLS.update(TOOL_SUCCESSFUL_CALLS)


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


UNDER_ASAN = under_address_sanitizer()  # resident size then grows without a leak


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
