"""Threading onto a trimmed protein alignment: the untrimmed alignment, and the columns
kept as trimAl, ClipKIT, a hand-made list or CLUSTAL '#' lines give them."""

from __future__ import annotations

import random
import re
import shutil
import subprocess
import sys
from itertools import groupby
from pathlib import Path

import pytest

from ntpepmap_cli import codon_align
from helpers import read_fasta, run_cli, summary_counts, write_fasta

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

        def codon(residue: str) -> str:
            ambiguity = residue in AMBIGUOUS and rng.random() < ambiguous
            written = "---" if residue == "-" else (AMBIGUOUS if ambiguity else CODONS)[residue]
            return written.lower() if lower else written

        self.codon_rows = {name: "".join(map(codon, row)) for name, row in self.rows.items()}
        self.width = len(columns)

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
    runs = [[column for _, column in run]
            for _, run in groupby(enumerate(kept), lambda pair: pair[1] - pair[0])]
    return ",".join(f"{run[0] + 1}" + (f"-{run[-1] + 1}" if run[1:] else "") for run in runs)


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
REFUSALS = {  # given to the clean family's alignment, or read as the alignment
    "a log for a 10-column alignment": (clipkit_log([0, 1, 2], 10),
                                        r"ClipKIT log of 10 columns, alignment \S+ of {width}"),
    "a column beyond the alignment": ("1-20,{beyond}\n", "line 1: column {beyond} is not in"),
    "a repeated column": ("1-20\n20-30\n", "line 2: column 20 repeats"),
    "column 0 of a list": ("0-20\n", "line 1: column 0 is out of range: a column list numbers "
                                      "columns from 1"),
    "column -1 of a map": ("#ColumnsMap\t-1, 0, 1\n", "line 1: column -1 is out of range: a trimAl "
                                                       "column map numbers columns from 0"),
    "columns out of order": ("30,10\n", "line 1: column 10 comes after 30"),
    "a range backwards": ("9-3\n", "range 9-3 runs backwards"),
    "neither kind": ("keep 1-3\n", "line 1: neither trimAl's '#ColumnsMap' line"),
    "no kept column": ("#ColumnsMap\t\n", "no column is kept"),
    "a '#' under no letter": ("CLUSTAL W\n\na  MK-W\nb  MKKW\n ## #\n",
                              "line 5: the '#' at character 2 stands under no letter"),
    "no '#' lines": ("CLUSTAL W\n\na  MK-W\nb  MKKW\n", "no line of '#'"),
}
CASES = [*(pytest.param(kind, variant, None, id=f"{kind}, {variant}")
           for kind in [*KINDS, "API"] for variant in VARIANTS),
         *(pytest.param(None, text, refusal, id=name) for name, (text, refusal) in REFUSALS.items())]


@pytest.mark.parametrize("kind, given, refusal", CASES)
def test_kept_columns_give_their_codon_columns_or_are_refused_before_any_work(
        tmp_path, kind, given, refusal):
    seed, ambiguous, lower, most_gaps = VARIANTS.get(given, VARIANTS["clean, loose trim"])
    family = Family(seed, ambiguous, lower)
    kept = family.gap_trim(most_gaps)
    if most_gaps == 0.5:  # and a hand trim of middle columns
        kept = [column for column in kept if not 100 <= column < 140]
    pep, cds = family.write(tmp_path)
    expected = list(family.expected(kept).items())
    if kind == "API":
        assert list(codon_align(pep, cds, kept_columns=kept)) == expected
        return
    kept_file, out = tmp_path / "kept.txt", tmp_path / "out.fasta"
    kept_file.write_text(KINDS[kind](family, kept) if kind else given.format(beyond=family.width + 1))
    if kept_file.read_text().startswith("CLUSTAL"):
        done = run_cli(kept_file, cds, "-o", out, "--blocks")
    else:
        done = run_cli(pep, cds, "-o", out, "--kept-columns", kept_file)
    if refusal is None:
        assert done.returncode == 0, done.stderr
        assert list(read_fasta(out.read_text()).items()) == expected
        return
    assert done.returncode == 2 and len(done.stderr.splitlines()) == 1, done.stderr
    assert re.search(refusal.format(width=family.width, beyond=family.width + 1), done.stderr), \
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
    written, clipped = read_fasta(out.read_text()), read_fasta(trimmed.read_text())
    assert list(written) == family.names
    assert {name: "".join(RESIDUE_OF.get(row[i:i + 3].upper(), "-") for i in range(0, len(row), 3))
            for name, row in written.items()} == clipped
    shortened = sum(row.replace("-", "") != family.rows[name].replace("-", "")
                    for name, row in clipped.items())
    alone = run_cli(trimmed, cds, "-o", tmp_path / "alone.fasta")
    assert ("looks trimmed" in alone.stderr and "--kept-columns" in alone.stderr) \
        == (2 * shortened > TAXA), (shortened, alone.stderr)


def test_batch_finds_each_locus_kept_columns(tmp_path):
    """Folder mode: og10's file is not og1's; og2 has none and fails alone, or is whole."""
    families = {stem: Family(seed) for seed, stem in enumerate(["og1", "og10", "og2"], 1)}
    kept = {stem: family.gap_trim(0.5) for stem, family in families.items()}
    for folder in ("pep", "cds", "kept"):
        (tmp_path / folder).mkdir()
    for stem, family in families.items():
        family.write(tmp_path / "pep", stem)[1].rename(tmp_path / "cds" / f"{stem}.fasta")
        if stem != "og2":
            (tmp_path / "kept" / f"{stem}.fasta.log").write_text(clipkit_log(kept[stem], family.width))
    done = run_cli("batch", tmp_path / "pep", tmp_path / "cds", "-O", tmp_path / "out",
                   "--kept-columns", tmp_path / "kept")
    assert summary_counts(done.stderr) == (2, 0, 1) and "kept columns for locus og2" in done.stderr
    (tmp_path / "manifest.tsv").write_text("".join(
        f"pep/{stem}.fasta\tcds/{stem}.fasta\tmanifest/{stem}.fa"
        + ("\n" if stem == "og2" else f"\tkept/{stem}.fasta.log\n") for stem in families))
    assert summary_counts(run_cli("batch", tmp_path / "manifest.tsv").stderr) == (3, 0, 0)
    kept["og2"] = list(range(families["og2"].width))
    for stem, family in families.items():
        assert read_fasta((tmp_path / "manifest" / f"{stem}.fa").read_text()) \
            == family.expected(kept[stem])
        assert (tmp_path / "out" / f"{stem}.fasta").exists() == (stem != "og2")


PAL2NAL_SAMPLE = Path("/usr/share/doc/pal2nal/examples")
# More '#' lines for PAL2NAL's sample: under its block with a frameshift of 4 nucleotides,
# and under its last block.
MORE_MARKS = {"FFS4EG": " " * 16 + "##########  ##### ####    ######   #####  #####",
              "KFEVYEKND": " " * 16 + "#### ####"}


@pytest.mark.parametrize("marks", ["PAL2NAL's own", "under a frameshift too"])
def test_blocks_as_pal2nal_blockonly_keeps_them(tmp_path, marks):
    """PAL2NAL's sample, its frameshift digits read: the rows of pal2nal.pl -blockonly."""
    if not shutil.which("pal2nal.pl"):
        pytest.skip("needs PAL2NAL and its sample (Debian package pal2nal)")
    aln, nuc, text = tmp_path / "test.aln", PAL2NAL_SAMPLE / "test.nuc", \
        (PAL2NAL_SAMPLE / "test.aln").read_text()
    for start, mark in MORE_MARKS.items() if marks != "PAL2NAL's own" else ():
        text = re.sub(f"(?m)^pseudogene .*{start}.*$", lambda line: f"{line[0]}\n{mark}", text)
    aln.write_text(text)
    theirs = subprocess.run(["pal2nal.pl", aln, nuc, "-blockonly", "-output", "fasta"],
                            capture_output=True, text=True, check=True).stdout
    out = tmp_path / "out.fasta"
    done = run_cli(aln, nuc, "--blocks", "--pair-by-order", "--mismatch", "keep", "-o", out)
    assert done.returncode == 0, done.stderr  # the pseudogene's V on GAT, kept: written
    assert read_fasta(out.read_text()) == read_fasta(theirs)


@pytest.mark.parametrize("mismatch", ["mask", "keep", "drop"])
def test_a_failed_codon_in_a_column_trimmed_away_is_only_counted(tmp_path, mismatch):
    family = Family()
    kept = list(range(1, family.width))
    changed = next(name for name, row in family.rows.items() if row[0] not in "-W")
    cds = {name: row.replace("-", "") for name, row in family.codon_rows.items()}
    cds[changed] = "TGG" + cds[changed][3:]  # W where another residue stands
    (tmp_path / "kept.txt").write_text(column_list(kept))
    done = run_cli(write_fasta(tmp_path / "pep.fasta", family.rows),
                   write_fasta(tmp_path / "cds.fasta", cds), "-o", tmp_path / "out.fasta",
                   "--kept-columns", tmp_path / "kept.txt", "--mismatch", mismatch)
    written = read_fasta((tmp_path / "out.fasta").read_text())
    if mismatch == "drop":  # the record is not written: that is told
        assert done.returncode == 1 and changed not in written and "match TGG" in done.stderr
    else:
        assert done.returncode == 0 and written == family.expected(kept), done.stderr
        assert done.stderr.splitlines() == [
            f"ntpepmap: {TAXA} records written, 0 codons masked, 0 kept, 0 located, 0 padded, "
            f"0 left out; 1 codon failed in columns trimmed away"]
