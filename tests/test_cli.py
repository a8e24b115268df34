"""End-to-end tests of the ntpepmap console script, run as a user runs it."""

from __future__ import annotations

import bz2
import gzip
import json
import os
import re
import shutil
import subprocess
import sys

import pytest

from helpers import (CODON, EXPECTED, PROTEINS, REPO, cds_of, cli_command, codon_row, fasta_text,
                     make_batch_locus, read_fasta, run_cli, search_path, summary_counts, summary_of, write_fasta,
                     read_paml, read_phylip)


@pytest.fixture
def locus(tmp_path):
    """A clean locus: protein alignment, CDS in another order with descriptions and stops."""
    pep = write_fasta(tmp_path / "gene.fasta", PROTEINS)
    cds = {name: cds_of(row) + "TAA" for name, row in reversed(PROTEINS.items())}
    write_fasta(tmp_path / "gene_cds.fasta", cds, description=" some description")
    return pep, tmp_path / "gene_cds.fasta"


def read_clustal(text: str) -> dict[str, str]:
    assert text.startswith("CLUSTAL")
    records: dict[str, str] = {}
    for line in text.splitlines()[1:]:
        if line.strip() and not line[0].isspace():
            name, seq = line.split()
            records[name] = records.get(name, "") + seq
    return records


READERS = {"fasta": read_fasta, "phylip": read_phylip, "paml": read_paml, "clustal": read_clustal}


@pytest.mark.parametrize("out_format, extra", [
    ("fasta", []), ("fasta", ["--wrap", "5"]), ("phylip", []), ("paml", []), ("clustal", [])])
def test_each_output_format_reads_back_to_the_codon_alignment(locus, tmp_path, out_format, extra):
    out = tmp_path / "out.txt"
    done = run_cli(*locus, "--out-format", out_format, *extra, "-o", out)
    assert (done.returncode, done.stdout, len(done.stderr.splitlines())) == (0, "", 1)
    assert summary_of(done.stderr)["written"] == len(PROTEINS)
    records = READERS[out_format](out.read_text())
    assert list(records) == list(PROTEINS)  # order of the protein alignment
    assert records == EXPECTED


@pytest.mark.parametrize("to_file", [True, False])
def test_identifiers_beyond_ascii_are_written_as_utf8(tmp_path, to_file):
    names = {"α-1": "MKW-LF", "Maß": "MK--LF", "plain": "M-WDLF"}
    pep = write_fasta(tmp_path / "pep.fasta", names)
    write_fasta(tmp_path / "cds.fasta", {name: cds_of(row) for name, row in reversed(names.items())},
                opener=lambda path, mode: open(path, mode, encoding="utf-8"))
    out = tmp_path / "out.fasta"
    done = subprocess.run(cli_command() + [str(pep), str(tmp_path / "cds.fasta")]
                          + (["-o", str(out)] if to_file else []), capture_output=True,
                          env=dict(os.environ, PYTHONPATH=search_path()), timeout=120)
    assert done.returncode == 0, done.stderr
    written = out.read_bytes() if to_file else done.stdout
    assert written == fasta_text({name: codon_row(row) for name, row in names.items()}).encode()


@pytest.mark.parametrize("out_format, bio_format", [
    ("phylip", "phylip-relaxed"), ("clustal", "clustal"), ("fasta", "fasta")])
def test_output_is_read_by_biopython(locus, out_format, bio_format):
    align_io = pytest.importorskip("Bio.AlignIO")
    done = run_cli(*locus, "--out-format", out_format)
    from io import StringIO
    alignment = align_io.read(StringIO(done.stdout), bio_format)
    assert {record.id: str(record.seq) for record in alignment} == EXPECTED


def test_wrapped_fasta_lines_have_the_width(locus):
    done = run_cli(*locus, "--wrap", "7")
    widths = {len(line) for line in done.stdout.splitlines() if not line.startswith(">")}
    assert widths <= set(range(1, 8))


def test_standard_input_and_clustal_protein_input(tmp_path, locus):
    _, cds = locus
    width = max(map(len, PROTEINS)) + 4
    blocks = [{name: row[:5] for name, row in PROTEINS.items()},
              {name: row[5:] for name, row in PROTEINS.items()}]
    clustal = "CLUSTAL W (1.83) multiple sequence alignment\n\n" + "".join(
        "\n" + "".join(f"{name.ljust(width)}{part}\n" for name, part in block.items())
        + " " * width + "*" * 5 + "\n" for block in blocks)
    done = run_cli("-", cds, stdin=clustal)
    assert done.returncode == 0, done.stderr
    assert read_fasta(done.stdout) == EXPECTED


def test_pair_by_order_ignores_names(tmp_path):
    pep = write_fasta(tmp_path / "p.fasta", PROTEINS)
    cds = tmp_path / "c.fasta"  # the same name twice: only the order counts
    cds.write_text("".join(f">x\n{cds_of(row)}\n" for row in PROTEINS.values()))
    assert run_cli(pep, cds).returncode == 2
    done = run_cli(pep, cds, "--pair-by-order")
    assert done.returncode == 0 and read_fasta(done.stdout) == EXPECTED


@pytest.mark.parametrize("proteins, cds, message", [
    (PROTEINS, {**{n: cds_of(r) for n, r in PROTEINS.items()}, "extra": "ATGÄ"},
     r"c\.fasta: non-ASCII letters in the CDS: extra$"),
    ({"a": "MK", "b": "MK"}, {"a": "ATGAAG", "b": "MKWLLEEFFPQ"},
     r"c\.fasta: looks like protein.*: b$"),
    ({}, {"a": "ATG"}, r"p\.fasta: empty file$"),
    ({"a": "MK"}, {}, r"c\.fasta: empty file$"),
])
def test_pairing_problems_are_one_line_errors_naming_records(tmp_path, proteins, cds, message):
    pep = write_fasta(tmp_path / "p.fasta", proteins)
    cds_path = write_fasta(tmp_path / "c.fasta", cds)
    done = run_cli(pep, cds_path)
    assert done.returncode == 2 and done.stdout == ""
    assert len(done.stderr.splitlines()) == 1
    assert re.search(message, done.stderr.strip()), done.stderr


@pytest.mark.parametrize("which, counts", [("protein", r"a \(2 in \S+, 1 here\)"),
                                           ("cds", r"b \(1 in \S+, 2 here\)")])
def test_identifiers_repeated_unequally_are_named(tmp_path, which, counts):
    pep_text = ">a\nMK\n>b\nMK\n" + (">a\nMK\n" if which == "protein" else "")
    cds_text = ">a\nATGAAG\n>b\nATGAAG\n" + (">b x\nATGAAA\n" if which == "cds" else "")
    (tmp_path / "p.fa").write_text(pep_text)
    (tmp_path / "c.fa").write_text(cds_text)
    done = run_cli(tmp_path / "p.fa", tmp_path / "c.fa")
    assert done.returncode == 2
    assert re.search(r"c\.fa: identifiers repeated unequally in the two files: " + counts,
                     done.stderr.strip())


@pytest.fixture
def locus_with_mismatch(locus):
    """beta's CDS encodes W where its protein has F (column 6, residue 4)."""
    pep, cds = locus
    text = cds.read_text()
    beta = cds_of(PROTEINS["beta"]) + "TAA"
    cds.write_text(text.replace(beta, beta.replace(CODON["F"], CODON["W"])))
    return pep, cds


@pytest.mark.parametrize("wrap", [[], ["--wrap", "7"]])  # the engine's FASTA text, and rows
@pytest.mark.parametrize("policy, beta_row, counts", [
    ("mask", codon_row("MK--L") + "NNN" + codon_row("SE"), {"masked": 1}),
    ("keep", codon_row("MK--L") + CODON["W"] + codon_row("SE"), {"kept": 1}),
    ("drop", None, {"left_out": 1}),
])
def test_a_mismatched_codon_follows_the_policy(locus_with_mismatch, policy, beta_row, counts, wrap):
    done = run_cli(*locus_with_mismatch, "--mismatch", policy, *wrap)
    assert done.returncode == (1 if policy == "drop" else 0)  # 1: a record is missing
    done_to_it = {"mask": "masked", "keep": "kept", "drop": "record left out"}[policy]
    assert done.stderr.splitlines()[0] == (
        f"ntpepmap: {locus_with_mismatch[0]}: beta: column 6 (residue 4): F does not match TGG "
        f"(W in table 1); {done_to_it}")
    expected = dict(EXPECTED, beta=beta_row) if beta_row else {
        n: r for n, r in EXPECTED.items() if n != "beta"}
    assert read_fasta(done.stdout) == expected
    tally = summary_of(done.stderr)
    assert {key: tally[key] for key in counts} == counts
    assert tally["written"] == len(expected)


def test_quiet_silences_problem_lines_and_report_file_keeps_the_framed_report(
        locus_with_mismatch, tmp_path):
    report = tmp_path / "reports.txt"
    done = run_cli(*locus_with_mismatch, "-q", "--report", report)
    assert done.returncode == 0 and len(done.stderr.splitlines()) == 1
    assert summary_of(done.stderr)["masked"] == 1
    framed = report.read_text()
    assert framed.startswith("\n===ERROR CAUGHT IN FILE gene AND HEADER beta:\n")
    assert "at aa site 5." in framed and framed.count("===ERROR") == 1


def test_strict_writes_nothing(locus_with_mismatch, tmp_path):
    out = tmp_path / "out.fasta"
    done = run_cli(*locus_with_mismatch, "--strict", "-o", out)
    assert done.returncode == 2 and not out.exists()
    assert re.search(r"gene\.fasta: --strict: 1 record\(s\) with problems: beta; nothing written",
                     done.stderr)


def test_wrong_pairing_is_left_out_and_said(locus):
    pep, cds = locus
    gamma, delta = (cds_of(PROTEINS[name]) + "TAA" for name in ("gamma", "delta"))
    cds.write_text(cds.read_text().replace(gamma, "G" * len(gamma)))
    done = run_cli(pep, cds, "--mismatch", "keep")
    assert done.returncode == 1
    assert re.search(r"gamma: 7 of 7 residues do not match their triplets in table 1; the protein "
                     r"has 0 placements in the CDS \(.*\): wrong pairing, not this record's CDS; "
                     r"left out", done.stderr)
    assert "gamma" not in read_fasta(done.stdout) and summary_of(done.stderr)["left_out"] == 1


@pytest.mark.parametrize("keep_short", [False, True])
def test_cds_too_short_is_left_out_unless_keep_short(locus, keep_short):
    pep, cds = locus
    gamma = cds_of(PROTEINS["gamma"]) + "TAA"
    cds.write_text(cds.read_text().replace(gamma, gamma[:9]))
    done = run_cli(pep, cds, *(["--keep-short"] if keep_short else []))
    assert done.returncode == (0 if keep_short else 1)
    assert read_fasta(done.stdout) == dict(EXPECTED, gamma=codon_row("M-WD")) if keep_short \
        else {n: r for n, r in EXPECTED.items() if n != "gamma"}
    if keep_short:
        assert "gamma: CDS of 9 nt runs out at column 5 (residue 4 of 7, 21 nt needed); " \
               "codon row of 12 columns, alignment has 24; written anyway" in done.stderr
        assert run_cli(pep, cds, "--keep-short", "--out-format", "phylip").returncode == 2
    else:
        assert "gamma: CDS of 9 nt is too short for 7 residues (21 nt); left out" in done.stderr


@pytest.mark.parametrize("table, stop, trimmed", [
    (1, "TGA", True), (2, "TGA", False), (2, "AGA", True), (6, "TAA", False), (28, "TAA", True),
    (1, "uaa", True)])
def test_trim_stop_follows_the_chosen_table(tmp_path, table, stop, trimmed):
    pep = write_fasta(tmp_path / "p.fa", {"a": "MK-L"})
    cds = write_fasta(tmp_path / "c.fa", {"a": "ATGAAACTT" + stop})
    done = run_cli(pep, cds, "-t", table)
    assert done.returncode == 0
    assert ("3 nt longer than its 3 residues need (9 nt)" in done.stderr) != trimmed
    assert read_fasta(done.stdout) == {"a": "ATGAAA---CTT"}


def test_no_trim_stop_leaves_the_stop_unwritten_and_says_so(locus):
    done = run_cli(*locus, "--no-trim-stop")
    assert done.returncode == 0
    assert "alpha: CDS of 24 nt is 3 nt longer than its 7 residues need (21 nt); the last 3 nt " \
           "are not written" in done.stderr
    assert read_fasta(done.stdout) == EXPECTED  # the surplus codon is never consumed


@pytest.mark.parametrize("cds, options, row, status", [
    ("atgaagtgg", [], "atgaag---tgg", 0),
    ("atgaagtgg", ["--keep-case"], "atgaag---tgg", 0),
    ("atgaagtgg", ["--upper-case"], "ATGAAG---TGG", 0),
    ("ATGAARUGG", [], "ATGAAR---UGG", 0),
    ("ATGAARUGG", ["--resolve-ambiguity"], "ATGAAA---UGG", 0),
    ("atgaaruGg", ["--resolve-ambiguity", "--t-for-u"], "atgaaa---tGg", 0),
    ("ATG-AA.RUGG", ["--t-for-u", "--upper-case"], "ATGAAR---TGG", 0),
    ("atgaaCtgg", [], "atgnnN---tgg", 0),
    ("atgaaCtgg", ["--mismatch", "keep"], "atgaaC---tgg", 0),
])
def test_letters_are_written_as_the_cds_has_them(tmp_path, cds, options, row, status):
    pep = write_fasta(tmp_path / "p.fa", {"a": "MK-W"})
    cds_path = write_fasta(tmp_path / "c.fa", {"a": cds})
    done = run_cli(pep, cds_path, *options)
    assert (read_fasta(done.stdout), done.returncode) == ({"a": row}, status), done.stderr


@pytest.mark.parametrize("table, start, mismatched", [
    (11, "GTG", False), (11, "TTG", False), (1, "TTG", False), (1, "GTG", True), (2, "ATA", False),
])
def test_an_initiator_m_over_a_start_codon_is_no_mismatch(tmp_path, table, start, mismatched):
    pep = write_fasta(tmp_path / "p.fa", {"a": "-MK-W", "b": "-MKMW"})
    cds = write_fasta(tmp_path / "c.fa", {"a": start.lower() + "aagtgg", "b": start + "AAGATGTGG"})
    done = run_cli(pep, cds, "-t", table, "--mismatch", "keep")
    assert read_fasta(done.stdout) == {"a": "---" + start.lower() + "aag---tgg",
                                       "b": "---" + start + "AAGATGTGG"}
    assert done.returncode == 0, done.stderr
    assert ("column 2 (residue 1): M does not match" in done.stderr) == mismatched


def test_drop_gap_columns_leaves_only_columns_without_gaps(locus):
    done = run_cli(*locus, "--drop-gap-columns")
    kept = [column for column in range(8) if all(row[column] != "-" for row in PROTEINS.values())]
    assert read_fasta(done.stdout) == {
        name: "".join(codon_row(row)[3 * c:3 * c + 3] for c in kept) for name, row in PROTEINS.items()}


@pytest.mark.parametrize("cds_b, message", [
    ("ATGAAGAAATGG", None),
    ("ATGAAGGATTGG", "column 3 (residue 3): K does not match GAT (no residue in the gene table); masked"),
    ("ATGAAGTGATGG", "column 3 (residue 3): K does not match TGA (* in the gene table); masked"),
])
def test_gene_table_file(tmp_path, cds_b, message):
    pep = write_fasta(tmp_path / "p.fa", {"a": "MK-W", "b": "MKKW"})
    cds = write_fasta(tmp_path / "c.fa", {"a": "ATGAAATGGTGA", "b": cds_b})
    table = tmp_path / "code.json"
    table.write_text(json.dumps({"M": ["ATG"], "K": ["AAA", "AAG"], "W": ["TGG"], "*": ["TGA"]}))
    done = run_cli(pep, cds, "--gene-table", table)
    assert done.returncode == 0, done.stderr
    assert read_fasta(done.stdout) == {"a": "ATGAAA---TGG",
                                       "b": cds_b if not message else "ATGAAGNNNTGG"}
    assert message is None or f"b: {message}\n" in done.stderr


@pytest.mark.parametrize("content", ['{"M": "ATG"}', '["ATG"]', "{not json", '{"MK": ["ATG"]}'])
def test_bad_gene_table_is_an_input_error(locus, tmp_path, content):
    table = tmp_path / "code.json"
    table.write_text(content)
    done = run_cli(*locus, "--gene-table", table)
    assert done.returncode == 2 and done.stdout == "" and "code.json" in done.stderr


@pytest.mark.parametrize("args", [["-t", "7"], ["--out-format", "nexus"], ["only_one_file"],
                                  ["-", "-"], ["-t", "2", "--gene-table", "g.json", "a", "b"],
                                  ["--threads", "-1", "a", "b"]])
def test_usage_errors_exit_2(args):
    assert run_cli(*args).returncode == 2


def test_tables_lists_the_27_codes():
    done = run_cli("tables")
    rows = [line.split(None, 1) for line in done.stdout.splitlines()]
    assert [int(number) for number, _ in rows] == [*range(1, 7), *range(9, 17), *range(21, 34)]
    assert dict(rows)["2"] == "Vertebrate Mitochondrial" and dict(rows)["33"].startswith("Cephalo")


@pytest.mark.parametrize("args", [["--version"], ["--version", "pep.fasta"]], ids=["alone", "parsed"])
def test_version_is_the_installed_one(args):
    from importlib import metadata
    done = run_cli(*args)
    assert (done.returncode, done.stdout, done.stderr) == (0, f"ntpepmap {metadata.version('ntpepmap')}\n", "")


def test_bundled_example_runs_clean(tmp_path):
    out = tmp_path / "codon.fasta"
    done = run_cli(REPO / "examples/single/protein_aln.fasta", REPO / "examples/single/cds.fasta",
                   "-o", out)
    assert done.returncode == 0, done.stderr
    codons = read_fasta(out.read_text())
    proteins = read_fasta((REPO / "examples/single/protein_aln.fasta").read_text())
    assert list(codons) == list(proteins) and len(codons) == 20
    assert {len(row) for row in codons.values()} == {3 * len(next(iter(proteins.values())))}
    for name, row in codons.items():  # gaps of the protein become codon gaps
        assert [row[3 * i:3 * i + 3] == "---" for i in range(len(row) // 3)] == \
            [aa == "-" for aa in proteins[name]]


def test_bundled_examples_are_what_the_generator_makes(tmp_path):
    subprocess.run([sys.executable, str(REPO / "examples/make_examples.py"), str(tmp_path)],
                   check=True, timeout=120)
    made = sorted(p.relative_to(tmp_path) for p in tmp_path.rglob("*") if p.is_file())
    assert made and all((tmp_path / rel).read_bytes() == (REPO / "examples" / rel).read_bytes()
                        for rel in made)


@pytest.mark.parametrize("manifest, table, lines, counts", [
    ("mitochondrial.tsv", "2", [r"ntpepmap: locus3_nad4: .*locus3_nad4\.fasta: sp03: column 46 .*TGG \(W in table 2\); masked"],
     (3, 0, 0)),
    ("mitochondrial.tsv", "1", [r"ntpepmap batch: in 2 loci \(locus1_cox1, locus2_cytb\), as in locus1_cox1: "
                                r"all \d+ masked codons fit tables 2, 5 and 13; try -t 2"], (3, 0, 0)),
    ("plastid.tsv", "11", [r"ntpepmap: locus5_matK: .*locus5_matK\.fasta: sp08: left out, no CDS record: "
                           r"missing from the CDS file\(s\)$"], (2, 1, 0))])
def test_bundled_batch_examples_under_their_genomes_codes(tmp_path, manifest, table, lines, counts):
    shutil.copytree(REPO / "examples/batch", tmp_path / "batch")
    for quiet in (False, True):
        done = run_cli("batch", tmp_path / "batch" / manifest, "-t", table, *(["-q"] if quiet else []))
        told = done.stderr.splitlines()
        assert summary_counts(done.stderr) == counts and done.returncode == int(counts[1] + counts[2] > 0)
        wanted = [line for line in lines if not quiet or "error:" in line]  # then the summary
        assert all(re.match(line, said) for line, said in zip(wanted, told[-1 - len(wanted):-1])), told
        assert len(told) == len(wanted) + 1 if quiet or table != "1" else len(told) > 100  # each ATA, TGA


# ---- batch mode -------------------------------------------------------------

def test_batch_manifest_with_a_failing_and_a_reported_locus(tmp_path):
    faults = {"l1": "", "l2": "report", "l3": "unpaired", "l4": ""}
    lines = []
    for stem, fault in faults.items():
        pep, cds = make_batch_locus(tmp_path, stem, fault)
        lines.append(f"pep/{pep.name}\tcds/{cds.name}\tout/{stem}.phy\n")
    (tmp_path / "manifest.tsv").write_text("# comment\n" + "".join(lines))
    done = run_cli("batch", tmp_path / "manifest.tsv", "-j", "2", "--out-format", "phylip",
                   "--report", tmp_path / "reports.txt", "--status", tmp_path / "status.tsv")
    assert done.returncode == 1
    header, *rows = [line.split("\t") for line in (tmp_path / "status.tsv").open()]
    assert header[:9] == ["locus", "output", "fate", "written", "masked", "kept", "located",
                          "padded", "left_out"] and header[-1] == "message\n"
    assert [row[:9] for row in rows] == [
        [f"out/{stem}.phy", str(tmp_path / f"out/{stem}.phy"), fate, *counts]
        for stem, fate, counts in (("l1", "written", "400000"), ("l2", "written", "410000"),
                                   ("l3", "failed", "000000"), ("l4", "written", "400000"))]
    assert re.match(r".*l2\.fasta: beta: column 6 .*; masked$", rows[1][-1])
    assert re.match(r".*l3\.fna: no identifier of .*l3\.fasta", rows[2][-1]) and rows[0][-1] == "\n"
    assert re.findall("HEADER (.*):", (tmp_path / "reports.txt").read_text()) == ["beta"]
    assert re.search(r"failed loci \(1\):\n  .*l3\.fna: no identifier of", (tmp_path / "reports.txt").read_text())
    assert summary_counts(done.stderr) == (3, 0, 1)
    assert read_phylip((tmp_path / "out/l1.phy").read_text()) == EXPECTED
    assert "NNN" in read_phylip((tmp_path / "out/l2.phy").read_text())["beta"]
    assert not (tmp_path / "out/l3.phy").exists()
    assert re.search(r"error: .*l3\.fna: no identifier of", done.stderr)
    assert re.search(r"l2\.fasta: beta: column 6 \(residue 4\): .*; masked", done.stderr)
    assert "records written, 1 codon masked" in done.stderr.splitlines()[-1]
    assert done.stdout == ""


@pytest.mark.parametrize("fault", ["", "report", "missing", "unpaired"])
def test_a_batch_tells_a_locus_as_its_single_run_does(tmp_path, fault):
    """The worker's outcome arrives whole: the same lines, fate and counts."""
    pep, cds = make_batch_locus(tmp_path, "l1", fault)
    single = run_cli(pep, cds, "-o", tmp_path / "single.fasta")
    done = run_cli("batch", tmp_path / "pep", tmp_path / "cds", "-O", tmp_path / "out",
                   "--status", tmp_path / "status.tsv")
    told = single.stderr.splitlines()[:-1 if single.returncode < 2 else None]  # no summary
    in_batch = [re.sub(r"^ntpepmap: (error: )?l1: ", r"ntpepmap: \1", line)
                for line in done.stderr.splitlines() if line.startswith("ntpepmap: ")]
    assert in_batch == told  # each line naming its locus
    _, row = [line.rstrip("\n").split("\t") for line in (tmp_path / "status.tsv").open()]
    assert row[2] == ("written", "written with changes", "failed")[single.returncode]
    if single.returncode < 2:
        assert dict(zip(summary_of(single.stderr), map(int, row[3:9]))) == summary_of(single.stderr)
    assert row[-1] == (told[0].removeprefix("ntpepmap: ").removeprefix("error: ") if told else "")


def test_batch_folders_all_clean(tmp_path):
    for stem in ("a", "b", "c"):
        make_batch_locus(tmp_path, stem)
    for compressed, plain in (("b.fna.gz", "b.fna"), ("c.fasta.bz2", "c.fna")):  # by the bare stem
        cds = tmp_path / "cds" / plain
        (tmp_path / "cds" / compressed).write_bytes(
            (gzip.compress if compressed.endswith("gz") else bz2.compress)(cds.read_bytes()))
        cds.unlink()
    done = run_cli("batch", tmp_path / "pep", tmp_path / "cds", "-O", tmp_path / "out", "-j", "1")
    assert done.returncode == 0 and summary_counts(done.stderr) == (3, 0, 0)
    assert sorted(p.name for p in (tmp_path / "out").iterdir()) == ["a.fasta", "b.fasta", "c.fasta"]
    assert read_fasta((tmp_path / "out/b.fasta").read_text()) == EXPECTED


def test_batch_folder_without_partner_is_a_failed_locus(tmp_path):
    make_batch_locus(tmp_path, "a")
    make_batch_locus(tmp_path, "b")
    (tmp_path / "cds" / "b.fna").unlink()
    done = run_cli("batch", tmp_path / "pep", tmp_path / "cds", "-O", tmp_path / "out")
    assert done.returncode == 1 and summary_counts(done.stderr) == (1, 0, 1)
    assert re.search(r"b\.fasta: no matching file in", done.stderr)


@pytest.mark.parametrize("manifest", ["a.fasta\tb.fasta\n", "", "# only a comment\n"])
def test_batch_that_cannot_run_exits_2(tmp_path, manifest):
    (tmp_path / "m.tsv").write_text(manifest)
    done = run_cli("batch", tmp_path / "m.tsv")
    assert done.returncode == 2 and "m.tsv" in done.stderr


def test_batch_folder_mode_needs_out_dir(tmp_path):
    make_batch_locus(tmp_path, "a")
    assert run_cli("batch", tmp_path / "pep", tmp_path / "cds").returncode == 2


# ---- start-up cost -----------------------------------------------------------

SLOW_IMPORTS = ("importlib.metadata", "dataclasses", "inspect", "typing", "tempfile", "pathlib",
                "json", "concurrent.futures", "tqdm", "ntpepmap_cli.api", "gettext", "locale",
                "signal", "ntpepmap_cli.reading.gene_table", "ntpepmap_cli.pairing.id_map",
                "ntpepmap_cli.pairing.shared_cds",
                "ntpepmap_cli.reading.kept_columns", "ntpepmap_cli.reading.frameshift_digits")


def test_one_locus_imports_nothing_slow(locus, tmp_path):
    """A small locus is mostly interpreter start-up: keep heavy modules off its path."""
    probe = ("import sys\n"
             "from ntpepmap_cli.command.main import main\n"
             "status = main(sys.argv[1:])\n"
             f"print(' '.join(m for m in {SLOW_IMPORTS!r} if m in sys.modules))\n"
             "sys.exit(status)\n")
    # -S: without site, which imports some of these itself on some installations
    done = subprocess.run([sys.executable, "-S", "-c", probe, *map(str, locus),
                           "-o", str(tmp_path / "out.fasta")],
                          capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, PYTHONPATH=search_path()))
    assert done.returncode == 0, done.stderr
    assert done.stdout == "\n"


@pytest.mark.parametrize("args", [["--version"], ["--version", "pep.fasta"]], ids=["alone", "parsed"])
def test_version_into_a_closed_pipe_fails_quietly(args):
    reader, writer = os.pipe()
    os.close(reader)  # no reader: the write meets a broken pipe
    try:
        done = subprocess.run(cli_command() + args, stdout=writer, stderr=subprocess.PIPE, text=True,
                              env=dict(os.environ, PYTHONPATH=search_path()), timeout=120)
    finally:
        os.close(writer)
    assert (done.returncode, done.stderr) == (141, "")  # as a shell tool that SIGPIPE ended


def test_version_alone_imports_neither_argparse_nor_the_tool():
    # -X importtime lists every module imported, also after the exit without teardown
    probe = "import sys\nfrom ntpepmap_cli.__main__ import main\nsys.exit(main())\n"
    done = subprocess.run([sys.executable, "-S", "-X", "importtime", "-c", probe, "--version"],
                          capture_output=True, text=True, timeout=120,
                          env=dict(os.environ, PYTHONPATH=search_path()))
    imported = {line.rsplit("|", 1)[1].strip() for line in done.stderr.splitlines()
                if line.startswith("import time:")}
    assert done.returncode == 0 and done.stdout.startswith("ntpepmap "), done.stderr
    assert {"argparse", "importlib.metadata", "ntpepmap_cli.command.main"} & imported == set()


def test_an_exit_handler_still_runs_at_the_end(locus):
    probe = ("import atexit, sys\nfrom ntpepmap_cli.__main__ import main\n"
             "atexit.register(print, 'exit handler ran')\nsys.exit(main())\n")
    done = subprocess.run([sys.executable, "-c", probe, *map(str, locus)], capture_output=True, text=True,
                          timeout=120, env=dict(os.environ, PYTHONPATH=search_path()))
    assert done.returncode == 0 and done.stdout == fasta_text(EXPECTED) + "exit handler ran\n", done.stderr


@pytest.mark.parametrize("to_stdout", [False, True], ids=["file", "stdout"])
def test_large_locus_is_written_whole(tmp_path, to_stdout):
    """A locus of several MB (the heap readied for it, the process ended without teardown)
    reaches its output complete, also through a pipe."""
    letters = "".join(CODON)[:-1]  # every residue but the stop
    rows = {f"taxon{n}": "".join(letters[(n + i) % len(letters)] if (n * i) % 7 else "-"
                                 for i in range(600)) for n in range(2500)}
    pep = write_fasta(tmp_path / "pep.fasta", rows)
    cds = write_fasta(tmp_path / "cds.fasta", {name: cds_of(row) for name, row in rows.items()})
    out = tmp_path / "out.fasta"
    done = run_cli(pep, cds, *([] if to_stdout else ["-o", out]))
    assert done.returncode == 0, done.stderr
    written = done.stdout if to_stdout else out.read_text()
    assert written == fasta_text({name: codon_row(row) for name, row in rows.items()})
