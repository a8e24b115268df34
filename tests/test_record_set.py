"""A locus's records held natively: Python pairs identifiers, and touches the letters only
where it must."""

from __future__ import annotations

import subprocess
import sys

import pytest
from helpers import REPO

from ntpepmap_cli._native import RecordSet

# A locus run in a process of its own: a small one first, so that the modules imported
# lazily are imported, then the measured one, its calls into the extension and the peak
# of Python's own allocations counted.
MEASURED_RUN = """
import sys, tracemalloc
from ntpepmap_cli import _native
from ntpepmap_cli.command.main import main
pep, cds, out, small_pep, small_cds = sys.argv[1:]
main([small_pep, small_cds, "-o", out, "-q"])
calls = []
def profile(frame, event, function):
    if event == "c_call" and getattr(function, "__module__", None) == _native.__name__:
        calls.append(function.__name__)
tracemalloc.start()
sys.setprofile(profile)
status = main([pep, cds, "-o", out, "-q"])
sys.setprofile(None)
print(status, tracemalloc.get_traced_memory()[1], *calls)
"""


def test_a_locus_takes_three_calls_and_little_python_memory(tmp_path):
    # files of a megabyte and more are mapped, not read into Python objects (seqio)
    data = tmp_path / "locus"
    subprocess.run([sys.executable, str(REPO / "benchmarks" / "generate.py"), "1500x1000", str(data)],
                   check=True, capture_output=True)
    pep, cds, out = data / "protein.fasta", data / "cds.fasta", tmp_path / "out.fasta"
    small = REPO / "examples" / "single"
    run = subprocess.run([sys.executable, "-c", MEASURED_RUN, str(pep), str(cds), str(out),
                          str(small / "protein_aln.fasta"), str(small / "cds.fasta")],
                         check=True, capture_output=True, text=True)
    status, peak, *calls = run.stdout.split()
    assert (status, calls) == ("0", ["read_records", "read_records", "translate_locus"])
    input_bytes = pep.stat().st_size + cds.stat().st_size
    assert int(peak) < 0.1 * input_bytes
    assert out.read_bytes() == (data / "expected.fasta").read_bytes()


LONG = "ACGT" * 100
RECORDS = [("a", "MK-W"), ("é", "ÀÉ-x"), ("b", ""), ("a", LONG)]


@pytest.mark.parametrize("headers", [None, ["a one", "é deux", "b", "a again"]])
def test_a_set_made_of_python_records_gives_them_back(headers):
    made = RecordSet.from_records(RECORDS, headers)
    assert made.records() == RECORDS
    assert made.identifiers() == [ident for ident, _ in RECORDS]
    assert made.identifiers(2) == ["b", "a"] and made.identifiers(4) == []
    assert made.headers() == (headers or made.identifiers())
    assert made.max_width() == 400
    assert [made.sequence(1, 2), made.sequence(1, 0), made.sequence(1, 9), made.sequence(3, 5),
            made.sequence(2, 9)] == ["ÀÉ", "", "ÀÉ-x", "ACGTA", ""]
    assert made.marked is None and made.kept is None and made.format == "fasta"
    with pytest.raises(IndexError):
        made.sequence(4)
