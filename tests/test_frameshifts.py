"""A CDS with a nucleotide or two gained or lost keeps its taxon; PAL2NAL's frameshift digits."""

from __future__ import annotations

import random
import shutil
import subprocess
from pathlib import Path

import pytest

from ntpepmap_cli import InputError, codon_align

BASES = "TCAG"
STANDARD = "FFLLSSSSYY**CC*WLLLLPPPPHHQQRRRRIIIMTTTTNNKKSSRRVVVVAAAADDEEGGGG"
CODONS: dict[str, list[str]] = {}
for number, residue in enumerate(STANDARD):
    codon = BASES[number // 16] + BASES[number // 4 % 4] + BASES[number % 4]
    CODONS.setdefault(residue, []).append(codon)
RESIDUES = 150
GAP_COLUMN = 10  # every row has two gaps here
PAL2NAL_SAMPLES = Path("/usr/share/doc/pal2nal/examples")

# (shift, where in its codon the nucleotides are gained or lost, as an mRNA with UTRs):
# each shift at a codon's edge and inside it, twice, once in an mRNA.
SHAPES = [(shift, offset, utr) for shift in (+1, +2, -1, -2)
          for offset, utr in ((0, False), (1, False), (2, False), (1, True))]


def ntpepmap(*arguments, cwd):
    return subprocess.run(["ntpepmap", *map(str, arguments)], capture_output=True, text=True,
                          cwd=cwd)


def fasta(path: Path, records) -> Path:
    path.write_text("".join(f">{name}\n{text}\n" for name, text in records))
    return path


def read_fasta(text: str) -> dict[str, str]:
    records: dict[str, str] = {}
    name = ""
    for line in text.splitlines():
        if line.startswith(">"):
            name = line[1:].split()[0]
            records[name] = ""
        else:
            records[name] += line.strip()
    return records


def shifted(codons: str, site: int, shift: int, offset: int, draw: random.Random) -> str:
    """The codons with |shift| nucleotides gained or lost at `offset` in residue site's codon;
    a gained one differs from its neighbours, so that only this place explains it."""
    at = 3 * site + offset
    if shift < 0:
        return codons[:at] + codons[at - shift:]
    added = ""
    for _ in range(shift):
        added += draw.choice([base for base in "ACGT" if base not in (codons[at - 1], codons[at])])
    return codons[:at] + added + codons[at:]


@pytest.fixture(scope="module")
def frameshift_locus(tmp_path_factory):
    """40 records, the 16 of SHAPES with one frameshift each; the rows, the codons and
    the frameshifted residue of each record."""
    draw = random.Random(25)
    folder = tmp_path_factory.mktemp("frameshifts")
    rows, cds, expected = [], [], {}
    for index in range(40):
        name = f"t{index + 1}"
        protein = "M" + "".join(draw.choice("ACDEFGHIKLMNPQRSTVWY") for _ in range(RESIDUES - 1))
        codons = "".join(draw.choice(CODONS[residue]) for residue in protein)
        given, site = codons + "TAA", None
        if index < len(SHAPES):
            shift, offset, utr = SHAPES[index]
            site = draw.randrange(20, RESIDUES - 20)
            given = shifted(codons, site, shift, offset, draw) + ("TAA" if index % 2 else "")
            if utr:
                given = "GCCACCTTGA" + given + "TAGCATTTCAAGGCA"
        rows.append((name, protein[:GAP_COLUMN] + "--" + protein[GAP_COLUMN:]))
        cds.append((name, given))
        expected[name] = (codons, site)
    return folder, fasta(folder / "pep.fa", rows), fasta(folder / "cds.fa", cds), expected


@pytest.fixture(scope="module")
def masked_run(frameshift_locus):
    folder, pep, cds, _ = frameshift_locus
    return ntpepmap(pep, cds, "-o", "out.fa", cwd=folder)


@pytest.mark.parametrize("index", range(len(SHAPES)), ids=[f"{s:+d} at {o}{' mRNA' if u else ''}"
                                                          for s, o, u in SHAPES])
def test_a_frameshifted_record_is_written_in_frame(frameshift_locus, masked_run, index):
    folder, _, _, expected = frameshift_locus
    name = f"t{index + 1}"
    codons, site = expected[name]
    row = read_fasta((folder / "out.fa").read_text())[name].replace("------", "", 1)
    for residue in range(RESIDUES):
        written, own = row[3 * residue:3 * residue + 3], codons[3 * residue:3 * residue + 3]
        near = abs(residue - site) <= 2
        assert written == own or (near and written == "NNN"), (residue, site, written, own)
    lines = [line for line in masked_run.stderr.splitlines() if f": {name}: " in line]
    assert len(lines) == 1 and "frameshift" in lines[0], lines


def test_every_record_is_written_and_the_rest_as_they_are(frameshift_locus, masked_run):
    folder, _, _, expected = frameshift_locus
    assert masked_run.returncode in (0, 1), masked_run.stderr
    written = read_fasta((folder / "out.fa").read_text())
    assert list(written) == list(expected)
    for name, (codons, site) in expected.items():
        if site is None:
            assert written[name].replace("------", "", 1) == codons
    assert "40 records written" in masked_run.stderr and "16 frameshifts" in masked_run.stderr


def test_drop_leaves_them_out_naming_the_frameshift(frameshift_locus):
    folder, pep, cds, _ = frameshift_locus
    run = ntpepmap(pep, cds, "--frameshifts", "drop", "-o", "dropped.fa", cwd=folder)
    assert run.returncode == 1
    assert len(read_fasta((folder / "dropped.fa").read_text())) == 40 - len(SHAPES)
    told = [line for line in run.stderr.splitlines() if "--frameshifts drop" in line]
    assert len(told) == len(SHAPES)
    assert all("holds 1 frameshift (--frameshifts drop), the first" in line for line in told)


# (protein FASTA, CDS, the codon row, or the exit status 2's message)
@pytest.mark.parametrize("protein, cds, expected", [
    ("MHC1GE", "ATGCATTGTGGGTGAA", "ATGCATTGTG--GGTGAA"),
    ("MHC4GE\nMHC-GE", "ATGCATTGTGCCTGGTGAA\nATGCATTGTGGTGAA", "ATGCATTGTGCCT--GGTGAA"),
    ("MHCGE 5", "ATGCATTGTGGTGAA", "ATGCATTGTGGTGAA"),  # a position number at the line's end
    ("MHC12GE", "ATGCATTGTGGGTGAA", "line 2, record 1 (t1): '12' inside the sequence"),
], ids=["PAL2NAL's HC1GE", "4 over two columns", "position number", "two digits"])
def test_frameshift_digits(tmp_path, protein, cds, expected):
    rows = [(f"t{index + 1}", row) for index, row in enumerate(protein.split("\n"))]
    pep = fasta(tmp_path / "pep.fa", rows)
    texts = cds.split("\n")
    nucleotides = fasta(tmp_path / "cds.fa", [(name, text) for (name, _), text in zip(rows, texts)])
    run = ntpepmap(pep, nucleotides, "--pair-by-order", cwd=tmp_path)
    given = dict(rows), {name: text for (name, _), text in zip(rows, texts)}
    if run.returncode == 2:
        assert expected in run.stderr
        with pytest.raises(InputError, match=expected.split(": ", 1)[1]):
            codon_align(*given)
    else:
        assert read_fasta(run.stdout)["t1"] == expected, run.stderr
        if " " not in protein:  # position numbers are a file's, not a row's given as text
            assert codon_align(*given).as_dict()["t1"] == expected


@pytest.mark.skipif(shutil.which("pal2nal.pl") is None,
                    reason="PAL2NAL is not installed (Debian: pal2nal)")
def test_pal2nal_sample_gives_pal2nals_own_rows(tmp_path):
    samples = [PAL2NAL_SAMPLES / "test.aln", PAL2NAL_SAMPLES / "test.nuc"]
    theirs = subprocess.run(["pal2nal.pl", *map(str, samples), "-output", "fasta"],
                            capture_output=True, text=True, check=True).stdout
    ours = ntpepmap(*samples, "--pair-by-order", "--mismatch", "keep", cwd=tmp_path)
    assert ours.returncode == 0, ours.stderr  # its kept codon is told, and lacks no data
    assert read_fasta(ours.stdout) == read_fasta(theirs)


# (what the CDS gains or loses in codons, before which residue, the line told)
CODON_GAPS = [
    (-1, 100, "1 codon missing from the CDS after nt 300"),
    (+1, 100, "1 codon in the CDS and not in the protein, nt 301-303, left out"),
    (+2, 100, "2 codons in the CDS and not in the protein, nt 301-306, left out"),
    (+29, 50, "looks like an intron: 87 nt at CDS 151-237"),
]


@pytest.mark.parametrize("stop", ["", "TAA"], ids=["no stop", "stop"])
@pytest.mark.parametrize("gained, site, told", CODON_GAPS, ids=[t.split(",")[0] for _, _, t in CODON_GAPS])
def test_a_record_gaining_or_losing_whole_codons_keeps_every_other_column(tmp_path, gained, site, told, stop):
    draw = random.Random(gained * 1000 + site)
    protein = "M" + "".join(draw.choice("ACDEFGHIKLMNPQRSTVWY") for _ in range(199))
    codons = "".join(draw.choice(CODONS[residue]) for residue in protein)
    while len(set(protein[site - 1:site + 2])) < 3:  # a gap with one place the threading may put it
        protein = protein[:site] + draw.choice("ACDEFGHIKLMNPQRSTVWY") + protein[site + 1:]
        codons = codons[:3 * site] + draw.choice(CODONS[protein[site]]) + codons[3 * site + 3:]
    others = [residue for residue in CODONS if residue not in protein[site - 1:site + 2]]
    inserted = "".join(draw.choice(CODONS[draw.choice(others)]) for _ in range(max(gained, 0)))
    given = codons[:3 * site] + inserted + codons[3 * site + 3 * (gained < 0):] + stop
    fasta(tmp_path / "pep.fa", [("t1", protein[:GAP_COLUMN] + "--" + protein[GAP_COLUMN:])])
    fasta(tmp_path / "cds.fa", [("t1", given)])
    run = ntpepmap("pep.fa", "cds.fa", "-o", "out.fa", cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    row = read_fasta((tmp_path / "out.fa").read_text())["t1"].replace("------", "", 1)
    expected = codons[:3 * site] + ("NNN" if gained < 0 else codons[3 * site:3 * site + 3]) + codons[3 * site + 3:]
    assert row == expected
    lines = [line for line in run.stderr.splitlines() if ": t1: " in line]
    assert lines == [f"ntpepmap: pep.fa: t1: column {site + 1 + 2 * (site >= GAP_COLUMN)} "
                     f"(residue {site + 1}): {told}"]
    assert "1 record written" in run.stderr and "1 gap of whole codons" in run.stderr


# (the CDS's last letters after the codons of MKWDLFGHIKP, the last codon written, the line told)
@pytest.mark.parametrize("tail, written, told", [
    ("GA", "GAN", "CDS of 35 nt ends in a 3'-partial codon (2 nucleotides at CDS 34-35, residue 12)"),
    ("G", "GNN", "CDS of 34 nt ends in a 3'-partial codon (1 nucleotide at CDS 34, residue 12)"),
    ("ga", "gan", "CDS of 35 nt ends in a 3'-partial codon (2 nucleotides at CDS 34-35, residue 12)"),
], ids=["2 nt", "1 nt", "lower case"])
def test_a_3_partial_last_codon_is_completed_with_n(tmp_path, tail, written, told):
    codons = "ATGAAGTGGGATCTGTTCGGCCACATCAAACCG"
    fasta(tmp_path / "pep.fa", [("t1", "MKWDLFGHIKPE"), ("t2", "MKWDLFGHIKPE")])
    fasta(tmp_path / "cds.fa", [("t1", codons + tail), ("t2", codons + "GAG")])
    run = ntpepmap("pep.fa", "cds.fa", cwd=tmp_path)
    assert run.returncode == 0, run.stderr
    assert read_fasta(run.stdout) == {"t1": codons + written, "t2": codons + "GAG"}
    assert [line for line in run.stderr.splitlines() if ": t1: " in line] == [
        f"ntpepmap: cds.fa: t1: {told}; completed with N"]
