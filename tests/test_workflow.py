"""The Snakemake workflow: chunked batch jobs on a generated manifest, run as a user runs it."""

from __future__ import annotations

import csv
import os
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

if sys.version_info < (3, 11):
    pytest.skip("Snakemake needs Python 3.11 or later", allow_module_level=True)

from helpers import EXPECTED, PROTEINS, make_batch_locus, read_fasta, search_path

SNAKEFILE = Path(__file__).resolve().parent.parent / "workflow" / "Snakefile"
CHUNKS = Path("logs/chunks")
LOCI = 6  # two chunks of at most 4, with one locus more or fewer too


def write_manifest(folder: Path, faults: dict[str, str]) -> None:
    lines = []
    for stem, fault in faults.items():
        pep, cds = make_batch_locus(folder, stem, fault)
        lines.append(f"pep/{pep.name}\tcds/{cds.name}\tout/{stem}.fasta\n")
    (folder / "manifest.tsv").write_text("".join(lines))


def run_workflow(folder: Path, *config: str) -> subprocess.CompletedProcess:
    command = [sys.executable, "-m", "snakemake", "--snakefile", str(SNAKEFILE), "--cores", "2",
               "--keep-going", "--config", "manifest=manifest.tsv", "chunk_size=4",
               "log_dir=logs", *config]
    return subprocess.run(command, cwd=folder, capture_output=True, text=True, timeout=300,
                          env=dict(os.environ, PYTHONPATH=search_path()))


def chunks_run(done: subprocess.CompletedProcess) -> set[str]:
    return set(re.findall(r"wildcards: chunk=(\d+)", done.stdout + done.stderr))


def chunk_of(folder: Path, stem: str) -> str | None:
    """The chunk whose last sub-manifest lists the locus."""
    return next((path.name.split(".")[0] for path in (folder / CHUNKS).glob("*.manifest.tsv")
                 if f"/out/{stem}.fasta\n" in path.read_text()), None)


@pytest.fixture(scope="module")
def first_run(tmp_path_factory):
    folder = tmp_path_factory.mktemp("workflow")
    write_manifest(folder, {f"l{number}": "" for number in range(LOCI)})
    done = run_workflow(folder)
    assert done.returncode == 0, done.stderr
    return folder, done


@pytest.fixture
def ran(first_run, tmp_path):
    """A copy of the first run's folder, times kept: the workflow's state moves with it."""
    folder, done = first_run
    shutil.copytree(folder, tmp_path / "copy", symlinks=True)
    return tmp_path / "copy", done


def test_every_locus_is_written_and_a_rerun_does_nothing(ran):
    folder, first = ran
    outputs = sorted((folder / "out").iterdir())
    assert [path.stem for path in outputs] == [f"l{number}" for number in range(LOCI)]
    assert all(read_fasta(path.read_text()) == EXPECTED for path in outputs)
    assert len(chunks_run(first)) > 1
    rows = (folder / "logs/summary.tsv").read_text().splitlines()[1:]
    assert sorted(row.split("\t")[:3:2] for row in rows) == [[f"out/{p.name}", "written"]
                                                              for p in outputs]
    stamps = [path.stat().st_mtime_ns for path in outputs]
    again = run_workflow(folder)
    assert again.returncode == 0 and "Nothing to be done" in again.stdout + again.stderr
    assert [path.stat().st_mtime_ns for path in outputs] == stamps


def test_multiqc_asked_for_reports_every_locus_of_the_summary(ran):
    pytest.importorskip("multiqc")
    folder, _ = ran
    done = run_workflow(folder, "multiqc=true")
    assert done.returncode == 0, done.stderr
    assert chunks_run(done) == set()  # the alignments were there: MultiQC alone ran
    with open(folder / "logs/multiqc/multiqc_data/multiqc_ntpepmap.txt", encoding="utf-8") as data:
        shown = {row["Sample"]: int(row["written"]) for row in csv.DictReader(data, delimiter="\t")}
    with open(folder / "logs/summary.tsv", encoding="utf-8") as summary:
        told = {Path(row["locus"]).stem: int(row["written"])  # as MultiQC cleans a name
                for row in csv.DictReader(summary, delimiter="\t")}
    assert shown == told and (folder / "logs/multiqc/multiqc_report.html").is_file()


def make_change(folder: Path, change: str) -> None:
    manifest = folder / "manifest.tsv"
    if change == "add a locus":
        make_batch_locus(folder, "l9")
        manifest.write_text(manifest.read_text() + "pep/l9.fasta\tcds/l9.fna\tout/l9.fasta\n")
    elif change == "remove a locus":
        manifest.write_text("".join(line for line in manifest.read_text().splitlines(True)
                                    if "/l3." not in line))
    elif change == "delete an output":
        (folder / "out/l3.fasta").unlink()
    else:  # the same sequences under other headers
        cds = folder / "cds/l3.fna"
        cds.write_text(cds.read_text().replace("\n", " edited\n", 1))


@pytest.mark.parametrize("change, locus", [("add a locus", "l9"), ("remove a locus", "l3"),
                                           ("delete an output", "l3"), ("edit an input", "l3")])
def test_a_change_reruns_only_its_chunk(ran, change, locus):
    folder, _ = ran
    chunk = chunk_of(folder, locus)  # None for the new locus: known after the run
    make_change(folder, change)
    before = files_outside_snakemake(folder)
    planned = run_workflow(folder, "--dry-run")
    assert files_outside_snakemake(folder) == before
    done = run_workflow(folder)
    assert done.returncode == 0, done.stderr
    assert chunks_run(done) == chunks_run(planned) == {chunk or chunk_of(folder, locus)}
    assert read_fasta((folder / "out/l3.fasta").read_text()) == EXPECTED
    assert "Nothing to be done" in run_workflow(folder).stderr


def files_outside_snakemake(folder: Path) -> dict[Path, int]:
    return {path: path.stat().st_mtime_ns for path in folder.rglob("*")
            if ".snakemake" not in path.parts}


@pytest.mark.parametrize("fault, extra, in_log, in_console", [
    ("unpaired", "", r"failed loci.*\n  out/l3\.fasta: .*l3\.fna: no identifier of", "no identifier"),
    # The batch's own words are kept beside its table, which says where.
    ("", "--gene-table no/such/code.json",
     r"failed loci.*\n  out/l\d\.fasta: ntpepmap batch could not run .*console\.txt\)",
     r"error: .*code\.json"),
    ("gone", "", r"failed loci.*\n  out/l3\.fasta: .*l3\.fasta: No such file", "No such file"),
])
def test_a_failed_job_names_its_loci_and_deletes_no_alignment(ran, fault, extra, in_log,
                                                              in_console):
    folder, _ = ran
    make_batch_locus(folder, "l3", fault)
    if fault == "gone":
        (folder / "pep/l3.fasta").unlink()
    done = run_workflow(folder, *([f"extra={extra}"] if extra else []), "--retries", "1")
    assert done.returncode != 0
    failed = chunk_of(folder, "l3")
    assert re.search(in_log, (folder / CHUNKS / f"{failed}.log").read_text())
    assert re.search(in_console, (folder / CHUNKS / f"{failed}.console.txt").read_text())
    assert re.search(r"failed loci \(\d+;.*\n(.*\n)*  out/l3\.fasta: ", done.stderr)
    assert "not retried: its batch ran to its end" in done.stderr
    assert not (folder / "logs/summary.tsv").exists()
    summary = (folder / CHUNKS / f"{failed}.tsv").read_text()
    assert re.search(r"(?m)^out/l3\.fasta\t[^\t]*\tfailed\t", summary)
    assert not (folder / CHUNKS / f"{failed}.done").exists()
    outputs = sorted((folder / "out").iterdir())
    assert len(outputs) == LOCI and all(read_fasta(p.read_text()) == EXPECTED for p in outputs)


def test_loci_sharing_cds_files_are_chunked_as_others(tmp_path):
    from helpers import cds_of, write_fasta

    names = list(EXPECTED)
    for part, members in (("a", names[:2]), ("b", names[2:])):
        write_fasta(tmp_path / f"{part}.fa", {name: cds_of(PROTEINS[name]) for name in members})
    (tmp_path / "pep").mkdir()
    for number in range(LOCI):
        write_fasta(tmp_path / "pep" / f"l{number}.fasta", PROTEINS)
    (tmp_path / "manifest.tsv").write_text("".join(f"pep/l{number}.fasta\tout/l{number}.fasta\n"
                                                   for number in range(LOCI)))
    done = run_workflow(tmp_path, "cds=a.fa b.fa")
    assert done.returncode == 0, done.stderr
    assert len(chunks_run(done)) > 1
    outputs = sorted((tmp_path / "out").iterdir())
    assert len(outputs) == LOCI and all(read_fasta(p.read_text()) == EXPECTED for p in outputs)


def test_the_readmes_first_example_runs_as_written(tmp_path):
    """From a checkout's top folder (here: its workflow and examples), the command as printed."""
    readme = (SNAKEFILE.parent / "README.md").read_text()
    command = re.search(r"```sh\n(\.venv/bin/snakemake .*?)\n```", readme, re.S).group(1)
    (tmp_path / "workflow").symlink_to(SNAKEFILE.parent)
    shutil.copytree(SNAKEFILE.parent.parent / "examples", tmp_path / "examples")
    words = command.replace("\\\n", " ").split()
    done = subprocess.run([sys.executable, "-m", "snakemake", *words[1:]], cwd=tmp_path, capture_output=True,
                          text=True, timeout=300, env=dict(os.environ, PYTHONPATH=search_path()))
    assert done.returncode == 0 and "Exception" not in done.stderr and "Traceback" not in done.stderr
    rows = {row[0]: row for row in (line.split("\t") for line in
                                    (tmp_path / "ntpepmap_logs/summary.tsv").read_text().splitlines())}
    assert rows["out/locus5_matK.phy"][2] == "written with changes"
    assert rows["out/locus5_matK.phy"][-1].endswith("sp08: left out, no CDS record: missing from the CDS file(s)")
    assert (tmp_path / "examples/batch/out/locus4_rbcL.phy").stat().st_size > 0
