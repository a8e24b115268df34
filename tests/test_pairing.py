"""The tool on inputs shaped like users' data: how records pair, and what is refused."""

from __future__ import annotations

import re

import pytest

from ntpepmap_cli.errors import InputError
from ntpepmap_cli.reading.gene_table import load_gene_table
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
        ("a", "M-W", "a", "ATGTGGTAA", "written")], [], 0, r"a \(2\) paired by occurrence.*--rename makes them unique$"),
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
    (PEP, CDS, ["--strict", "--id-map", "a x9\n"], r"no CDS for 1 aligned record\(s\) .*: "
                                                   r"a \(as x9\); unpaired here: a; .* --pair-by-order$"),
])
def test_pairing_refusals(tmp_path, pep, cds, args, message):
    for name, text in (("p.fa", pep), ("c.fa", cds), ("map.txt", args[-1] if args else "")):
        (tmp_path / name).write_text(text)
    if "--id-map" in args:
        args = [*args[:-1], tmp_path / "map.txt"]
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


ENSP = "ENSP5.2 pep chromosome:GRCh38:7:1:9:1 gene:ENSG5.1 transcript:{} gene_biotype:x"
# Protein header lines, CDS header lines (the first holds the protein's CDS), options, and
# the note of the rule that pairs them or the error.
HEADER_SHAPES = {
    "NCBI protein_id": (["NP_1.1 thr operon leader [E. coli]"],
                        ["lcl|NC_9.3_cds_XP_7.1_3 [gene=thrL] [protein_id=NP_1.1]",
                         "lcl|NC_9.3_cds_NP_2.1_4 [protein_id=NP_2.1]"], [], "NCBI protein_id"),
    "NCBI lcl identifier": (["NP_1.1"], ["lcl|NC_9.3_cds_NP_1.1_12 [gene=thrL]"], [],
                            "NCBI protein_id"),
    "NCBI accession without its version": (["XP_016856 x"], ["c1 [protein_id=XP_016856.2]",
                                                          "c2 [protein_id=XP_016857.1]"], [],
                                           "NCBI protein_id"),
    "NCBI CDS without its version": (["XP_7.1"], ["c1 [protein_id=XP_7]"], [], "NCBI protein_id"),
    "NCBI versions that differ": (["XP_7.1"], ["c1 [protein_id=XP_7.2]"], [],
                                  r"no identifier of \S+ is in this file"),
    "Species|ID against a species' own file": (["Homo_sapiens|g1.t1"], ["g1.t1", "g2.t1"], [],
                                               "Species|ID"),
    "Ensembl, both versioned": ([ENSP.format("ENST8.4")], ["ENST8.4 cds chromosome:x", "ENST8.5"],
                                [], "Ensembl transcript"),
    "Ensembl CDS unversioned": ([ENSP.format("ENST8.4")], ["ENST8 cds"], [], "Ensembl transcript"),
    "Ensembl protein unversioned": ([ENSP.format("ENST8")], ["ENST8.4 cds"], [],
                                    "Ensembl transcript"),
    "UniProt against plain": (["sp|P1|AATM_RABIT Aspartate"], ["P1 cds", "P2"], [],
                              "db|accession|name"),
    "piped both": (["sp|P1|AATM_RABIT"], ["tr|P1|X_Y", "tr|P2|X_Y"], [], "db|accession|name"),
    "pattern": (["sp7_g1 x"], ["c9 locus_tag=g1", "c8 locus_tag=g2"],
                ["--id-pattern", r"(g\d+)"], "the pattern"),
    "pattern is the only rule": (["NP_1.1"], ["lcl|NC_9.3_cds_NP_1.1_1 [protein_id=NP_1.1]"],
                                 ["--id-pattern", r"tag=(\w+)"],
                                 r"no identifier of \S+ is in this file \(1 and 1 records\); "
                                 r"tried the pattern 'tag=\(\\\\w\+\)' on both header lines"),
    "a miss": (["NP_1.1 x"], ["NP_2.1 [protein_id=NP_2.1]"], [],
               r"tried NCBI protein_id, Ensembl transcript, db\|accession\|name and Species\|ID in the "
               r"headers too \(protein 'NP_1.1 x', CDS 'NP_2.1 \[protein_id=NP_2.1\]'\); pair "
               r"them with --id-map or --id-pattern, or, if .* --pair-by-order$"),
    "two CDS for one protein": (["NP_1.1"], ["c1 [protein_id=NP_1.1]", "c2 [protein_id=NP_1.1]"],
                                [], r"several CDS records fit NP_1.1; pair them with --id-map$"),
    "one CDS for two proteins": (["NP_1.1", "c1"], ["c1 [protein_id=NP_1.1]"], [],
                                 r"a CDS record fits two proteins: c1 and NP_1.1 \(CDS c1\)"),
}


@pytest.mark.parametrize("pep_headers, cds_headers, args, told", HEADER_SHAPES.values(),
                         ids=list(HEADER_SHAPES))
def test_annotation_headers_pair(tmp_path, pep_headers, cds_headers, args, told):
    """The protein's identifiers are kept; extra CDS records are left aside and counted."""
    (tmp_path / "p.fa").write_text(fasta_text((header, "MK-W") for header in pep_headers))
    (tmp_path / "c.fa").write_text(fasta_text((header, "ATGAAGTGG" if at == 0 else "ATGCCCTGA")
                                         for at, header in enumerate(cds_headers)))
    done = run_cli(tmp_path / "p.fa", tmp_path / "c.fa", *args)
    if told not in ("NCBI protein_id", "Ensembl transcript", "db|accession|name", "Species|ID",
                    "the pattern"):
        assert (done.returncode, done.stdout) == (2, ""), done.stderr
        assert re.search(told, done.stderr.strip()), done.stderr
        return
    ident = pep_headers[0].split()[0]
    assert (done.returncode, done.stdout) == (0, f">{ident}\nATGAAG---TGG\n"), done.stderr
    assert f"c.fa: 1 record(s) paired by {told}\n" in done.stderr
    unused = len(cds_headers) - 1
    assert done.stderr.endswith(" left out; 1 CDS record not used\n" if unused else " left out\n")


def test_a_genome_cds_split_in_files_threads_an_alignment_of_some(tmp_path):
    """2,000 genes in two gzip files, 30 of them aligned: exit 0, rows exact; a repeat across
    the files is an error naming both."""
    import gzip
    import random

    rng = random.Random(7)
    codons = {"M": "ATG", "K": "AAG", "W": "TGG", "L": "CTG", "F": "TTC", "E": "GAA"}
    genes = {f"g{n}": "".join(rng.choice("KWLFE") for _ in range(rng.randint(5, 40)))
             for n in range(2000)}
    for part, names in (("a", list(genes)[:1000]), ("b", list(genes)[1000:])):
        with gzip.open(tmp_path / f"{part}.fa.gz", "wt") as out:
            out.write(fasta_text((name, "".join(codons[aa] for aa in genes[name])) for name in names))
    aligned = {name: genes[name] + "-" * (40 - len(genes[name])) for name in rng.sample(
        sorted(genes), 30)}
    (tmp_path / "p.fa").write_text(fasta_text(aligned.items()))
    done = run_cli(tmp_path / "p.fa", tmp_path / "a.fa.gz", tmp_path / "b.fa.gz")
    assert done.returncode == 0, done.stderr
    assert done.stdout == fasta_text((name, "".join(codons.get(aa, "---") for aa in row))
                                for name, row in aligned.items())
    assert done.stderr.endswith(" left out; 1970 CDS records not used\n")
    done = run_cli(tmp_path / "p.fa", tmp_path / "a.fa.gz", tmp_path / "b.fa.gz",
                   tmp_path / "a.fa.gz")
    assert done.returncode == 2 and re.search(r"a\.fa\.gz, \S+a\.fa\.gz: 1000 identifier\(s\) in "
                                              r"several files, such as g0, g1, g10 and 997 more, "
                                              r"and the files have the same name a:", done.stderr)


def test_orthogroups_against_per_species_cds(tmp_path):
    """40 orthogroups against 8 species' gzip CDS files (as --cds, and as a manifest whose
    lines share one file): every output exact, extra genes left aside."""
    import gzip
    import random

    rng = random.Random(3)
    codons = {"M": "ATG", "K": "AAA", "W": "TGG", "L": "TTA", "F": "TTT", "E": "GAG"}
    genes = {f"sp{s}_g{g}": "M" + "".join(rng.choice("KWLFE") for _ in range(rng.randint(4, 30)))
             for s in range(8) for g in range(60)}
    for s in range(8):
        with gzip.open(tmp_path / f"sp{s}.fa.gz", "wt") as out:
            out.write(fasta_text((name, "".join(map(codons.get, seq)) + "TAA")
                            for name, seq in genes.items() if name.startswith(f"sp{s}_")))
    (tmp_path / "all.fa").write_text(fasta_text((name, "".join(map(codons.get, seq)))
                                           for name, seq in genes.items()))
    (tmp_path / "og").mkdir()
    expected = {}
    for og in range(40):
        members = {f"sp{s}_g{og}": genes[f"sp{s}_g{og}"] for s in rng.sample(range(8), 5)}
        rows = {name: seq.ljust(31, "-") for name, seq in members.items()}
        (tmp_path / "og" / f"OG{og:07}.fa").write_text(fasta_text(rows.items()))
        expected[f"OG{og:07}"] = fasta_text((name, "".join(codons.get(aa, "---") for aa in row))
                                       for name, row in rows.items())
    species = [tmp_path / f"sp{s}.fa.gz" for s in range(8)]
    done = run_cli("batch", tmp_path / "og", "--cds", *species, "-O", tmp_path / "out", "-j", "2")
    assert done.returncode == 0, done.stderr
    assert {og: (tmp_path / "out" / f"{og}.fasta").read_text() for og in expected} == expected
    (tmp_path / "loci.tsv").write_text("".join(f"og/{og}.fa\tall.fa\tm/{og}.fa\n"
                                               for og in expected))
    done = run_cli("batch", tmp_path / "loci.tsv", "-j", "2")
    assert done.returncode == 0, done.stderr
    assert {og: (tmp_path / "m" / f"{og}.fa").read_text() for og in expected} == expected
    done = run_cli("batch", tmp_path / "og", "--cds", species[0], species[0], "-O", tmp_path / "x")
    assert done.returncode == 2 and "pairs by the file's name" in done.stderr
    (tmp_path / "all.fa").unlink()  # every locus that shares it fails, saying why
    done = run_cli("batch", tmp_path / "loci.tsv", "-j", "2")
    assert done.returncode == 1 and done.stderr.count("all.fa: No such file") == len(expected)


def test_species_named_orthogroups_against_braker_cds_files(tmp_path):
    """40 orthogroups naming 'Species|ID' against 8 species' files of BRAKER names (g1.t1 in
    each), one named Sp6.cds.fasta, one of names found nowhere else: no option needed, every
    output exact, as a batch and as a single locus; the rule told once for the batch."""
    import gzip
    import random

    rng = random.Random(5)
    codons = {"M": "ATG", "K": "AAA", "W": "TGG", "L": "TTA", "F": "TTT", "E": "GAG"}
    ident = {s: (lambda g, s=s: f"sp7g{g}.t1" if s == 7 else f"g{g}.t1") for s in range(8)}
    genes = {(s, g): "M" + "".join(rng.choice("KWLFE") for _ in range(rng.randint(4, 30)))
             for s in range(8) for g in range(60)}
    files = [tmp_path / name for name in [*(f"Sp{s}.fa.gz" for s in range(6)), "Sp6.cds.fasta", "Sp7.fna"]]
    for s, path in enumerate(files):
        text = fasta_text((ident[s](g), "".join(map(codons.get, genes[s, g])) + "TAA") for g in range(60))
        path.write_bytes(gzip.compress(text.encode()) if path.suffix == ".gz" else text.encode())
    (tmp_path / "og").mkdir()
    expected = {}
    for og in range(40):
        rows = {f"Sp{s}|{ident[s](og)}": genes[s, og].ljust(31, "-") for s in rng.sample(range(8), 5)}
        (tmp_path / "og" / f"OG{og:07}.fa").write_text(fasta_text(rows.items()))
        expected[f"OG{og:07}"] = fasta_text((name, "".join(codons.get(aa, "---") for aa in row))
                                            for name, row in rows.items())
    done = run_cli("batch", tmp_path / "og", "--cds", *files, "-O", tmp_path / "out", "-j", "2")
    assert done.returncode == 0, done.stderr
    assert {og: (tmp_path / "out" / f"{og}.fasta").read_text() for og in expected} == expected
    assert len(re.findall(r"^ntpepmap batch: in 40 loci \(.*\)(, as in \S+)?: \d+ record\(s\) paired by Species\|ID$",
                          done.stderr, re.M)) == 1 and "ntpepmap: " not in done.stderr, done.stderr
    single = run_cli(tmp_path / "og" / "OG0000007.fa", *files)
    assert (single.returncode, single.stdout) == (0, expected["OG0000007"]), single.stderr
    (tmp_path / "plain.fa").write_text(fasta_text([("g1.t1", genes[0, 1])]))  # which species?
    plain = run_cli(tmp_path / "plain.fa", *files)
    assert plain.returncode == 2 and re.search(r"g1\.t1 in several CDS files: the protein names the "
                                               r"one it means as Sp\d\|g1\.t1;", plain.stderr), plain.stderr
