"""The outputs as the next programs read them: codeml, HyPhy, IQ-TREE, Biopython."""

from __future__ import annotations

import gzip
import os
import random
import re
import shutil
import subprocess
import sys
from pathlib import Path

import pytest

from helpers import (CODON, EXPECTED, codon_row, make_batch_locus, read_fasta, read_paml,
                     read_phylip, run_cli, search_path, write_fasta)

# 'a:b(c)' carries an internal stop (TGA under '*'); '719' and 'a:b(c)' a terminal one.
STOPS = {"719": ("MKW-LF*", "ATGAAGTGGCTGTTCTAA"), "a:b(c)": ("MK*-LF*", "ATGAAGTGACTGTTCTAG"),
         "x|y": ("MKWDLF-", "ATGAAGTGGGATCTGTTC")}
KEPT = {"719": codon_row("MKW-LF*"), "a:b(c)": "ATGAAGTGA---CTGTTCTAG",
        "x|y": codon_row("MKWDLF-")}
INTERNAL_STOP = r"p\.fa: a:b\(c\): column 3 \(residue 3\): internal stop codon TGA under \*; "


def nexus_rows(text: str) -> dict[str, str]:
    """The matrix of a NEXUS file, names unquoted; and the codon positions as sets."""
    assert "format datatype=dna missing=? gap=-;" in text
    assert "charset codon1 = 1-21\\3;" in text and "charset codon3 = 3-21\\3;" in text
    matrix = text.split("matrix\n")[1].split(";")[0]
    return {name.strip().strip("'"): row for name, row in
            (line.rsplit(None, 1) for line in matrix.strip().splitlines())}


@pytest.mark.parametrize("args, read, rows, files, line", [
    ([], read_fasta, KEPT, {}, INTERNAL_STOP + r"kept\n.*; 1 internal stop codon kept$"),
    (["--stops", "mask"], read_fasta, {"719": codon_row("MKW-LF") + "NNN",
                                       "a:b(c)": "ATGAAGNNN---CTGTTCNNN", "x|y": KEPT["x|y"]},
     {}, INTERNAL_STOP + r"masked\n.*; 3 stop codons masked$"),
    (["--stops", "drop-columns"], read_fasta, {name: row[:6] + row[9:18] for name, row in
                                                KEPT.items()},
     {}, r"its column left out of every row\n.*; 3 stop codons in columns left out$"),
    (["--out-format", "nexus"], nexus_rows, KEPT, {},
     r"^ntpepmap: warning: 1 name\(s\) with one of .* written quoted, .*: a:b\(c\); --rename gives"),
    (["--partitions", "parts.txt"], read_fasta, KEPT,
     {"parts.txt": "DNA, codon1 = 1-21\\3\nDNA, codon2 = 2-21\\3\nDNA, codon3 = 3-21\\3\n"}, ""),
    (["--rename", "map.tsv", "--out-format", "phylip"], read_phylip,
     {"719": KEPT["719"], "a_b_c": KEPT["a:b(c)"], "x_y": KEPT["x|y"]},
     {"map.tsv": "719\t719\na_b_c\ta:b(c)\nx_y\tx|y\n"}, r"(?s)\A(?!.*warning: \d+ name)"),
    (["--out-format", "paml", "--stops", "mask"], read_paml,
     {"719": codon_row("MKW-LF") + "NNN", "a:b(c)": "ATGAAGNNN---CTGTTCNNN", "x|y": KEPT["x|y"]},
     {}, r"^ntpepmap: warning: 1 name\(s\) with one of .*tree files take for punctuation: a:b\(c\);"),
    (["--out-format", "paml"], read_paml, KEPT, {},
     r"2 column\(s\) hold stop codons, which codeml reads as missing .*; --stops mask"),
], ids=["keep", "mask", "drop-columns", "nexus", "partitions", "rename", "paml", "paml keep"])
def test_stops_names_and_files_for_the_next_program(tmp_path, args, read, rows, files, line):
    pep = write_fasta(tmp_path / "p.fa", {name: row for name, (row, _) in STOPS.items()})
    cds = write_fasta(tmp_path / "c.fa", {name: seq for name, (_, seq) in STOPS.items()})
    done = run_cli(pep, cds, "-o", "out", *args, cwd=tmp_path)
    assert done.returncode == 0 and re.search(line, done.stderr, re.M), done.stderr
    assert read((tmp_path / "out").read_text()) == rows
    assert {name: (tmp_path / name).read_text() for name in files} == files
    assert done.stderr.count("stop codon TGA") == 1


@pytest.mark.parametrize("pep, cds, args, line", [
    # Vertebrate mitochondrial CDS under the standard code; table 3 reads CTG as T.
    ({"a": "MKWLMW", "b": "MKWLMF", "c": "MKWL--"},
     {"a": "ATGAAGTGACTGATATGA", "b": "ATGAAGTGACTGATATTC", "c": "ATGAAGTGACTG"}, [],
     r"all 6 masked codons fit tables 2, 5, 13 and 21; try -t 2$"),
    ({"a": "MKWLMW", "b": "MKWLMW", "c": "MKIW--"},  # ATA under I: M in every one of them
     {"a": "ATGAAGTGACTGATATGA", "b": "ATGAAGTGACTGATATGA", "c": "ATGAAGATATGG"}, [], None),
    ({"a": "MKUW", "b": "MKUW"}, {"a": "ATGAAGTGATGG", "b": "ATGAAGGCTTGG"}, [],
     r"b: column 3 \(residue 3\): U does not match GCT \(A in table 1\); masked$"),
    ({"Homo sapiens": "MKW", "Homo neanderthalensis": "MKF"},
     {"Homo neanderthalensis": "ATGAAGTTC", "Homo sapiens": "ATGAAGTGG"}, [],
     r"Homo \(2\) paired by their whole header lines; .*--rename makes them unique$"),
    # A short W-rich mitochondrial protein: more than half its residues fail under table 1.
    ({name: "MWWKWLWAWFW" for name in "abc"}, {name: "ATGTGATGAAAATGACTATGAGCATGATTTTGATAA" for name in "abc"},
     [], r"c: 6 of 11 residues do not match their triplets in table 1, but all do in tables 2, 4, 5, 13, "
         r"24, 27, 28, 31 and 33: try -t 2; left out\n.*error: .*every record was left out; nothing written; "
         r"all 18 failing codons fit tables 2, .* and 33; try -t 2$"),
    ({"a": "MKLAWFGEKLAW", "b": "MKLAFFGEKLAF"},  # two TGA for W are enough
     {"a": "ATGAAACTAGCATGATTTGGAGAAAAACTAGCATGA", "b": "ATGAAACTAGCATTTTTTGGAGAAAAACTAGCATTT"}, [],
     r"all 2 masked codons fit tables 2, 4, 5, .* and 33; try -t 2$"),
    ({"a": "MKLAWFGEKLAF", "b": "MKLAFFGEKLAF"},  # one is not
     {"a": "ATGAAACTAGCATGATTTGGAGAAAAACTAGCATTT", "b": "ATGAAACTAGCATTTTTTGGAGAAAAACTAGCATTT"}, [], None),
    ({"a": "MKLAWFGEKLAW", "b": "MKLAFFGEKLAF"},  # nor a wrong pairing's codons
     {"a": "ATGCCCGGGTTTAAAGAGCATCGCTATTGGGGGAAT", "b": "ATGAAACTAGCATTTTTTGGAGAAAAACTAGCATTT"}, [],
     r"a: 11 of 12 residues .* in table 1;.*: wrong pairing, not this record's CDS; left out$"),
], ids=["table hint", "no hint: ATA under I", "U over GCT", "repeated identifiers", "wrong pairing in table 1",
        "two codons", "no hint: one codon", "no hint: wrong pairing"])
def test_hints_and_checks_of_codes_and_names(tmp_path, pep, cds, args, line):
    done = run_cli(write_fasta(tmp_path / "p.fa", pep), write_fasta(tmp_path / "c.fa", cds), *args)
    assert done.returncode in (0, 1) or "every record was left out" in done.stderr
    assert (line is None and "try -t" not in done.stderr) or re.search(line, done.stderr, re.M), \
        done.stderr
    if "Homo sapiens" in pep:
        assert done.stdout == ">Homo\nATGAAGTGG\n>Homo\nATGAAGTTC\n"


def real_like_locus(tmp_path, names, internal_stop, stop_letter="*"):
    """Diverged copies of one gene: gaps, a terminal stop each, and in the third an internal one
    (TGA, under stop_letter)."""
    rng = random.Random(7)
    base = [rng.choice("KWLFSEDP") for _ in range(60)]
    proteins, cds = {}, {}
    for index, name in enumerate(names):
        row = ["M"] + [aa if rng.random() > .15 else rng.choice("KWLFSEDP") for aa in base] + ["*"]
        if index % 2:
            row[5:8] = "---"
        if internal_stop and index == 2:
            row[20] = stop_letter
        proteins[name] = "".join(row)
        cds[name] = "".join("TGA" if aa in "*XU" and site < len(row) - 1 else CODON[aa]
                            for site, aa in enumerate(row) if aa != "-")
    return write_fasta(tmp_path / "p.fa", proteins), write_fasta(tmp_path / "c.fa", cds)


def _program(name: str) -> str | None:
    # Debian's hyphy wrapper passes its arguments on as one; its plain binary reads them.
    plain = "/usr/lib/hyphy/bin/hyphy"
    return plain if name == "hyphy" and os.access(plain, os.X_OK) else shutil.which(name)


NAMES = ["719", "136", "2044", "88", "3"]
TREE = "((719,136),2044,(88,3));\n"
# HyPhy's selection analyses load a codon alignment through this, which refuses stop codons.
HYPHY_LOAD = ('LoadFunctionLibrary("libv3/tasks/alignments.bf");\nfscanf(stdin, "String", path);\n'
              'alignments.LoadGeneticCodeAndAlignment("ds", "codons", path);\n')
CLIENTS = {
    "hyphy": ["load.bf"],  # the alignment's path and code 1 (Universal) on standard input
    "iqtree2": ["-s", "{aln}", "-te", "tree.nwk", "-m", "GTR", "-redo", "-quiet"],
    "iqtree2 partitions": ["-s", "{aln}", "-p", "parts.txt", "-te", "tree.nwk", "-m", "GTR",
                           "-redo", "-quiet"],
    "iqtree2 codon": ["-s", "{aln}", "-st", "CODON", "-m", "MG", "-te", "tree.nwk", "-redo",
                      "-quiet"],
}


# (the client, the format, the letter over the internal stop codon)
@pytest.mark.parametrize("client, out_format, letter", [
    ("hyphy", "fasta", "*"), ("hyphy", "phylip", "*"), ("iqtree2", "phylip", "*"), ("iqtree2", "fasta", "*"),
    ("iqtree2", "nexus", "*"), ("iqtree2 partitions", "phylip", "*"), ("iqtree2 codon", "phylip", "*"),
    ("iqtree2 codon", "fasta", "*"), ("iqtree2 codon", "phylip", "U"), ("iqtree2 codon", "fasta", "X"),
    ("hyphy", "fasta", "U")])
def test_masked_stops_are_accepted_by_the_client(tmp_path, client, out_format, letter):
    program = _program(client.split()[0])
    if program is None:
        pytest.skip(f"{client.split()[0]} is not installed (Debian: hyphy-pt, iqtree)")
    pep, cds = real_like_locus(tmp_path, NAMES, internal_stop=True, stop_letter=letter)
    aln = tmp_path / f"aln.{out_format}"
    assert run_cli(pep, cds, "--stops", "mask", "--out-format", out_format, "-o", aln,
                   "--partitions", tmp_path / "parts.txt").returncode == 0
    (tmp_path / "tree.nwk").write_text(TREE)
    (tmp_path / "load.bf").write_text(HYPHY_LOAD)
    done = subprocess.run([program] + [arg.format(aln=aln) for arg in CLIENTS[client]],
                          cwd=tmp_path, capture_output=True, text=True, timeout=300,
                          input=f"{aln}\n1\n")
    assert done.returncode == 0, done.stdout[-2000:] + done.stderr[-2000:]


# (the letter over the codon, the codon, --stops, the codon written, the line told, the summary's count)
@pytest.mark.parametrize("letter, codon, policy, written, told, counted", [
    ("X", "TGA", "keep", "TGA", "internal stop codon TGA under X; kept", "1 internal stop codon kept"),
    ("X", "TAG", "mask", "NNN", "internal stop codon TAG under X; masked", "1 stop codon masked"),
    ("X", "GCT", "mask", "GCT", None, "0 left out"),
    ("U", "TGA", "keep", "TGA", "selenocysteine codon TGA under U; kept", "1 selenocysteine or pyrrolysine"),
    ("U", "TGA", "mask", "NNN", "selenocysteine codon TGA under U; masked", "1 selenocysteine or pyrrolysine"),
    ("O", "TAG", "drop-columns", "", "pyrrolysine codon TAG under O; its column left out of every row",
     "1 selenocysteine or pyrrolysine"),
], ids=["X over TGA kept", "X over TAG masked", "X over GCT", "U kept", "U masked", "O dropped"])
def test_stops_under_x_u_and_o_are_told_and_follow_stops(tmp_path, letter, codon, policy, written, told,
                                                         counted):
    write_fasta(tmp_path / "p.fa", {"a": f"MKW{letter}LF", "b": "MKWDLF"})
    write_fasta(tmp_path / "c.fa", {"a": f"ATGAAGTGG{codon}CTGTTC", "b": "ATGAAGTGGGATCTGTTC"})
    done = run_cli("p.fa", "c.fa", "--stops", policy, "-o", "out", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    assert read_fasta((tmp_path / "out").read_text())["a"] == f"ATGAAGTGG{written}CTGTTC"
    notes = [line for line in done.stderr.splitlines() if "column 4" in line]
    assert notes == ([f"ntpepmap: p.fa: a: column 4 (residue 4): {told}"] if told else [])
    assert counted in done.stderr.splitlines()[-1] and done.stderr.count("stop codon") <= 2


def test_codeml_reads_digit_only_names(tmp_path):
    codeml = shutil.which("codeml")
    if codeml is None:
        pytest.skip("codeml is not installed (Debian: paml)")
    pep, cds = real_like_locus(tmp_path, NAMES, internal_stop=False)
    assert run_cli(pep, cds, "--out-format", "paml", "--stops", "mask", "-o",
                   tmp_path / "aln.paml").returncode == 0
    (tmp_path / "codeml.ctl").write_text(
        "seqfile = aln.paml\noutfile = out.txt\nnoisy = 0\nverbose = 0\nrunmode = -2\n"
        "seqtype = 1\nCodonFreq = 2\nmodel = 0\nNSsites = 0\nicode = 0\ncleandata = 0\n")
    done = subprocess.run([codeml, "codeml.ctl"], cwd=tmp_path, capture_output=True, text=True,
                          stdin=subprocess.DEVNULL, timeout=300)
    out = (tmp_path / "out.txt").read_text() if (tmp_path / "out.txt").exists() else ""
    assert done.returncode == 0 and "EOF" not in done.stdout, done.stdout[-2000:]
    assert re.findall(r"^#\d+: (\S+)", out, re.M) == NAMES, out[:2000]


# ---- the format an output's name asks for ------------------------------------------

NAMED = {"a.phy": "phylip-relaxed", "b.nexus": "nexus", "c.clw": "clustal", "d.fna.gz": "fasta",
         "e.txt": "fasta"}
BIO_FORMAT = {"phylip": "phylip-relaxed", "nexus": "nexus", "clustal": "clustal"}


def run_named(tmp_path, how: str, args: list[str]) -> str:
    """Writes each of NAMED's outputs as the command, a batch or the workflow does; stderr."""
    lines = []
    for name in NAMED:
        pep, cds = make_batch_locus(tmp_path, name.split(".")[0])
        lines.append(f"pep/{pep.name}\tcds/{cds.name}\tout/{name}\n")
    (tmp_path / "manifest.tsv").write_text("".join(lines))
    if how == "single":
        runs = [run_cli(*line.split("\t")[:2], "-o", line.split("\t")[2].strip(), *args,
                        cwd=tmp_path) for line in lines]
    elif how == "batch":
        runs = [run_cli("batch", "manifest.tsv", *args, cwd=tmp_path)]
    else:
        config = [f"out_format={args[1]}"] if args else []
        runs = [subprocess.run([sys.executable, "-m", "snakemake", "--snakefile",
                                str(Path(__file__).parent.parent / "workflow" / "Snakefile"),
                                "--cores", "1", "--config",
                                "manifest=manifest.tsv", "log_dir=logs", *config],
                               cwd=tmp_path, capture_output=True, text=True, timeout=300,
                               env=dict(os.environ, PYTHONPATH=search_path()))]
    assert all(done.returncode == 0 for done in runs), [done.stderr for done in runs]
    return "".join(done.stderr for done in runs)


@pytest.mark.parametrize("how, args", [("single", []), ("single", ["--out-format", "nexus"]),
                                       ("batch", []), ("batch", ["--out-format", "clustal"]),
                                       ("workflow", [])])
def test_each_output_takes_the_format_its_name_asks_for(tmp_path, how, args):
    from Bio import AlignIO
    if how == "workflow":
        pytest.importorskip("snakemake")
    stderr = run_named(tmp_path, how, args)
    for name, named in NAMED.items():
        path = tmp_path / "out" / name
        with (gzip.open(path, "rt") if name.endswith(".gz") else open(path)) as handle:
            read = AlignIO.read(handle, BIO_FORMAT[args[1]] if args else named)
        assert {record.id: str(record.seq) for record in read} == EXPECTED, name
    overridden = [name for name, named in NAMED.items()
                  if args and name != "e.txt" and named != BIO_FORMAT[args[1]]]
    assert all(name in stderr for name in overridden[:3]) and ("warning" in stderr) == bool(overridden)


# ---- names every tree program reads, and all it takes to restore them ---------------------

@pytest.mark.parametrize("headers", [
    ["Homo sapiens", "Homo neanderthalensis", "Pan troglodytes"],
    ["Homo sapiens", "Homo sapiens", "Homo"],  # the same header line twice: told apart by order
    ["a b\tc", "a b\td", "x:y(z) w", "_ _"],   # a tab inside, letters that break Newick
])
def test_the_rename_map_restores_every_original(tmp_path, headers):
    records = list(zip(headers, ["MKW-LFSE", "MK--LFSE", "M-WDLFSP", "MKWDLF-E"]))
    write_fasta(tmp_path / "p.fa", records)
    write_fasta(tmp_path / "c.fa", [(header, codon_row(row).replace("-", "")) for header, row in records])
    done = run_cli("p.fa", "c.fa", "-o", "aln.phy", "--rename", "map.tsv", cwd=tmp_path)
    assert done.returncode == 0, done.stderr
    written = read_phylip((tmp_path / "aln.phy").read_text())
    originals = [line.split("\t", 1) for line in (tmp_path / "map.tsv").read_text().splitlines()]
    idents = [header.split()[0] for header in headers]
    told = [header if idents.count(ident) > 1 else ident for header, ident in zip(headers, idents)]
    assert [original for _, original in originals] == told
    assert [written[new] for new, _ in originals] == [codon_row(row) for _, row in records]
    assert all(re.fullmatch(r"[A-Za-z0-9_.-]{1,30}", new) for new in written)


def test_renaming_fifty_thousand_records_takes_under_a_second():
    import time
    from ntpepmap_cli.outputs.renaming import renamed_rows
    rows = [("Homo sapiens", "ATG")] * 25_000 + [(f"x{n % 7}" * 20, "ATG") for n in range(25_000)]
    start = time.perf_counter()
    names, _ = renamed_rows(rows)
    assert time.perf_counter() - start < 1.0 and len({name for name, _ in names}) == len(rows)
