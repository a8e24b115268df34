"""Inputs the tool must refuse, or survive, in one clear line: one table of cases per rule,
real files and real processes."""

from __future__ import annotations

import bz2
import gzip
import lzma
import os
import re
import resource
import subprocess
import sys

import pytest

from helpers import PROTEINS, cds_of, cli_command, fasta_text, run_cli, search_path, under_address_sanitizer

CDS = {name: cds_of(row) for name, row in PROTEINS.items()}


def locus(tmp_path, pep: str, cds: str):
    (tmp_path / "p.fa").write_text(pep)
    (tmp_path / "c.fa").write_text(cds)
    return tmp_path / "p.fa", tmp_path / "c.fa"


def one_error(done, status: int, pattern: str) -> None:
    lines = done.stderr.splitlines()
    assert done.returncode == status and len(lines) >= 1, done.stderr
    assert re.search(pattern, lines[-1] if status == 2 else done.stderr), done.stderr


@pytest.mark.parametrize("pep, status, told", [
    (">a\nMKWLFS\n>b\nMKWLFSE\n>c\nMKWLFSEP\n", 2,
     r"p\.fa: does not look aligned \(rows of 6-8 residues, no gaps\); align it first$"),
    (">a\nMKW-LFS\n>b\nMKW-LFSE\n", 1, r"a: protein row of 7 columns padded with 1"),
])
def test_unaligned_files_are_refused_ragged_ones_padded(tmp_path, pep, status, told):
    cds = fasta_text({"a": cds_of("MKWLFS"), "b": cds_of("MKWLFSE"), "c": cds_of("MKWLFSEP")})
    done = run_cli(*locus(tmp_path, pep, cds))
    one_error(done, status, told)


@pytest.mark.parametrize("cds, args, status, told", [
    ({n: c for n, c in CDS.items() if n != "beta"}, [], 1,
     r"beta: left out, no CDS record: missing from the CDS file\(s\)\n"),
    ({**{n: c for n, c in CDS.items() if n != "beta"}, "zeta": CDS["beta"]}, [], 1,
     r"beta: left out, no CDS record: unpaired here: zeta; pair them with --id-map"),
    ({n: c for n, c in CDS.items() if n != "beta"}, ["--strict"], 2,
     r"no CDS for 1 aligned record\(s\) .*: beta; missing from the CDS file\(s\)$"),
    ({f"x{n}": c for n, c in CDS.items()}, [], 2, r"no identifier of \S+ is in this file"),
])
def test_a_missing_cds_costs_its_taxon(tmp_path, cds, args, status, told):
    done = run_cli(*locus(tmp_path, fasta_text(PROTEINS), fasta_text(cds)), *args)
    one_error(done, status, told)
    if status == 1:
        assert ">beta" not in done.stdout and done.stdout.count(">") == 3


def run_limited(args: list, address_space: int) -> subprocess.CompletedProcess:
    """The command with its address space bounded, as `ulimit -v` bounds it."""
    def limit() -> None:
        resource.setrlimit(resource.RLIMIT_AS, (address_space, address_space))
    env = dict(os.environ, PYTHONPATH=search_path())
    return subprocess.run(args, capture_output=True, text=True, env=env, timeout=120,
                          preexec_fn=limit)


def bomb(path, opener) -> None:
    """A small file whose streams (members) of one letter inflate to 160 MiB."""
    with open(path, "wb") as out:
        out.write(opener(b">a\n"))
        stream = opener(b"A" * (4 << 20))
        for _ in range(40):
            out.write(stream)


API = "from ntpepmap_cli import codon_align; codon_align(*sys.argv[1:])"


@pytest.mark.parametrize("make, command, told", [
    (lambda p: bomb(p, gzip.compress), [], r"c\.fa: decompresses to more than 128 MiB, .*; decompress it first"),
    (lambda p: bomb(p, bz2.compress), [], r"c\.fa: decompresses to more than 128 MiB"),
    (lambda p: bomb(p, lzma.compress), [], r"c\.fa: decompresses to more than 128 MiB"),
    (lambda p: p.write_bytes(b">a\n" + b"ACGT" * (75 << 20)), [],
     r"c\.fa: out of memory reading it; free memory or give the run more"),
    (lambda p: p.write_bytes(b">a\n" + b"ACGT" * (75 << 20)), [sys.executable, "-c", "import sys; " + API],
     r"MemoryError: \S*c\.fa: out of memory reading it$"),
])
@pytest.mark.skipif(under_address_sanitizer(), reason="ASan's shadow memory takes more address space "
                                                      "than any bound of it leaves")
def test_memory_runs_out_in_one_line(tmp_path, make, command, told):
    make(tmp_path / "c.fa")
    (tmp_path / "p.fa").write_text(">a\nMK\n")
    done = run_limited([*(command or cli_command()), tmp_path / "p.fa", tmp_path / "c.fa"], 512 << 20)
    if not command:
        assert done.returncode == 2 and len(done.stderr.splitlines()) == 1, done.stderr
    assert re.search(told, done.stderr.strip()), done.stderr


@pytest.mark.parametrize("pattern, status, told", [
    (r"(a+)+$", 2, r"no identifier of .* tried the pattern"),  # exponential in Python's re
    (r"(\w+)\1", 2, r"--id-pattern: the pattern .* is not one RE2 takes"),
    (r"^(\w+)", 0, r"1 record written"),
])
def test_id_pattern_matches_in_linear_time(tmp_path, pattern, status, told):
    name = "a" * 30 + "!"
    paths = locus(tmp_path, f">{name}\nMK\n", f">{name}\nATGAAG\n")
    done = run_cli(*paths, "--id-pattern", pattern)  # a backtracking match would outlast its timeout
    one_error(done, status, told)


@pytest.mark.parametrize("args", [["--wrap", str(2 ** 63)], ["--threads", str(2 ** 64)],
                                  ["--wrap", "-1"], ["--threads", "1025"]])
def test_integer_options_are_range_checked(tmp_path, args):
    done = run_cli(*locus(tmp_path, ">a\nMK\n", ">a\nATGAAG\n"), *args)
    one_error(done, 2, rf"argument {args[0]}: must be 0 to \d+, not {args[1]}$")


@pytest.mark.parametrize("pep, cds, told", [
    (">a\nMK\0W\n", ">a\nATGAAGTGG\n", r"p\.fa: line 2, record 1 \(a\): a control byte \(\\x00\) at column 3"),
    (">a\nMKW\n", ">a\nATGAA\x1bGTGG\n", r"c\.fa: line 2, record 1 \(a\): a control byte \(\\x1b\) at column 6"),
    ("CLUSTAL W\n\na    MK\x7fW\n", ">a\nATGAAGTGG\n", r"p\.fa: line 3, record 1 \(a\): a control byte \(\\x7f\) at column 8"),
    (">a\x1b[31m\nMKW\n>b\nMKW\n", ">b\nATGAAGTGG\n", r"a\\x1b\[31m: left out, no CDS record"),
])
def test_control_bytes_are_refused_and_never_echoed(tmp_path, pep, cds, told):
    done = run_cli(*locus(tmp_path, pep, cds))
    assert re.search(told, done.stderr) and not re.search("[\0-\x09\x0b-\x1f\x7f]", done.stderr), done.stderr


def test_control_byte_in_a_long_gzip_record(tmp_path):
    """A record longer than a block of inflated text is read in pieces: checked the same."""
    (tmp_path / "c.fa").write_bytes(gzip.compress(b">a\n" + b"ACGT" * (1 << 18) + b"\x01\n"))
    (tmp_path / "p.fa").write_text(">a\nMK\n")
    done = run_cli(tmp_path / "p.fa", tmp_path / "c.fa")
    one_error(done, 2, rf"c\.fa: line 2, record 1 \(a\): a control byte \(\\x01\) at column {4 * (1 << 18) + 1};")
