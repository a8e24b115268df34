"""The tool on inputs shaped like users' data: how records pair, and what is refused."""

from __future__ import annotations

import re

import pytest

from ntpepmap_cli.errors import InputError
from ntpepmap_cli.gene_table import load_gene_table
from helpers import fasta_text, run_cli

def codon_row(row: str, cds: str, width: int) -> str:
    """The CDS's triplets as written (case, ambiguity letters), gaps as '---'."""
    triplets = iter(re.findall("...", cds.replace("-", "")))
    return "".join("---" if aa in "-.~" else next(triplets)
                   for aa in row.ljust(width, "-"))


# Each record: identifier in the alignment, its row, identifier in the CDS file, CDS, fate.
LOCI = {
    "repeated names": ([
        ("a", "MKW", "a", "ATGAAGTGG", "written"), ("b", "MK-", "b x", "ATGAAA", "written"),
        ("a", "M-W", "a", "ATGTGGTAA", "written")], [], 0, r"paired by occurrence.*: a \(2\)$"),
    "ragged rows, '.' and '~' gaps": ([
        ("a", "M.KW", "a", "ATGAAGTGG", "written"), ("b", "MK", "b", "ATGAAG", "padded"),
        ("c", "M~K", "c", "ATGAAA", "padded")], [], 1, "alignment's 4$"),
    "identifiers mapped": ([
        ("sp1", "MK-W", "gene_1", "ATGAAATGG", "written"),
        ("sp2", "M-KW", "sp2", "ATGAAGTGG", "written")], ["--id-map", "MAP"], 0,
        r"\Antpepmap: 2 records written[^\n]*\n\Z"),
    "lower case, ambiguous bases, a CDS too short": ([
        ("a", "MKW", "a", "atgAARtgg", "written"), ("b", "MKW", "b", "ATGAAGTGR", "written"),
        ("c", "MKW", "c", "ATGAAG", "left out")], [], 1, "c: CDS of 6 nt"),
}


@pytest.mark.parametrize("records, args, status, stderr", LOCI.values(), ids=list(LOCI))
def test_real_world_shaped_locus(tmp_path, records, args, status, stderr):
    """Every row byte-exact, in the alignment's order; every row padded or left out named."""
    (tmp_path / "p.fa").write_text(fasta_text((ident, row) for ident, row, *_ in records))
    cds = sorted(((cds_id, cds) for _, _, cds_id, cds, _ in records), reverse=True,
                 key=lambda record: record[0])  # another order; repeats keep theirs
    (tmp_path / "c.fa").write_text(fasta_text(cds))
    (tmp_path / "map.txt").write_text("# protein\tCDS\nsp1 gene_1\nother gene_2\n")
    args = [tmp_path / "map.txt" if arg == "MAP" else arg for arg in args]
    done = run_cli(tmp_path / "p.fa", tmp_path / "c.fa", *args)
    width = max(len(row) for _, row, *_ in records)
    assert done.stdout == fasta_text((ident, codon_row(row, cds, width))
                                for ident, row, _, cds, fate in records if fate != "left out")
    assert done.returncode == status and re.search(stderr, done.stderr, re.M), done.stderr
    for ident, *_, fate in records:
        assert fate == "written" or re.search(f"\\.fa: {ident}: .*{fate}", done.stderr)


PEP, CDS = ">a\nMKWLF\n>b\nMK-LF\n", ">a\nATGAAGTGGCTGTTC\n>b\nATGAAGCTGTTC\n"
REPEATS = ">a\nMK\n>b\nMK\n>a\nMK\n", ">a\nATGAAG\n>b\nATGAAG\n>a\nATGAAA\n"


@pytest.mark.parametrize("pep, cds, args, message", [
    (*REPEATS, ["--out-format", "phylip"], r"p\.fa: repeated identifiers: a; PHYLIP output"),
    (*REPEATS, ["--out-format", "paml"], r"p\.fa: repeated identifiers: a; PAML output"),
    (PEP, CDS.replace(">", ">x"), [], r"no identifier of \S*p\.fa is in this file \(2 and 2 "
                                      r"records\); .* --pair-by-order$"),
    (CDS, PEP, [], r"p\.fa: holds nucleotides and \S*c\.fa holds protein: .* look swapped"),
    (PEP, PEP, [], r"c\.fa: holds protein, not coding DNA: was the protein alignment given"),
    (CDS, CDS, [], r"p\.fa: holds nucleotides, not protein: was the CDS given"),
    (PEP, CDS, ["--id-map", "a x\nb b\na y\n"], r"map\.txt: line 3: .* a is already mapped on "
                                                r"line 1$"),
    (PEP, CDS, ["--id-map", "a x9\n"], r"no CDS for 1 aligned record\(s\) .*: a \(as x9\); "
                                       r"unpaired here: a; .* --pair-by-order$"),
])
def test_pairing_refusals(tmp_path, pep, cds, args, message):
    for name, text in (("p.fa", pep), ("c.fa", cds), ("map.txt", args[-1] if args else "")):
        (tmp_path / name).write_text(text)
    if args[:1] == ["--id-map"]:
        args = ["--id-map", tmp_path / "map.txt"]
    done = run_cli(tmp_path / "p.fa", tmp_path / "c.fa", *args)
    assert (done.returncode, done.stdout, done.stderr.count("\n")) == (2, "", 1), done.stderr
    assert re.search(message, done.stderr.strip()), done.stderr


@pytest.mark.parametrize("content, expected", [
    ('{"M": ["aug"], "*": ["UAA", "tga"]}', {"M": ["ATG"], "*": ["TAA", "TGA"]}),
    ('{"M": ["ATG"], "-": ["TAA"]}', r"key '-': keys are single residue letters"),
    ('{"M": ["ATG"], "~": ["TAA"]}', r"key '~'"),
    ('{"MK": ["ATG"]}', r"key 'MK'"),
    ('{"K": ["AAA", "AAN"]}', r"key 'K': 'AAN' is not three letters of A, C, G, T"),
    ('{"K": ["AAAA"]}', r"key 'K': 'AAAA' is not three"),
    ('{"K": [7]}', r"key 'K': 7 is not a codon"),
    ('{"K": "AAA"}', r"key 'K': the value must be a non-empty list"),
    ('{"K": []}', r"key 'K': the value must be a non-empty list"),
    ('{"K": ["AAA"], "K": ["AAG"]}', r"key 'K' is given twice"),
    ('["ATG"]', r"the genetic code must be a JSON object"),
    ("{not json", r"not JSON: .* at line 1"),
])
def test_gene_table_file_is_checked_on_load(tmp_path, content, expected):
    path = tmp_path / "code.json"
    path.write_text(content)
    if isinstance(expected, dict):
        assert load_gene_table(str(path)) == expected
        return
    with pytest.raises(InputError, match=f"code\\.json: {expected}"):
        load_gene_table(str(path))
