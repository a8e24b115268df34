"""What a batch says on standard error and in its status table: problems by locus, notes once."""

from __future__ import annotations

import re

import pytest

from helpers import CODON, run_cli, write_fasta

LOCI = 300


def write_loci(folder, faults: dict[int, str]) -> None:
    """LOCI loci of 6 records whose CDS pair by NCBI's [protein_id=...] (a note per locus);
    faults: a locus's number, and 'mismatch' (a codon masked) or 'unpaired' (no CDS pairs: it fails)."""
    (folder / "pep").mkdir()
    (folder / "cds").mkdir()
    for number in range(LOCI):
        rows = {f"t{taxon}": "MKWL" + "FSED"[taxon % 4] + "KWL" for taxon in range(6)}
        cds = {f"gene{taxon} [protein_id={name}]": "".join(CODON[aa] for aa in row) + "TAA"
               for taxon, (name, row) in enumerate(rows.items())}
        if faults.get(number) == "mismatch":
            cds["gene0 [protein_id=t0]"] = "ATGAAGTTC" + cds["gene0 [protein_id=t0]"][9:]
        if faults.get(number) == "unpaired":
            cds = {header.replace("=t", "=x"): letters for header, letters in cds.items()}
        write_fasta(folder / "pep" / f"l{number:03d}.fa", rows)
        write_fasta(folder / "cds" / f"l{number:03d}.fa", cds)


@pytest.mark.parametrize("faults, quiet, told, most_lines", [
    ({}, False, [r"ntpepmap batch: in 300 loci \(l000, l001, l002 and 297 more\): 6 record\(s\) paired by NCBI "
                 r"protein_id$"], 10),
    ({}, True, [], 2),
    ({7: "mismatch", 9: "unpaired"}, False,
     [r"ntpepmap: l007: .*l007\.fa: t0: column 3 \(residue 3\): W does not match TTC .*; masked$",
      r"ntpepmap: error: l009: .*l009\.fa: no identifier of .*l009\.fa is in this file",
      r"ntpepmap batch: in 299 loci \(l000, l001, l002 and 296 more\): 6 record\(s\) paired by NCBI protein_id$",
      r"ntpepmap batch: failed loci \(1\):$", r"  l009$"], 10),
    ({7: "mismatch", 9: "unpaired"}, True, [r"ntpepmap: error: l009: "], 2),
], ids=["clean", "clean, -q", "a masked codon and a failed locus", "the same, -q"])
def test_a_batch_tells_problems_by_locus_and_notes_once(tmp_path, faults, quiet, told, most_lines):
    write_loci(tmp_path, faults)
    done = run_cli("batch", tmp_path / "pep", tmp_path / "cds", "-O", tmp_path / "out", "-j", "2",
                   "--status", tmp_path / "status.tsv", *(["-q"] if quiet else []))
    lines = done.stderr.splitlines()
    assert done.returncode == (1 if "unpaired" in faults.values() else 0)
    assert len(lines) <= most_lines and lines[-1].startswith("ntpepmap batch: ")
    assert [line for line in told if not any(re.match(line, said) for said in lines)] == [], done.stderr
    rows = [line.rstrip("\n").split("\t") for line in (tmp_path / "status.tsv").open()][1:]
    messages = {row[0]: row[-1] for row in rows}
    assert [name for name, message in messages.items() if message] == sorted(
        f"l{number:03d}" for number in faults)  # a clean locus's message stays empty


def test_failed_loci_are_named_by_their_output_where_they_share_a_protein_file(tmp_path):
    rows = {"a": "MKW", "b": "MKF"}
    write_fasta(tmp_path / "pep.fa", rows)
    write_fasta(tmp_path / "good.fa", {name: "".join(CODON[aa] for aa in row) for name, row in rows.items()})
    write_fasta(tmp_path / "short.fa", {"x": "ATGAAGTGG"})  # pairs with neither
    (tmp_path / "loci.tsv").write_text("pep.fa\tgood.fa\tout/first.fa\npep.fa\tshort.fa\tout/second.fa\n")
    done = run_cli("batch", tmp_path / "loci.tsv")
    assert done.returncode == 1
    assert done.stderr.splitlines()[-3:-1] == ["ntpepmap batch: failed loci (1):", "  second"]
    assert re.match(r"ntpepmap: error: second: .*short\.fa: no identifier of .*pep\.fa is in this file", done.stderr)
