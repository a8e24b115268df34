"""codon_align: the command's alignment and problems, from files, dicts and Biopython records."""

from __future__ import annotations

import gzip
import os
import re
import subprocess
import sys
from pathlib import Path

import pytest
from helpers import CODON, fasta_text, run_cli, search_path, write_fasta

from ntpepmap_cli import InputError, codon_align
from ntpepmap_cli.result import problems

PROTEINS = {"alpha": "MK-LW", "beta": "MKRLW", "gamma": "MK-LF"}
CDS = {"gamma": "ATGAAACTGTTTTAA", "alpha": "ATGAAGCTTTGG", "beta": "ATGAAAAGACTGTTC"}  # TTC: F
FIELDS = ("record", "column", "residue_number", "residue", "triplet", "kind", "action")


def seq_records(pairs) -> list:
    from Bio.Seq import Seq
    from Bio.SeqRecord import SeqRecord

    return [SeqRecord(Seq(seq), id=name) for name, seq in pairs]


def fields(found) -> list[tuple]:
    return [tuple(getattr(problem, name) for name in FIELDS) for problem in found]


@pytest.mark.parametrize("cds", [CDS, {name: CDS[name] for name in ("alpha", "gamma")}])
def test_files_give_what_the_command_writes_tells_and_refuses(tmp_path, cds):
    pep = write_fasta(tmp_path / "pep.fa", PROTEINS)
    cds_file = write_fasta(tmp_path / "cds.fa", cds)
    done = run_cli(pep, cds_file)
    try:
        alignment = codon_align(str(pep), str(cds_file))
    except InputError as error:  # the same words, options named as keywords
        told = done.stderr.replace("--id-map", "id_map=").replace("--id-pattern", "id_pattern=")
        assert told == f"ntpepmap: error: {error}\n"
        return
    assert fasta_text(list(alignment)) == done.stdout
    told = [f"ntpepmap: {problem}" for problem in alignment.problems]
    assert told == done.stderr.splitlines()[:-1]


def biopython_inputs(tmp_path):
    from Bio.Align import MultipleSeqAlignment

    return MultipleSeqAlignment(seq_records(PROTEINS.items())), iter(seq_records(CDS.items()))


def annotated_cds(tmp_path: Path) -> Path:
    """The CDS as NCBI names them, and a gene of no protein."""
    records = {f"lcl|NC_9.1_cds_{name}_{n} [protein_id={name}]": seq
               for n, (name, seq) in enumerate(CDS.items())}
    return write_fasta(tmp_path / "cds_from_genomic.fna", {**records, "lcl|x_cds_y_9": "ATG"})


def bio(module: str):
    return pytest.importorskip(f"Bio.{module}")


INPUTS = {
    "dicts": lambda tmp_path: (PROTEINS, CDS),
    "gzip paths": lambda tmp_path: (write_fasta(tmp_path / "p.fa.gz", PROTEINS, opener=gzip.open),
                                    write_fasta(tmp_path / "c.fa.gz", CDS, opener=gzip.open)),
    "open gzip files": lambda tmp_path: (open(write_fasta(tmp_path / "p.fa.gz", PROTEINS, opener=gzip.open), "rb"),
                                         open(write_fasta(tmp_path / "c.fa.gz", CDS, opener=gzip.open), "rb")),
    "biopython": biopython_inputs,
    "file and records": lambda tmp_path: (str(write_fasta(tmp_path / "p.fa", PROTEINS)),
                                          seq_records(CDS.items())),
    "open files": lambda tmp_path: (open(write_fasta(tmp_path / "p.fa", PROTEINS)),
                                    open(annotated_cds(tmp_path), "rb")),
    "Alignment, SeqIO.index": lambda tmp_path: (
        bio("Align").read(write_fasta(tmp_path / "p.fa", PROTEINS), "fasta"),
        bio("SeqIO").index(str(annotated_cds(tmp_path)), "fasta")),
    "AlignIO, SeqIO.parse": lambda tmp_path: (
        bio("AlignIO").read(write_fasta(tmp_path / "p.fa", PROTEINS), "fasta"),
        bio("SeqIO").parse(annotated_cds(tmp_path), "fasta")),
    "dict of Seq, SeqIO.to_dict": lambda tmp_path: (
        {name: bio("Seq").Seq(row) for name, row in PROTEINS.items()},
        bio("SeqIO").to_dict(bio("SeqIO").parse(write_fasta(tmp_path / "c.fa", CDS), "fasta"))),
}


@pytest.mark.parametrize("kind", INPUTS)
def test_every_kind_of_input_aligns_as_files_do(tmp_path, kind):
    expected = codon_align(write_fasta(tmp_path / "pep", PROTEINS),
                           write_fasta(tmp_path / "cds", CDS))
    alignment = codon_align(*INPUTS[kind](tmp_path))
    assert list(alignment) == list(expected)
    assert fields(alignment.problems) == fields(expected.problems)
    nexus = tmp_path / "codons.nex"
    bio("AlignIO").write(alignment.to_biopython(), nexus, "nexus")
    assert [(r.id, str(r.seq)) for r in bio("AlignIO").read(nexus, "nexus")] == list(expected)


W_AT = PROTEINS["beta"].index("W")


# A change to beta's protein row or CDS, options, and what becomes of beta.
@pytest.mark.parametrize("row, cds, options, kind, action, written", [
    (None, None, {"mismatch": "mask"}, problems.MISMATCH, "masked", True),
    (None, None, {"mismatch": "keep"}, problems.MISMATCH, "kept", True),
    (None, None, {"mismatch": "drop"}, problems.MISMATCH, "left out", False),
    ("MKRL", CDS["beta"][:-3], {}, problems.ROW_TOO_SHORT, "padded", True),
    (None, CDS["beta"][:9], {}, problems.CDS_TOO_SHORT, "left out", False),
    (None, "CCC" * 5, {"locate": False}, problems.WRONG_PAIRING, "left out", False),
    (None, CDS["beta"].replace("TTC", "TGG") + "AC", {"locate": False}, problems.CDS_TOO_LONG,
     "trimmed", True),
    (None, "GGCA" + CDS["beta"].replace("TTC", "TGG") + "TAGCCAAAAAA", {}, problems.CODING_REGION,
     problems.LOCATED, True),
])
def test_problems_say_where_what_and_what_was_done(row, cds, options, kind, action, written):
    proteins = dict(PROTEINS, beta=row or PROTEINS["beta"])
    coding = dict(CDS, beta=cds or CDS["beta"])
    alignment = codon_align(proteins, coding, **options)
    (problem,) = alignment.problems
    assert (problem.record, problem.kind, problem.action) == ("beta", kind, action)
    assert ("beta" in alignment.as_dict()) == written and ": beta: " in problem.message
    assert alignment.counts["written"] == len(alignment) and alignment.fate.startswith("written")
    if kind == problems.MISMATCH:
        assert (problem.column, problem.residue_number, problem.residue, problem.triplet) == (
            W_AT + 1, W_AT + 1, "W", CDS["beta"][3 * W_AT:3 * W_AT + 3])
    if not written:  # alone, it leaves nothing to write: refused, saying why
        with pytest.raises(InputError, match="every record was left out") as refused:
            codon_align({"beta": proteins["beta"]}, {"beta": coding["beta"]}, **options)
        assert fields(refused.value.problems) == fields(alignment.problems)


def test_repeated_identifiers_are_kept_in_order_and_refused_by_as_dict(monkeypatch):
    proteins = seq_records([("a", "MK"), ("b", "M-"), ("a", "-K")])
    alignment = codon_align(proteins, seq_records([("a", "ATGAAA"), ("b", "ATG"), ("a", "AAG")]))
    assert list(alignment) == [("a", "ATGAAA"), ("b", "ATG---"), ("a", "---AAG")]
    assert [(record.id, str(record.seq)) for record in alignment.to_biopython()] == list(alignment)
    with pytest.raises(ValueError, match="repeated identifiers: a"):
        alignment.as_dict()
    monkeypatch.setitem(sys.modules, "Bio.Align", None)  # as if Biopython were not installed
    with pytest.raises(ImportError, match="pip install biopython"):
        alignment.to_biopython()


@pytest.mark.parametrize("protein, cds, options, error, message", [
    (PROTEINS, CDS, {"table": 7}, ValueError, "table 7 is not a genetic code"),
    (PROTEINS, CDS, {"mismatch": "ignore"}, ValueError, "mismatch must be one of"),
    (PROTEINS, CDS, {"upper_case": "yes"}, TypeError, "upper_case must be True or False"),
    (PROTEINS, CDS, {"pair_by_order": True, "id_map": {}}, ValueError, "not both"),
    (42, CDS, {}, TypeError, "protein must be a path, a dict"),
    (PROTEINS, {"alpha": b"ATG"}, {}, TypeError, "cds: sequences must be str"),
    (PROTEINS, [("alpha", "ATG")], {}, TypeError, "found a tuple among the records"),
    (PROTEINS, CDS, {"id_pattern": "(a)(b)"}, ValueError, "exactly one capture group, not 2"),
    (PROTEINS, CDS, {"id_pattern": "x", "pair_by_order": True}, ValueError,
     "give pair_by_order or id_pattern, not both"),
    ({"a": "MK"}, {"b": "ATGAAG"}, {}, InputError,
     r"pair them with id_map= or id_pattern=, or, if .* with pair_by_order=True$"),
])
def test_wrong_arguments_raise_type_or_value_errors(protein, cds, options, error, message):
    with pytest.raises(error, match=message):
        codon_align(protein, cds, **options)


def test_input_errors_name_keywords_not_options():
    with pytest.raises(InputError, match=r"same order, with pair_by_order=True$"):
        codon_align({"human": "MK"}, {"dog": "ATGAAA"})


def test_readme_example_prints_what_it_says_and_nothing_else_without_biopython(tmp_path):
    readme = (Path(__file__).resolve().parent.parent / "README.md").read_text()
    code = re.search(r"## From Python.*?```python\n(.*?)```", readme, re.S).group(1)
    said = [line[2:].removesuffix("...") for line in code.splitlines() if line.startswith("# ")]
    done = subprocess.run([sys.executable, "-c", "import sys\nsys.modules['Bio'] = None\n" + code],
                          capture_output=True, text=True, timeout=120, cwd=tmp_path,
                          env=dict(os.environ, PYTHONPATH=search_path()))
    assert (done.returncode, done.stderr) == (0, "")
    printed = done.stdout.splitlines()  # also what reaches file descriptor 1 from native code
    assert len(printed) == len(said) and all(map(str.startswith, printed, said))


LONG = "MKWLFSEDPK" * 4  # long enough for a frameshift to be threaded


# What the output lacks of the CDS given is counted, in the summary line and in the API's counts.
@pytest.mark.parametrize("row, cds, count, told", [
    ("MKW", "ATGAAGTGGTAA", ("stops_trimmed", 1), "; 1 final stop codon dropped"),
    ("MKW", "ATG-AAG--TGG", ("cds_gaps", 3), "; 3 gaps taken out of the CDS"),
    (LONG, "".join(CODON[aa] for aa in LONG[:20]) + "A" + "".join(CODON[aa] for aa in LONG[20:]),
     ("masked", 2), ", 2 codons masked"),  # the broken codon, and one after it left in doubt
])
def test_what_the_output_lacks_is_counted(tmp_path, row, cds, count, told):
    alignment = codon_align({"a": row, "b": row}, {"a": cds, "b": "".join(CODON[aa] for aa in row)})
    key, number = count
    assert alignment.counts[key] == number
    done = run_cli(write_fasta(tmp_path / "p.fa", {"a": row, "b": row}),
                   write_fasta(tmp_path / "c.fa", {"a": cds, "b": "".join(CODON[aa] for aa in row)}))
    assert told in done.stderr.splitlines()[-1] and done.returncode == 0, done.stderr
