"""Runs the self-checking native programs of the C++ core."""

import pytest

from native_tools import run_native_check


@pytest.mark.parametrize("program", ["check_hints", "check_iupac", "check_locate", "check_locus", "check_reader",
                                     "check_gzip_reading", "check_record_set"])
def test_native_check_passes(program):
    result = run_native_check(program)
    assert result.returncode == 0, result.stdout + result.stderr
