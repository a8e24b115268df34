"""codon_align: the command's alignment and problems, from files, dicts and Biopython records."""

from __future__ import annotations

import gzip
import re
import subprocess
import sys
from pathlib import Path

import pytest
from test_cli import run_cli, search_path

from ntpepmap_cli import InputError, codon_align, problems

README = Path(__file__).resolve().parent.parent / "README.md"
PROTEINS = {"alpha": "MK-LW", "beta": "MKRLW", "gamma": "MK-LF"}
CDS = {"gamma": "ATGAAACTGTTTTAA", "alpha": "ATGAAGCTTTGG", "beta": "ATGAAAAGACTGTTC"}  # TTC: F
FIELDS = ("record", "column", "residue_number", "residue", "triplet", "kind", "action")


def write_fasta(path: Path, records: dict[str, str], opener=open) -> Path:
    with opener(path, "wt") as out:
        out.write("".join(f">{name}\n{seq}\n" for name, seq in records.items()))
    return path


def seq_records(records: dict[str, str]) -> list:
    from Bio.Seq import Seq
    from Bio.SeqRecord import SeqRecord

    return [SeqRecord(Seq(seq), id=name) for name, seq in records.items()]


def fields(alignment) -> list[tuple]:
    return [tuple(getattr(problem, name) for name in FIELDS) for problem in alignment.problems]


@pytest.fixture
def files(tmp_path):
    return write_fasta(tmp_path / "pep.fa", PROTEINS), write_fasta(tmp_path / "cds.fa", CDS)


def test_files_give_what_the_command_writes_and_tells(files):
    done = run_cli(*files)
    alignment = codon_align(*map(str, files))
    assert done.returncode == 1
    assert "".join(f">{name}\n{row}\n" for name, row in alignment) == done.stdout
    assert [f"ntpepmap: {problem}" for problem in alignment.problems] == done.stderr.splitlines()[:-1]


def biopython_inputs(tmp_path):
    from Bio.Align import MultipleSeqAlignment

    return MultipleSeqAlignment(seq_records(PROTEINS)), iter(seq_records(CDS))


INPUTS = {
    "dicts": lambda tmp_path: (PROTEINS, CDS),
    "path objects": lambda tmp_path: (write_fasta(tmp_path / "p.fa", PROTEINS),
                                      write_fasta(tmp_path / "c.fa", CDS)),
    "gzip": lambda tmp_path: (write_fasta(tmp_path / "p.fa.gz", PROTEINS, gzip.open),
                              write_fasta(tmp_path / "c.fa.gz", CDS, gzip.open)),
    "biopython": biopython_inputs,
    "file and records": lambda tmp_path: (str(write_fasta(tmp_path / "p.fa", PROTEINS)),
                                          seq_records(CDS)),
}


@pytest.mark.parametrize("kind", INPUTS)
def test_every_kind_of_input_aligns_as_the_files_do(files, tmp_path, kind):
    expected = codon_align(*files)
    alignment = codon_align(*INPUTS[kind](tmp_path))
    assert list(alignment) == list(expected) and fields(alignment) == fields(expected)


W_AT = PROTEINS["beta"].index("W")
# A change to beta's protein row or CDS, options, and what becomes of beta.
@pytest.mark.parametrize("row, cds, options, kind, action, written", [
    (None, None, {"mismatch": "mask"}, problems.MISMATCH, "masked", True),
    (None, None, {"mismatch": "keep"}, problems.MISMATCH, "kept", True),
    (None, None, {"mismatch": "drop"}, problems.MISMATCH, "left out", False),
    ("MKRLW"[:-1], CDS["beta"][:-3], {}, problems.ROW_TOO_SHORT, "padded", True),
    (None, CDS["beta"][:9], {}, problems.CDS_TOO_SHORT, "left out", False),
    (None, "CCC" * 5, {"locate": False}, problems.WRONG_PAIRING, "left out", False),
    (None, CDS["beta"].replace("TTC", "TGG") + "AC", {"locate": False}, problems.CDS_TOO_LONG,
     "trimmed", True),
])
def test_problems_say_where_what_and_what_was_done(row, cds, options, kind, action, written):
    proteins = dict(PROTEINS, beta=row or PROTEINS["beta"])
    alignment = codon_align(proteins, dict(CDS, beta=cds or CDS["beta"]), **options)
    (problem,) = alignment.problems
    assert (problem.record, problem.kind, problem.action) == ("beta", kind, action)
    assert ("beta" in alignment.as_dict()) == written
    assert ": beta: " in problem.message
    if kind == problems.MISMATCH:
        assert (problem.column, problem.residue_number, problem.residue, problem.triplet) == (
            W_AT + 1, W_AT + 1, "W", CDS["beta"][3 * W_AT:3 * W_AT + 3])


def test_repeated_identifiers_are_kept_in_order_and_refused_by_as_dict():
    pairs = [("a", "MK"), ("b", "M-"), ("a", "-K")]
    from Bio.Align import MultipleSeqAlignment

    proteins = MultipleSeqAlignment(seq_records(dict(pairs[:2])) + seq_records(dict(pairs[2:])))
    cds = seq_records({"a": "ATGAAA"}) + seq_records({"b": "ATG"}) + seq_records({"a": "AAG"})
    alignment = codon_align(proteins, cds)
    assert [name for name, _ in alignment] == ["a", "b", "a"]
    assert [row for _, row in alignment] == ["ATGAAA", "ATG---", "---AAG"]
    assert [(record.id, str(record.seq)) for record in alignment.to_biopython()] == list(alignment)
    with pytest.raises(ValueError, match="repeated identifiers: a"):
        alignment.as_dict()


@pytest.mark.parametrize("protein, cds, options, error, message", [
    (PROTEINS, CDS, {"table": 7}, ValueError, "table 7 is not a genetic code"),
    (PROTEINS, CDS, {"table": "11"}, TypeError, "table must be an int"),
    (PROTEINS, CDS, {"mismatch": "ignore"}, ValueError, "mismatch must be one of"),
    (PROTEINS, CDS, {"upper_case": "yes"}, TypeError, "upper_case must be True or False"),
    (PROTEINS, CDS, {"pair_by_order": True, "id_map": {}}, ValueError, "not both"),
    (PROTEINS, CDS, {"table": 2, "gene_table": {"M": ["ATG"]}}, ValueError, "not both"),
    (PROTEINS, CDS, {"gene_table": {"M": "ATG"}}, ValueError, "list of codons"),
    (PROTEINS, CDS, {"id_map": 3}, TypeError, "id_map must be a dict"),
    (42, CDS, {}, TypeError, "protein must be a path, a dict"),
    (PROTEINS, {"alpha": b"ATG"}, {}, TypeError, "cds: sequences must be str"),
    (PROTEINS, [("alpha", "ATG")], {}, TypeError, "found a tuple among the records"),
])
def test_wrong_arguments_raise_type_or_value_errors(protein, cds, options, error, message):
    with pytest.raises(error, match=message):
        codon_align(protein, cds, **options)


def test_input_errors_carry_the_command_s_message(tmp_path):
    pep = write_fasta(tmp_path / "pep.fa", PROTEINS)
    cds = write_fasta(tmp_path / "cds.fa", {name: CDS[name] for name in ("alpha", "gamma")})
    with pytest.raises(InputError) as raised:
        codon_align(pep, cds)
    assert run_cli(pep, cds).stderr == f"ntpepmap: error: {raised.value}\n"


def test_nothing_is_printed_and_biopython_is_needed_only_for_its_objects():
    probe = ("import sys\n"
             "sys.modules['Bio'] = None\n"  # as if Biopython were not installed
             "from ntpepmap_cli import codon_align\n"
             f"alignment = codon_align({PROTEINS!r}, {CDS!r}, mismatch='keep')\n"
             "assert alignment.problems\n"
             "try:\n    alignment.to_biopython()\n"
             "except ImportError as error:\n    sys.exit('pip install biopython' not in str(error))\n")
    done = subprocess.run([sys.executable, "-c", probe], capture_output=True, text=True,
                          timeout=120, env={"PYTHONPATH": search_path()})
    assert (done.returncode, done.stdout, done.stderr) == (0, "", "")


def test_readme_example_prints_what_it_says(tmp_path):
    code = re.search(r"## From Python.*?```python\n(.*?)```", README.read_text(), re.S).group(1)
    said = [line[2:] for line in code.splitlines() if line.startswith("# ")]
    done = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True,
                          timeout=120, cwd=tmp_path, env={"PYTHONPATH": search_path()})
    printed = done.stdout.splitlines()
    assert done.returncode == 0, done.stderr
    assert len(printed) == len(said) and all(
        line.startswith(want.removesuffix("...")) for line, want in zip(printed, said))
