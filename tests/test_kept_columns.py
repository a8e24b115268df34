"""Threading onto a trimmed protein alignment: the untrimmed alignment, and the columns
kept as trimAl, ClipKIT, a hand-made list or CLUSTAL '#' lines give them."""

from __future__ import annotations

import random
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from ntpepmap_cli import codon_align
from test_cli import read_fasta, run_cli, summary_counts, write_fasta

TAXA, SITES = 12, 300
# Codons of the standard code, the first of each residue the one a CDS uses; the
# four-fold degenerate residues also as the ambiguity codon that still encodes them.
CODONS = {"A": "GCT", "R": "CGT", "N": "AAT", "D": "GAT", "C": "TGT", "Q": "CAA", "E": "GAA",
          "G": "GGT", "H": "CAT", "I": "ATT", "L": "CTG", "K": "AAA", "M": "ATG", "F": "TTT",
          "P": "CCT", "S": "TCT", "T": "ACT", "W": "TGG", "Y": "TAT", "V": "GTT"}
AMBIGUOUS = {"A": "GCN", "G": "GGN", "P": "CCN", "T": "ACN", "V": "GTN"}
RESIDUE_OF = {codon.upper(): residue for table in (CODONS, AMBIGUOUS)
              for residue, codon in table.items()}


class Family:
    """A protein family's alignment, each record's CDS and its untrimmed codon row."""

    def __init__(self, seed: int = 1, ambiguous: float = 0.0, lower: bool = False) -> None:
        rng = random.Random(seed)
        residues = list(CODONS)
        ancestor = rng.choices(residues, k=SITES)
        columns = [[residue if rng.random() > 0.15 else rng.choice(residues) for _ in range(TAXA)]
                   for residue in ancestor]
        for _ in range(10):  # insertions that one or two taxa have
            owners = rng.sample(range(TAXA), rng.randint(1, 2))
            at = rng.randrange(len(columns))
            columns[at:at] = [[rng.choice(residues) if taxon in owners else "-"
                               for taxon in range(TAXA)] for _ in range(rng.randint(1, 6))]
        for _ in range(8):  # deletions
            taxon, at = rng.randrange(TAXA), rng.randrange(len(columns) - 4)
            for column in columns[at:at + rng.randint(1, 4)]:
                column[taxon] = "-"
        self.names = [f"taxon{number:02d}" for number in range(TAXA)]
        self.rows = {name: "".join(column[taxon] for column in columns)
                     for taxon, name in enumerate(self.names)}
        self.codon_rows = {name: "".join(self._codon(residue, rng, ambiguous, lower)
                                         for residue in row)
                           for name, row in self.rows.items()}
        self.width = len(columns)

    @staticmethod
    def _codon(residue: str, rng: random.Random, ambiguous: float, lower: bool) -> str:
        if residue == "-":
            return "---"
        codon = AMBIGUOUS[residue] if residue in AMBIGUOUS and rng.random() < ambiguous \
            else CODONS[residue]
        return codon.lower() if lower else codon

    def write(self, folder: Path, stem: str = "gene") -> tuple[Path, Path]:
        """The alignment, and the CDS in another order with stop codons."""
        pep = write_fasta(folder / f"{stem}.fasta", self.rows)
        cds = {name: self.codon_rows[name].replace("-", "") + "TAA"
               for name in reversed(self.names)}
        return pep, write_fasta(folder / f"{stem}_cds.fna", cds)

    def gap_trim(self, most_gaps: float) -> list[int]:
        """The columns (0-based) with at most that share of gaps, as a gap-based trim keeps."""
        return [column for column in range(self.width)
                if sum(row[column] == "-" for row in self.rows.values()) <= most_gaps * TAXA]

    def expected(self, kept: list[int]) -> dict[str, str]:
        return {name: "".join(row[3 * column:3 * column + 3] for column in kept)
                for name, row in self.codon_rows.items()}


def clipkit_log(kept: list[int], width: int) -> str:
    return "".join(f"{column + 1} {'keep' if column in kept else 'trim'} other 0.1\n"
                   for column in range(width))


def column_list(kept: list[int]) -> str:
    runs: list[list[int]] = []
    for column in kept:
        if runs and runs[-1][1] == column:
            runs[-1][1] = column + 1
        else:
            runs.append([column, column + 1])
    return ",".join(f"{a + 1}" if b == a + 1 else f"{a + 1}-{b}" for a, b in runs) + "\n"


def clustal_with_marks(family: Family, kept: list[int]) -> str:
    text = "CLUSTAL W (1.83) multiple sequence alignment\n"
    for start in range(0, family.width, 60):
        text += "\n\n" + "".join(f"{name:<12}{row[start:start + 60]}\n"
                                 for name, row in family.rows.items())
        text += " " * 12 + "".join("#" if column in kept else " "
                                   for column in range(start, min(start + 60, family.width)))
        text += "\n"
    return text


KINDS = {
    "ClipKIT log": lambda family, kept: clipkit_log(kept, family.width),
    "trimAl column map": lambda family, kept: "trimAl output\n#ColumnsMap\t"
                                              + ", ".join(map(str, kept)) + "\n",
    "plain list": lambda family, kept: column_list(kept),
    "CLUSTAL '#' lines": clustal_with_marks,
}
# seed, share of ambiguity codons, lower-case CDS, most gaps a kept column has
VARIANTS = {"clean, loose trim": (1, 0.0, False, 0.9),
            "1 % ambiguity codons, middle trim": (2, 0.01, False, 0.5),
            "lower-case CDS, strict trim": (3, 0.0, True, 0.0)}


@pytest.mark.parametrize("variant", VARIANTS)
@pytest.mark.parametrize("kind", [*KINDS, "API"])
def test_kept_columns_give_exactly_their_codon_columns(tmp_path, kind, variant):
    seed, ambiguous, lower, most_gaps = VARIANTS[variant]
    family = Family(seed, ambiguous, lower)
    kept = family.gap_trim(most_gaps)
    if most_gaps == 0.5:  # and a hand trim of middle columns
        kept = [column for column in kept if not 100 <= column < 140]
    pep, cds = family.write(tmp_path)
    if kind == "API":
        rows = list(codon_align(pep, cds, kept_columns=kept))
        assert rows == list(family.expected(kept).items())
        return
    kept_file = tmp_path / "kept.txt"
    kept_file.write_text(KINDS[kind](family, kept))
    out = tmp_path / "out.fasta"
    options = ["--kept-columns", kept_file]
    if kind == "CLUSTAL '#' lines":
        pep, options = kept_file, ["--blocks"]
    done = run_cli(pep, cds, "-o", out, *options)
    assert done.returncode == 0, done.stderr
    assert list(read_fasta(out.read_text()).items()) == list(family.expected(kept).items())


REFUSALS = {
    "a log for a 10-column alignment": (clipkit_log([0, 1, 2], 10), [],
                                        r"ClipKIT log of 10 columns, alignment \S+ of {width}"),
    "a column beyond the alignment": ("1-20,{beyond}\n", [], r"line 1: column {beyond} is not in"),
    "a repeated column": ("1-20\n20-30\n", [], "line 2: column 20 repeats"),
    "columns out of order": ("30,10\n", [], "line 1: column 10 comes after 30"),
    "a map's repeat": ("#ColumnsMap\t0, 1, 1\n", [], "column 1 repeats"),
    "a range backwards": ("9-3\n", [], "range 9-3 runs backwards"),
    "neither kind": ("keep 1-3\n", [], "line 1: neither trimAl's '#ColumnsMap' line"),
    "no kept column": ("#ColumnsMap\t\n", [], "no column is kept"),
    "a '#' under no letter": ("CLUSTAL W\n\na  MK-W\nb  MKKW\n ## #\n", ["--blocks"],
                              "line 5: the '#' at character 2 stands under no letter"),
    "no '#' lines": ("CLUSTAL W\n\na  MK-W\nb  MKKW\n", ["--blocks"], "no line of '#'"),
}


@pytest.mark.parametrize("case", REFUSALS)
def test_kept_columns_that_do_not_fit_are_refused_before_any_work(tmp_path, case):
    text, options, message = REFUSALS[case]
    family = Family()
    pep, cds = family.write(tmp_path)
    given = tmp_path / "given.txt"
    given.write_text(text.format(beyond=family.width + 1))
    out = tmp_path / "out.fasta"
    if options:
        done = run_cli(given, cds, "-o", out, *options)
    else:
        done = run_cli(pep, cds, "-o", out, "--kept-columns", given)
    assert done.returncode == 2
    assert len(done.stderr.splitlines()) == 1, done.stderr
    assert re.search(message.format(width=family.width, beyond=family.width + 1), done.stderr), \
        done.stderr
    assert not out.exists()


@pytest.mark.parametrize("mode", [["gappy", "-g", "0.8"], ["smart-gap"], ["kpic-gappy"]],
                         ids=["gappy 0.8", "smart-gap", "kpic-gappy"])
def test_clipkit_trims_threaded_by_its_own_log(tmp_path, mode):
    """ClipKIT's log of its own trim: the codon rows encode ClipKIT's trimmed rows. Given
    the trimmed alignment itself, the records that lost residues are left out, and when
    they are more than half, the message says the alignment looks trimmed."""
    pytest.importorskip("clipkit")
    family = Family(seed=7, ambiguous=0.01)
    pep, cds = family.write(tmp_path)
    trimmed = tmp_path / "trimmed.fasta"
    subprocess.run([sys.executable, "-m", "clipkit", pep, "-l", "-o", trimmed, "-m", *mode],
                   check=True, capture_output=True)
    out = tmp_path / "out.fasta"
    done = run_cli(pep, cds, "-o", out, "--kept-columns", f"{trimmed}.log")
    assert done.returncode == 0, done.stderr
    written = read_fasta(out.read_text())
    clipped = read_fasta(trimmed.read_text())
    assert list(written) == family.names
    assert {name: "".join(RESIDUE_OF.get(row[i:i + 3].upper(), "-") for i in range(0, len(row), 3))
            for name, row in written.items()} == clipped
    shortened = sum(row.replace("-", "") != family.rows[name].replace("-", "")
                    for name, row in clipped.items())
    alone = run_cli(trimmed, cds, "-o", tmp_path / "alone.fasta")
    assert ("looks trimmed" in alone.stderr and "--kept-columns" in alone.stderr) \
        == (2 * shortened > TAXA), (shortened, alone.stderr)


@pytest.mark.parametrize("mode", ["folder", "manifest"])
def test_batch_finds_each_locus_kept_columns(tmp_path, mode):
    families = {stem: Family(seed=seed) for seed, stem in enumerate(["og1", "og10", "og2"], 1)}
    (tmp_path / "pep").mkdir(), (tmp_path / "cds").mkdir(), (tmp_path / "kept").mkdir()
    kept = {stem: family.gap_trim(0.5) for stem, family in families.items()}
    lines = []
    for stem, family in families.items():
        pep, cds = family.write(tmp_path, stem)
        pep = pep.rename(tmp_path / "pep" / pep.name)
        cds = cds.rename(tmp_path / "cds" / f"{stem}.fna")
        if stem != "og2":  # og2's file is missing: it fails alone
            (tmp_path / "kept" / f"{stem}.fasta.clipkit.log").write_text(
                clipkit_log(kept[stem], family.width))
        lines.append(f"pep/{pep.name}\tcds/{cds.name}\tout/{stem}.fasta"
                     + (f"\tkept/{stem}.fasta.clipkit.log\n" if stem != "og2" else "\n"))
    (tmp_path / "manifest.tsv").write_text("".join(lines))
    if mode == "folder":
        done = run_cli("batch", tmp_path / "pep", tmp_path / "cds", "-O", tmp_path / "out",
                       "--kept-columns", tmp_path / "kept")
        assert summary_counts(done.stderr) == (2, 0, 1), done.stderr
        assert "no file of kept columns for locus og2" in done.stderr
    else:  # og2 without a 4th column: its whole alignment
        done = run_cli("batch", tmp_path / "manifest.tsv")
        assert summary_counts(done.stderr) == (3, 0, 0), done.stderr
        kept["og2"] = list(range(families["og2"].width))
    for stem, family in families.items():
        out = tmp_path / "out" / f"{stem}.fasta"
        assert out.exists() == (mode == "manifest" or stem != "og2")
        if out.exists():
            assert read_fasta(out.read_text()) == family.expected(kept[stem])


PAL2NAL_SAMPLE = Path("/usr/share/doc/pal2nal/examples")
# More '#' lines for PAL2NAL's sample: under its block with a frameshift of 4 nucleotides,
# and under its last block.
MORE_MARKS = {"FFS4EG": " " * 16 + "##########  ##### ####    ######   #####  #####",
              "KFEVYEKND": " " * 16 + "#### ####"}


@pytest.mark.parametrize("marks", ["PAL2NAL's own", "under a frameshift too"])
def test_blocks_as_pal2nal_blockonly_keeps_them(tmp_path, marks):
    """PAL2NAL's sample, its frameshift digits read: the rows of pal2nal.pl -blockonly."""
    if not (PAL2NAL_SAMPLE / "test.aln").exists() or not shutil.which("pal2nal.pl"):
        pytest.skip("needs PAL2NAL and its sample (Debian package pal2nal)")
    aln = tmp_path / "test.aln"
    lines = []
    for line in (PAL2NAL_SAMPLE / "test.aln").read_text().splitlines():
        lines.append(line)
        lines += [mark for start, mark in MORE_MARKS.items()
                  if marks != "PAL2NAL's own" and line.startswith("pseudogene") and start in line]
    aln.write_text("\n".join(lines) + "\n")
    nuc = PAL2NAL_SAMPLE / "test.nuc"
    theirs = subprocess.run(["pal2nal.pl", aln, nuc, "-blockonly", "-output", "fasta"],
                            capture_output=True, text=True, check=True).stdout
    out = tmp_path / "out.fasta"
    done = run_cli(aln, nuc, "--blocks", "--pair-by-order", "--mismatch", "keep", "-o", out)
    assert done.returncode == 1, done.stderr  # the pseudogene's V on GAT, kept
    assert read_fasta(out.read_text()) == read_fasta(theirs)
