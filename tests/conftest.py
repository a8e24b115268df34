"""Shared helpers: isolated interpreters, a reliable way to make the module abort, records."""

from __future__ import annotations

import os
import subprocess
import sys
import textwrap
from pathlib import Path

import pytest

import ntpepmap


class MutatingIndex:
    """An int-like value whose conversion runs `action` once (Python code inside a conversion)."""

    def __init__(self, action, value: int = 0) -> None:
        self.action = action
        self.value = value

    def __index__(self) -> int:
        action, self.action = self.action, None
        if action is not None:
            action()
        return self.value


def numbered_record(aa_header: str, aa_seq: str, nt_header: str, nt_seq: str, number=0):
    """A `seqs` value in the shape pepthread expects."""
    return ((aa_header, aa_seq), (number, nt_header, nt_seq))


def plain_record(aa_header: str, aa_seq: str, nt_header: str, nt_seq: str):
    """A `seqs` value in the shape pepthread_original_args expects."""
    return ((aa_header, aa_seq), (nt_header, nt_seq))


def seqs_that_shrink_while_converted() -> dict:
    """A seqs dict that loses an entry while its first value is converted."""
    seqs: dict = {}
    seqs["first"] = (("h", "M"), (MutatingIndex(lambda: seqs.pop("second")), "h", "ATG"))
    seqs["second"] = numbered_record("h", "M", "h", "ATG")
    return seqs


@pytest.fixture
def make_abort():
    """Returns a callable that makes pepthread abort and returns the raised exception."""

    def run() -> BaseException:
        try:
            ntpepmap.pepthread("f", 1, seqs_that_shrink_while_converted())
        except BaseException as caught:  # noqa: BLE001 - PanicException is a BaseException
            return caught
        raise AssertionError("pepthread did not abort")

    return run


def _module_search_path() -> str:
    module_directory = str(Path(ntpepmap.__file__).resolve().parent)
    inherited = os.environ.get("PYTHONPATH", "")
    return os.pathsep.join(part for part in (module_directory, inherited) if part)


@pytest.fixture
def run_python():
    """Runs a snippet in a fresh interpreter that imports this same build of the module."""

    def run(code: str, check: bool = True) -> subprocess.CompletedProcess:
        environment = dict(os.environ, PYTHONPATH=_module_search_path())
        completed = subprocess.run(
            [sys.executable, "-c", textwrap.dedent(code)],
            capture_output=True, text=True, env=environment, timeout=120,
        )
        if check and completed.returncode != 0:
            raise AssertionError(f"snippet failed ({completed.returncode}):\n{completed.stderr}")
        return completed

    return run
