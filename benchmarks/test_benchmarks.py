"""Checks that the benchmark data mean what they claim, so that a figure is
never measured on output nobody verified.

    PYTHONPATH=build/bench:python python -m pytest benchmarks -q
"""
import itertools
import sys
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parent))

import bench_end_to_end  # noqa: E402
import generate  # noqa: E402
import naive  # noqa: E402


def translate(dna: str, code: dict[str, str]) -> str:
    return "".join(code[dna[i:i + 3]] for i in range(0, len(dna), 3))


def resolutions(triplet: str) -> list[str]:
    options = [generate.IUPAC.get(base, base) for base in triplet]
    return ["".join(bases) for bases in itertools.product(*options)]


@pytest.mark.parametrize("table", [1, 2, 6, 12, 23, 30])
def test_clean_records_thread_their_own_cds(table):
    code = dict(zip(generate.CODONS, generate.genetic_code(table)))
    for record in generate.generate(30, 200, seed=table, table=table):
        assert len(record.protein_row) == 200
        assert len(record.expected_row) == 3 * len(record.protein_row)
        assert record.expected_row.replace("-", "") == record.cds
        assert translate(record.cds, code) == record.protein_row.replace("-", "")
        assert "*" not in record.protein_row and not record.reported


@pytest.mark.parametrize("table", [1, 2, 23, 30])
def test_ambiguous_codons_keep_their_residue(table):
    code = dict(zip(generate.CODONS, generate.genetic_code(table)))
    records = generate.generate(40, 300, seed=5, table=table, ambiguous_fraction=0.05)
    ambiguous = 0
    for record in records:
        residues = record.protein_row.replace("-", "")
        for index, residue in enumerate(residues):
            triplet = record.cds[3 * index:3 * index + 3]
            if triplet in code:
                continue
            ambiguous += 1
            assert {code[c] for c in resolutions(triplet)} == {residue}
    assert ambiguous == pytest.approx(0.05 * sum(
        len(r.protein_row.replace("-", "")) for r in records), rel=0.15)


@pytest.mark.parametrize("triplet, residue, threaded", [
    ("CTR", "L", "CTA"),  # first codon of L's list among CTA, CTG
    ("CTW", "L", "CTT"),  # CTT precedes CTA in TCAG order
    ("AGR", "R", "AGA"),
    ("GCN", "A", "GCN"),  # N is taken over as it stands
])
def test_threaded_codon_of_an_ambiguous_triplet(triplet, residue, threaded):
    assert generate.threaded_codon(triplet, generate.codon_lists(1)[residue]) == threaded


def test_mismatched_and_stop_records_are_marked_and_shortened():
    code = dict(zip(generate.CODONS, generate.genetic_code(1)))
    records = generate.generate(200, 100, seed=3, mismatch_fraction=0.3, stop_fraction=0.2)
    for record in records:
        residues = len(record.protein_row.replace("-", ""))
        stop = len(record.cds) == 3 * residues + 3
        mismatch = translate(record.cds[:3 * residues], code) != record.protein_row.replace("-", "")
        assert record.reported == (stop or mismatch)
        assert len(record.expected_row) == 3 * len(record.protein_row) - 3 * mismatch
        if stop:
            assert code[record.cds[-3:]] == "*"
    assert 0.2 < sum(r.reported for r in records) / len(records) < 0.6


def test_derived_mismatches_change_one_codon_of_clean_records_only():
    code = dict(zip(generate.CODONS, generate.genetic_code(1)))
    clean = generate.generate(100, 120, seed=6, stop_fraction=0.1)
    derived = generate.with_mismatches(clean, 0.5, seed=6)
    changed = 0
    for before, after in zip(clean, derived):
        assert (before.name, before.protein_row) == (after.name, after.protein_row)
        if before == after:
            continue
        changed += 1
        assert not before.reported and after.reported
        differing = [i for i in range(0, len(before.cds), 3)
                     if before.cds[i:i + 3] != after.cds[i:i + 3]]
        assert len(differing) == 1
        site = differing[0]
        assert code[after.cds[site:site + 3]] not in (code[before.cds[site:site + 3]], "*")
        assert len(after.expected_row) == len(before.expected_row) - 3
    assert 30 < changed < 70


def test_same_seed_same_data_other_seed_other_data():
    first, again = (generate.generate(5, 100, seed=9, ambiguous_fraction=0.1) for _ in range(2))
    assert first == again
    assert generate.generate(5, 100, seed=10) != first


@pytest.mark.parametrize("threader", [naive.thread_naive, naive.thread_by_runs])
def test_pure_python_threaders_match_the_expected_output(threader):
    records = generate.generate(20, 150, seed=2)
    assert threader("x", 1, generate.as_seqs(records)) == generate.expected_output(records)


def test_fasta_files_read_back_as_generated(tmp_path):
    records = generate.generate(7, 90, seed=4)
    paths = generate.write_fasta_set(records, tmp_path, wrap=60)
    assert bench_end_to_end.read_fasta(paths["protein"]) == {
        r.name: r.protein_row for r in records}
    expected = {r.name: r.expected_row for r in records}
    assert bench_end_to_end.compare(paths["expected"], expected) == ""
    expected[records[0].name] = "A" + expected[records[0].name][1:]
    del expected[records[1].name]
    assert bench_end_to_end.compare(paths["expected"], expected) == "1 wrong, 1 unexpected"


@pytest.mark.parametrize("options, derived_mismatches", [
    ({}, 0),
    ({"ambiguous_fraction": 0.05}, 0),
    ({"mismatch_fraction": 0.3, "ambiguous_fraction": 0.02}, 0),
    ({"ambiguous_fraction": 0.02}, 0.3),
])
def test_pepthread_returns_the_expected_alignment(options, derived_mismatches, capfd):
    ntpepmap = pytest.importorskip("ntpepmap")
    records = generate.generate(60, 120, seed=8, **options)
    if derived_mismatches:
        records = generate.with_mismatches(records, derived_mismatches, seed=8)
    assert ntpepmap.pepthread("bench", 1, generate.as_seqs(records)) == \
        generate.expected_output(records)
    printed = capfd.readouterr().out
    assert printed.count("===ERROR CAUGHT IN FILE bench AND HEADER ") == \
        sum(r.reported for r in records)
