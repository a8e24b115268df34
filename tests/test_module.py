"""The module object, its functions, re-initialisation and PanicException."""

from __future__ import annotations

import re
import types

import pytest

import ntpepmap
from conftest import MutatingIndex, numbered_record, plain_record, seqs_that_shrink_while_converted

FUNCTION_NAMES = ["pepthread", "pepthread_original_args", "attempt_iupac_substitution"]
PANIC_SNIPPET_HEAD = """
import sys, ntpepmap
seqs = {}
class Shrink:
    def __index__(self):
        seqs.pop("b", None)
        return 0
seqs["a"] = (("h", "M"), (Shrink(), "h", "ATG"))
seqs["b"] = (("h", "M"), (0, "h", "ATG"))
"""


def test_all_lists_the_functions_in_registration_order():
    assert ntpepmap.__all__ == FUNCTION_NAMES
    assert type(ntpepmap.__all__) is list


def test_module_has_empty_documentation():
    assert ntpepmap.__doc__ == ""
    assert ntpepmap.__name__ == "ntpepmap"


@pytest.mark.parametrize("name", FUNCTION_NAMES)
def test_functions_are_builtins_bound_to_the_module(name):
    function = getattr(ntpepmap, name)
    assert isinstance(function, types.BuiltinFunctionType)
    assert function.__name__ == name
    assert function.__doc__ is None
    assert function.__text_signature__ is None
    assert function.__module__ == "ntpepmap"
    assert function.__self__ is ntpepmap


def test_second_initialisation_raises_import_error(run_python):
    completed = run_python("""
        import sys
        import ntpepmap
        first = ntpepmap
        del sys.modules["ntpepmap"]
        try:
            import ntpepmap
        except ImportError as error:
            print("ImportError:", error)
        print(first.pepthread("f", 1, {"r": (("h", "MK"), (0, "h", "ATGAAA"))}), end="")
    """)
    first_line, *rest = completed.stdout.splitlines()
    assert first_line.startswith("ImportError:")
    assert "only be initialised once per interpreter process" in first_line
    assert rest == ["r", "ATGAAA"]


def make_abort_and_reraise():
    ntpepmap.pepthread("f", 1, seqs_that_shrink_while_converted())


def test_panic_exception_class(make_abort):
    caught = make_abort()
    panic = type(caught)
    assert panic.__name__ == "PanicException"
    assert panic.__qualname__ == "PanicException"
    assert panic.__module__ == "natbind_runtime"
    assert panic.__bases__ == (BaseException,)
    assert not issubclass(panic, Exception)
    with pytest.raises(panic):
        try:
            make_abort_and_reraise()
        except Exception:  # noqa: BLE001 - the point: this must not catch it
            pytest.fail("PanicException was caught as an Exception")
    assert "BaseException" in panic.__doc__ and "SystemExit" in panic.__doc__
    assert caught.args == ("dictionary changed size during iteration",)
    assert str(caught) == "dictionary changed size during iteration"
    assert type(make_abort()) is panic, "the class is created once and kept"


def test_panic_exception_is_created_on_first_abort_only(run_python):
    completed = run_python(PANIC_SNIPPET_HEAD + """
def panics():
    return [c for c in BaseException.__subclasses__() if c.__name__ == "PanicException"]
print(len(panics()))
ntpepmap.pepthread("f", 1, {})
print(len(panics()))
try:
    ntpepmap.pepthread("f", 1, seqs)
except BaseException as error:
    print(len(panics()), type(error) is panics()[0])
""")
    assert completed.stdout.split() == ["0", "0", "1", "True"]


def _seqs_swapping_keys() -> dict:
    """Removes one entry and adds another while converting: same size, one entry too many."""
    seqs: dict = {}

    def swap():
        del seqs["a"]
        seqs["c"] = numbered_record("h", "M", "h", "ATG")

    seqs["a"] = (("h", "M"), (MutatingIndex(swap), "h", "ATG"))
    seqs["b"] = numbered_record("h", "M", "h", "ATG")
    return seqs


def _seqs_growing() -> dict:
    seqs: dict = {}
    seqs["a"] = (("h", "M"), (MutatingIndex(lambda: seqs.update(z=None)), "h", "ATG"))
    return seqs


class _GrowingCodons:
    def __init__(self, table):
        self.table = table

    def __len__(self):
        return 1

    def __getitem__(self, index):
        if index == 0:
            self.table["K"] = ["AAA"]
            return "ATG"
        raise IndexError(index)


def _gene_table_growing() -> dict:
    table: dict = {}
    table["M"] = _GrowingCodons(table)
    return table


@pytest.mark.parametrize("invoke, message", [
    pytest.param(lambda: ntpepmap.pepthread("f", 1, seqs_that_shrink_while_converted()),
                 "dictionary changed size during iteration", id="seqs-shrinks"),
    pytest.param(lambda: ntpepmap.pepthread("f", 1, _seqs_growing()),
                 "dictionary changed size during iteration", id="seqs-grows"),
    pytest.param(lambda: ntpepmap.pepthread("f", 1, _seqs_swapping_keys()),
                 "dictionary keys changed during iteration", id="seqs-keys-swapped"),
    pytest.param(lambda: ntpepmap.pepthread_original_args("f", _gene_table_growing(), {}),
                 "dictionary changed size during iteration", id="gene-table-grows"),
])
def test_dict_mutation_during_conversion_aborts(invoke, message, capfd):
    with pytest.raises(BaseException) as caught:
        invoke()
    assert type(caught.value).__name__ == "PanicException"
    assert str(caught.value) == message
    out, err = capfd.readouterr()
    assert out == ""
    assert re.search(r"ntpepmap: .*\.(hpp|cpp):\d+: " + re.escape(message), err)


def test_module_stays_usable_after_an_abort(make_abort):
    make_abort()
    assert ntpepmap.pepthread("f", 1, {"r": numbered_record("h", "MK", "h", "ATGAAA")}) == "r\nATGAAA\n"
    assert ntpepmap.attempt_iupac_substitution("RRA", ["GGA"]) == "GGA"
    make_abort()
    assert ntpepmap.pepthread_original_args("f", {"M": ["ATG"]}, {"r": plain_record("h", "M", "h", "ATG")}) \
        == "r\nATG\n"


def test_failed_report_write_aborts_with_the_system_error(run_python):
    completed = run_python("""
        import os, sys, ntpepmap
        os.close(1)
        try:
            ntpepmap.pepthread("f", 1, {"r": (("h", "MK"), (0, "other", "ATGAAA"))})
        except BaseException as error:
            sys.stderr.write("\\ncaught " + type(error).__name__ + ": " + str(error) + "\\n")
    """)
    last_line = completed.stderr.splitlines()[-1]
    assert last_line == "caught PanicException: failed printing to stdout: Bad file descriptor"
    assert "ntpepmap: native code aborted at" in completed.stderr
