"""The tool's reader: the input shapes users have, and one-line errors that say where."""

from __future__ import annotations

import bz2
import gzip
import lzma
import os
import random
import shutil
import subprocess
import sys

import pytest

from ntpepmap_cli.errors import InputError
from ntpepmap_cli.reading.input_files import read_alignment, read_fasta_marked, read_records
from helpers import CODON, EXPECTED, PROTEINS, cds_of, cli_command, fasta_text, read_fasta as read_fasta_text, search_path

RECORDS = [("alpha", "MKWLF-SEDPQ" * 7), ("b2", "MK--LFSEDP*" * 7), ("c", "-" * 77)]
BYTE_ORDER_MARK = b"\xef\xbb\xbf"


def pieces(seq: str, width: int) -> list[str]:
    return [seq[start:start + width] for start in range(0, len(seq), width)] if width else [seq]


def fasta(records, wrap: int = 0, newline: str = "\n", description: str = "") -> bytes:
    return fasta_text(records, wrap, newline, description).encode()


def genbank_style(records) -> bytes:
    """Lines of 60 letters in blocks of 10, each led by the position of its first letter."""
    lines = []
    for name, seq in records:
        lines.append(f">{name}")
        lines += [f"{start + 1:>9} " + " ".join(pieces(seq[start:start + 60], 10))
                  for start in range(0, len(seq), 60)]
    return ("\n".join(lines) + "\n").encode()


def clustal(records, heading: str = "CLUSTAL W (1.83) multiple sequence alignment", width: int = 30) -> bytes:
    text = heading + "\n\n"
    for start in range(0, len(records[0][1]), width):
        text += "\n" + "".join(f"{name:<8}{seq[start:start + width]}  {start + width}\n" for name, seq in records)
        text += " " * 8 + "*" * width + "\n"
    return text.encode()


def phylip_sequential(records, wrap: int = 0) -> bytes:
    text = f"{len(records)} {len(records[0][1])}\n"
    for name, seq in records:
        text += f"{name}  " + "\n".join(pieces(seq, wrap)) + "\n"
    return text.encode()


def phylip_interleaved(records, width: int = 30) -> bytes:
    text = f" {len(records)} {len(records[0][1])}\n"
    for start in range(0, len(records[0][1]), width):
        text += "".join((f"{name}   " if start == 0 else "") + " ".join(pieces(seq[start:start + width], 10)) + "\n"
                        for name, seq in records) + "\n"
    return text.encode()


def stockholm(records, width: int = 30) -> bytes:
    """As hmmalign writes it: #=GS lines first, a #=GR line under each row, #=GC lines
    closing each block, '//' at the end."""
    text = "# STOCKHOLM 1.0\n\n" + "".join(f"#=GS {name} DE a protein\n" for name, _ in records)
    for start in range(0, len(records[0][1]), width):
        text += "\n"
        for name, seq in records:
            text += f"{name:<12}{seq[start:start + width]}\n#=GR {name:<7} PP {'9' * len(seq[start:start + width])}\n"
        text += f"#=GC PP_cons     {'*' * width}\n#=GC RF          {'x' * width}\n"
    return (text + "//\n").encode()


def nexus(records, interleave: bool, width: int = 30, match: str = "") -> bytes:
    """A TAXA block and a CHARACTERS block as Mesquite and MrBayes write them; a name with a
    space quoted; with `match`, each letter that the first row has in its column is it."""
    def shown(seq: str) -> str:
        first = records[0][1]
        return "".join(match if match and index and letter == first[column] else letter
                       for column, letter in enumerate(seq) for index in [seq is not first])

    names = [f"'{name}'" if " " in name else name for name, _ in records]
    rows = [shown(seq) for _, seq in records]
    text = (f"#NEXUS\n[made by hand]\nBEGIN TAXA;\n  DIMENSIONS NTAX={len(records)};\nEND;\n"
            f"BEGIN CHARACTERS;\n  DIMENSIONS NCHAR={len(rows[0])};\n  FORMAT DATATYPE=PROTEIN "
            f"GAP=- MISSING=?{' MATCHCHAR=' + match if match else ''}{' INTERLEAVE' if interleave else ''};\n"
            f"  MATRIX\n")
    if interleave:
        for start in range(0, len(rows[0]), width):
            text += "".join(f"  {name:<16}{row[start:start + width]}\n" for name, row in zip(names, rows)) + "\n"
    else:
        text += "".join(f"  {name:<16}" + "\n    ".join(pieces(row, width)) + "\n" for name, row in zip(names, rows))
    return (text + "  ;\nEND;\nBEGIN TREES;\n  TREE t = (a,b);\nEND;\n").encode()


def strict_phylip(records, interleave: bool, width: int = 30) -> bytes:
    """As EMBOSS seqret and PHYLIP write it: a name of ten characters, glued to the letters
    where it fills them."""
    text = f" {len(records)} {len(records[0][1])}\n"
    if not interleave:
        return (text + "".join(f"{name[:10]:<10}{seq}\n" for name, seq in records)).encode()
    for start in range(0, len(records[0][1]), width):
        text += "".join(("" if start else f"{name[:10]:<10}") + seq[start:start + width] + "\n"
                        for name, seq in records) + "\n"
    return text.encode()


INSERTS = [("alpha", "MKWlf.SEDPQ" * 7), ("b2", "MK--LFSEDP*" * 7), ("c", "-" * 77)]
SPECIES = [("Homo sapiens", "MKWLF-SEDPQ" * 7), ("Pan", "MK--LFSEDP*" * 7), ("Gorilla_go", "-" * 77)]
SPECIES_READ = [("Homo_sapiens", SPECIES[0][1]), *SPECIES[1:]]
STRICT = [("Homo_sapie", SPECIES[0][1]), *SPECIES[1:]]

SHAPES = {  # format, content, and the records when they are not RECORDS
    "FASTA, one line": ("fasta", fasta(RECORDS)),
    "FASTA, wrapped, descriptions": ("fasta", fasta(RECORDS, wrap=13, description=" some words")),
    "FASTA, CRLF, blank lines": ("fasta", b"\r\n \r\n" + fasta(RECORDS, 20, "\r\n").replace(b"\r\n>", b"\r\n\r\n>")),
    "FASTA, old Mac line ends": ("fasta", fasta(RECORDS, wrap=20, newline="\r")),
    "FASTA, LF, CRLF and CR mixed": ("fasta", b"".join(line + (b"\n", b"\r\n", b"\r")[number % 3] for number, line
                                                     in enumerate(fasta(RECORDS, wrap=20).splitlines()))),
    "FASTA, byte-order mark, no last line end": ("fasta", BYTE_ORDER_MARK + fasta(RECORDS, wrap=30).rstrip()),
    "FASTA, blocks and position numbers": ("fasta", genbank_style(RECORDS)),
    "FASTA, description not UTF-8": ("fasta", fasta(RECORDS, description=" caf\xe9").replace(b"\xc3\xa9", b"\xe9")),
    "FASTA, '>' inside names and rows": ("fasta", b">a x>y\nAC>GT\n>>b\nAC\n", [("a", "AC>GT"), (">b", "AC")]),
    "FASTA, empty sequences": ("fasta", b">a\n\n>b\tx\n>c", [("a", ""), ("b", ""), ("c", "")]),
    "CLUSTAL": ("clustal", clustal(RECORDS)),
    "CLUSTAL by MUSCLE, CRLF": ("clustal", clustal(RECORDS, "MUSCLE (3.8) multiple sequence alignment")
                                .replace(b"\n", b"\r\n")),
    "CLUSTAL, a repeated name keeps its place": ("clustal", clustal(RECORDS[:1] * 2 + RECORDS[1:]),
                                                 RECORDS[:1] * 2 + RECORDS[1:]),
    "PHYLIP sequential": ("phylip", phylip_sequential(RECORDS)),
    "PHYLIP sequential, wrapped": ("phylip", phylip_sequential(RECORDS, wrap=20)),
    "PHYLIP interleaved": ("phylip", phylip_interleaved(RECORDS)),
    "gzip": ("fasta", gzip.compress(fasta(RECORDS, wrap=10))),
    "gzip, one member per record": ("fasta", b"".join(gzip.compress(fasta([record])) for record in RECORDS)),
    "bzip2": ("clustal", bz2.compress(clustal(RECORDS))),
    "xz": ("phylip", lzma.compress(phylip_interleaved(RECORDS))),
    "Stockholm by hmmalign": ("stockholm", stockholm(INSERTS), INSERTS),
    "Stockholm, one block, CRLF": ("stockholm", stockholm(RECORDS, width=77).replace(b"\n", b"\r\n")),
    "NEXUS interleaved, quoted name": ("nexus", nexus(SPECIES, interleave=True), SPECIES_READ),
    "NEXUS sequential, MATCHCHAR": ("nexus", nexus(SPECIES, interleave=False, match="."), SPECIES_READ),
    "NEXUS interleaved, MATCHCHAR": ("nexus", nexus(RECORDS, interleave=True, width=20, match=".")),
    "strict PHYLIP, names glued": ("phylip", strict_phylip(SPECIES, interleave=False), STRICT),
    "strict PHYLIP interleaved": ("phylip", strict_phylip(SPECIES, interleave=True), STRICT),
}


@pytest.mark.parametrize("shape", SHAPES)
def test_every_shape_gives_its_records(tmp_path, shape):
    in_format, content, *given = SHAPES[shape]
    expected = given[0] if given else RECORDS
    path = tmp_path / "input"  # no suffix: compression is known by content
    path.write_bytes(content)
    assert read_alignment(str(path), "auto") == expected
    assert read_alignment(str(path), in_format) == expected
    if in_format == "fasta":
        plain = "MKWLF-"
        records, marked = read_fasta_marked(str(path), plain.encode())
        assert records == expected
        assert marked == [index for index, (_, seq) in enumerate(expected) if set(seq) - set(plain)]


def field_alignment(tmp_path):
    """Five apes' proteins of ten-letter names aligned, and the same unaligned with an insertion
    in one that the others' profile does not hold."""
    rng = random.Random(11)
    base = [rng.choice("KWLFSEDP") for _ in range(40)]
    rows = {}
    for index, name in enumerate(["Hsapiens01", "Ptroglod02", "Ggorilla03", "Ppygmae_04", "Mmulatta05"]):
        row = ["M"] + [aa if rng.random() > .2 else rng.choice("KWLFSEDP") for aa in base]
        if index % 2:
            row[5:8] = "---"
        rows[name] = "".join(row)
    unaligned = {name: row.replace("-", "") for name, row in rows.items()}
    unaligned["Ggorilla03"] = unaligned["Ggorilla03"][:20] + "WWDKL" + unaligned["Ggorilla03"][20:]
    return rows, unaligned


# How a program of the field writes the alignment, and the format Biopython reads it as.
WRITERS = {
    "hmmalign Stockholm, insertions": (["hmmbuild --amino -o /dev/null aln.hmm aln.fa",
                                        "hmmalign -o out aln.hmm seqs.fa"], "stockholm"),
    "seqret strict PHYLIP interleaved": (["seqret -auto aln.fa -osformat2 phylip -outseq out"], "phylip"),
    "seqret strict PHYLIP sequential": (["seqret -auto aln.fa -osformat2 phylipnon -outseq out"], "phylip"),
    "seqret NEXUS interleaved": (["seqret -auto aln.fa -osformat2 nexus -outseq out"], "nexus"),
    "seqret NEXUS sequential": (["seqret -auto aln.fa -osformat2 nexusnon -outseq out"], "nexus"),
}


@pytest.mark.parametrize("writer", WRITERS)
def test_alignments_as_the_programs_of_the_field_write_them_thread_exactly(tmp_path, writer):
    """Each row read as Biopython reads it (which makes Stockholm's '.' '-'); the codon rows exact."""
    from Bio import AlignIO

    commands, biopython_format = WRITERS[writer]
    if not all(shutil.which(command.split()[0]) for command in commands):
        pytest.skip(f"{commands[-1].split()[0]} is not installed")
    rows, unaligned = field_alignment(tmp_path)
    (tmp_path / "aln.fa").write_text(fasta_text(rows.items()))
    proteins = unaligned if "hmmalign" in writer else {name: row.replace("-", "") for name, row in rows.items()}
    (tmp_path / "seqs.fa").write_text(fasta_text(proteins.items()))
    (tmp_path / "cds.fa").write_text(fasta_text((name, cds_of(seq)) for name, seq in proteins.items()))
    for command in commands:
        subprocess.run(command.split(), cwd=tmp_path, check=True, capture_output=True, timeout=120)
    read = [(record.id, str(record.seq)) for record in AlignIO.read(tmp_path / "out", biopython_format)]
    assert [(name, row.replace(".", "-")) for name, row in read_alignment(str(tmp_path / "out"), "auto")] == read
    done = subprocess.run(cli_command() + [str(tmp_path / "out"), str(tmp_path / "cds.fa")], capture_output=True,
                          text=True, env=dict(os.environ, PYTHONPATH=search_path()), timeout=120)
    assert done.returncode == 0, done.stderr
    assert done.stdout == fasta_text((name, "".join("---" if aa == "-" else CODON[aa.upper()] for aa in row))
                                     for name, row in read)


ANNOTATED = b">NP_1.1 thr operon [protein_id=NP_1.1]\r\nATG\n>  Homo sapiens \t\n>x caf\xe9\nAC\n"
LARGE = [(f"s{index} gene:g{index} transcript:t{index}.1", seq) for index, seq in enumerate(
    ["ACGT" * 300] * 2000)]  # enough to be read side by side


@pytest.mark.parametrize("content, in_format, headers", [
    (ANNOTATED, "fasta", ["NP_1.1 thr operon [protein_id=NP_1.1]", "Homo sapiens", "x caf\ufffd"]),
    (gzip.compress(ANNOTATED[:30]) + gzip.compress(ANNOTATED[30:]), "fasta",
     ["NP_1.1 thr operon [protein_id=NP_1.1]", "Homo sapiens", "x caf\ufffd"]),
    (fasta(LARGE, wrap=60), "fasta", [name for name, _ in LARGE]),
    (clustal(RECORDS), "auto", [name for name, _ in RECORDS]),
    (phylip_interleaved(RECORDS), "phylip", [name for name, _ in RECORDS]),
], ids=["fasta", "gzip", "large", "clustal", "phylip"])
def test_whole_header_lines_kept_with_the_records(tmp_path, content, in_format, headers):
    path = tmp_path / "input"
    path.write_bytes(content)
    records = read_records(str(path), in_format).records
    assert records.headers() == headers == [records.header(index) for index in range(len(records))]
    assert records.identifiers() == [name.split()[0] for name in headers]
    assert len(records.records()) == len(headers)


LONG = "ACGT" * 300_000
DAMAGED_GZIP = gzip.compress(b">a\nACGT\n" * 50)[:-9]

ERRORS = [
    (b"", "auto", "empty file"),
    (b" \r\n\n", "fasta", "empty file"),
    (b"hello\n>a\nAC\n", "auto", "line 1: not FASTA, CLUSTAL, PHYLIP, Stockholm nor NEXUS (use --in-format)"),
    (b"\n\nMKW\n", "fasta", "line 3: not FASTA: the first line does not start with '>'"),
    (b">a\nAC\n> \t\nAC\n", "fasta", "line 3, record 2: no identifier"),
    (b">a\nAC\n>b\xff c\nAC\n", "auto", "line 3, record 2: the identifier is not UTF-8 text"),
    (b">a x\xff\nAC\n>b\nAC\r\nA\xffC\n", "auto", "line 5, record 2 (b): the sequence is not UTF-8 text"),
    (b">a\rAC\r\n>b\rA\xffC\r", "fasta", "line 4, record 2 (b): the sequence is not UTF-8 text"),
    (b">a\nMK\n", "clustal", "line 1: not CLUSTAL: the first line does not start with 'CLUSTAL'"),
    (b"CLUSTAL\n\na MK\nb\n", "clustal", "line 4, record 2 (b): no sequence after the name"),
    (b"CLUSTAL\n\na MK\nb MK\n\nb MK\na MK\n", "auto", "line 6, record 1 (a): this block has 'b' in its place"),
    (b"CLUSTAL\n\na MK\nb MK\n\na MK\n", "auto", "line 6: this block has 1 of the 2 sequences of the first"),
    (b"CLUSTAL\n\na MK\n\na MK\nb MK\n", "auto", "line 6: this block has more sequences than the first"),
    (b"a b\n", "phylip", "line 1: not PHYLIP: the first line does not give two counts"),
    (b"2 6\na MKW\nb MKW\n\nLFS\nLFSW\n", "auto", "line 6, record 2 (b): 7 columns where the first line says 6"),
    (b"2 6\na MKWLFS\nb MKW\n", "phylip", "line 3, record 2 (b): the file ends after 3 of 6 columns"),
    (b"3 2\na MK\nb MK\n", "phylip", "line 3: the file ends after 2 of 3 sequences"),
    (b"2 3\na AC\nb ACG\nT\n", "phylip", "line 4: the file ends inside a block: each block gives every sequence a line"),
    (b"1 2\na MK\nb MK\n", "phylip", "line 3: more lines than the first line announces"),
    (b"# STOCKHOLM 1.0\na MK\nb MK\n", "auto", "line 3: the file ends before the '//' that closes the alignment"),
    (b"# STOCKHOLM 1.0\na MK\n\na LF\nb LF\n//\n", "auto", "line 5: 'b' is in no block before this one"),
    (b"# STOCKHOLM 1.0\na MK\n//\n# STOCKHOLM 1.0\n", "auto", "line 4: a second alignment after '//': "
                                                            "give one alignment per file"),
    (b"#NEXUS\nbegin data; dimensions ntax=1; matrix a MK; end;\n", "auto",
     "line 2: the MATRIX comes without NTAX and NCHAR in a DIMENSIONS command"),
    (b"#NEXUS\nbegin data; dimensions ntax=2 nchar=2;\nmatrix\na MK\n;end;", "auto",
     "line 5: the MATRIX ends after 1 of NTAX=2 rows"),
    (b"#NEXUS\nbegin data; dimensions ntax=2 nchar=2;\nmatrix\na MK\n'b MK\n;end;", "auto",
     "line 5, record 2: a quoted name that is never closed"),
    (b"#NEXUS\r\n[x]\r\nbegin data; dimensions ntax=1 nchar=2; matrix a MK\r\nb MK;", "auto",
     "line 4: more rows than NTAX=1"),
    (b"#NEXUS\nbegin data; dimensions ntax=1 nchar=x;", "auto", "line 2: NCHAR is not a count: 'x'"),
    (b"#NEXUS\n[a comment\nbegin data;", "auto", "line 2: a comment '[' that is never closed"),
    (b"#NEXUS\nbegin taxa; end;\n", "nexus", "line 3: no DATA or CHARACTERS block with a MATRIX"),
    (DAMAGED_GZIP, "auto", "damaged gzip data: "),
    (b"BZh9 not really", "fasta", "damaged bzip2 data: "),
    (b"\xfd7zXZ\x00", "fasta", "damaged xz data: "),
]


@pytest.mark.parametrize("content, in_format, message", ERRORS)
def test_bad_input_is_one_line_naming_file_line_and_record(tmp_path, content, in_format, message):
    path = tmp_path / "in.fa"
    path.write_bytes(content)
    with pytest.raises(InputError) as caught:
        read_alignment(str(path), in_format)
    text = str(caught.value)
    assert text.startswith(f"{path}: {message}") and "\n" not in text
    if not message.endswith(": "):  # a library's own words follow the damaged data
        assert text == f"{path}: {message}"


def protein_files():
    """The protein alignment in several shapes; every one gives EXPECTED."""
    records = list(PROTEINS.items())
    return {
        "FASTA gzip": gzip.compress(fasta(records)),
        "FASTA gzip in members, as bgzip writes": b"".join(gzip.compress(fasta([record])) for record in records)
                                                  + b"\0" * 28,
        "PHYLIP interleaved xz": lzma.compress(phylip_interleaved(records, width=5)),
        "CLUSTAL bzip2": bz2.compress(clustal(records, width=5)),
    }


@pytest.mark.parametrize("shape", protein_files())
@pytest.mark.parametrize("from_stdin", [False, True])
def test_the_tool_reads_compressed_inputs_by_content(tmp_path, shape, from_stdin):
    protein = tmp_path / "protein.aln"
    protein.write_bytes(protein_files()[shape])
    cds = tmp_path / "cds.fasta"  # gzip under a plain name
    cds.write_bytes(gzip.compress(fasta([(name, cds_of(row)) for name, row in PROTEINS.items()], wrap=7)))
    done = subprocess.run(cli_command() + ["-" if from_stdin else str(protein), str(cds)],
                          input=protein.read_bytes() if from_stdin else None, capture_output=True,
                          env=dict(os.environ, PYTHONPATH=search_path()), timeout=120)
    assert (done.returncode, done.stderr) == (0, f"ntpepmap: {len(PROTEINS)} records written, 0 codons "
                                                 f"masked, 0 kept, 0 located, 0 padded, 0 left out\n".encode())
    assert read_fasta_text(done.stdout.decode()) == EXPECTED


def many_records(count: int = 2500, length: int = 900) -> list[tuple[str, str]]:
    """About two megabytes of CDS: enough for the reader to read in runs side by side."""
    import random

    rng = random.Random(3)
    return [(f"s{index}", "".join(rng.choice("ACGT" if index % 7 else "ACGTNRY") for _ in range(length)))
            for index in range(count)]


def read_on_one_cpu(path) -> str:
    """What the reader makes of a file in a process allowed on a single CPU, as text."""
    script = ("import os, sys\nfrom ntpepmap_cli.reading.input_files import read_fasta_marked\n"
              "os.sched_setaffinity(0, {sorted(os.sched_getaffinity(0))[0]})\n"
              "try:\n    print(repr(read_fasta_marked(sys.argv[1], b'ACGT')))\n"
              "except Exception as exc:\n    print(repr(exc))\n")
    return subprocess.run([sys.executable, "-c", script, str(path)], capture_output=True, text=True,
                          check=True).stdout.strip()


@pytest.mark.skipif(not hasattr(os, "sched_setaffinity") or len(os.sched_getaffinity(0)) < 2,
                    reason="needs a second CPU to read side by side")
@pytest.mark.parametrize("content", [
    lambda records: fasta(records, 60, "\r\n", " a description"),
    lambda records: BYTE_ORDER_MARK + b"\n\n" + genbank_style(records),
    lambda records: fasta(records[:1500]) + "\n>\n".join(["", "ACGT\n"]).encode() + fasta(records[1500:]),
    lambda records: fasta(records[:2000]) + ">s\xc3\xa9\nAC\xc3\xa9GT\n".encode() + fasta(records[2000:]),
    lambda records: fasta(records).replace(b"\n", b"\r"),
], ids=["wrapped-crlf", "genbank-bom", "refused-identifier", "beyond-ascii", "lone-cr"])
def test_a_large_fasta_read_side_by_side_is_read_as_on_one_cpu(tmp_path, content):
    path = tmp_path / "large.fasta"
    path.write_bytes(content(many_records()))
    try:
        here = repr(read_fasta_marked(str(path), b"ACGT"))
    except InputError as exc:
        here = repr(exc)
    assert here == read_on_one_cpu(path)


@pytest.mark.parametrize("content, message", [(DAMAGED_GZIP, "damaged gzip data: "),
                                              (None, "No such file or directory")])
def test_a_cds_read_ahead_fails_as_one_read_in_turn(tmp_path, content, message):
    protein = tmp_path / "protein.fasta"
    protein.write_bytes(fasta(list(PROTEINS.items())))
    cds = tmp_path / "cds.fasta"
    if content is not None:
        cds.write_bytes(content)
    done = subprocess.run(cli_command() + [str(protein), str(cds)], capture_output=True, text=True,
                          env=dict(os.environ, PYTHONPATH=search_path()), timeout=120)
    assert done.returncode == 2 and done.stderr.startswith(f"ntpepmap: error: {cds}: {message}")


@pytest.mark.parametrize("cds, message", [
    (gzip.compress(fasta(many_records(60, 333))), None),
    (DAMAGED_GZIP, "damaged gzip data: "),
    (gzip.compress(fasta(many_records(60, 333)) + b">\nAC\n"), "line 121, record 61: no identifier"),
])
def test_a_locus_opens_each_input_once(tmp_path, monkeypatch, cds, message):
    from ntpepmap_cli.reading import input_files as seqio

    pep, cds_path = tmp_path / "pep.fa.gz", tmp_path / "cds.fa"
    pep.write_bytes(gzip.compress(fasta(RECORDS)))
    cds_path.write_bytes(cds)
    opened = []
    monkeypatch.setattr(seqio, "_open_file", lambda path: opened.append(path) or os.open(path, os.O_RDONLY))
    try:
        proteins, coding = seqio.read_locus_files(str(pep), str(cds_path), "auto", b"ACGT")
        assert (proteins.records.records(), len(coding.records), message) == (RECORDS, 60, None)
    except InputError as exc:
        assert str(exc).startswith(f"{cds_path}: {message}")
    assert sorted(opened) == sorted([str(pep), str(cds_path)])


@pytest.mark.parametrize("content", [
    lambda records: fasta(records, 60, "\r\n"),
    lambda records: fasta(records[:3]) + b">long\n" + b"ACGT" * 2000 + b"\n" + fasta(records[3:]),
    lambda records: fasta(records[:40]) + b">\n" + fasta(records[40:]),
    lambda records: BYTE_ORDER_MARK + b" \n" * 1200 + fasta(records[:1]),
    lambda records: fasta(records[:1], 60) + b"\r".join(fasta(records[1:50], 60).split(b"\n")),
    lambda records: fasta(records[:45]) + b">bad\nAC\n\xffGT\n" + fasta(records[45:]),
    lambda records: b" \n" * 1500,
    # A record of over a megabyte is put together as the pieces come.
    lambda records: fasta(records[:2] + [("long", LONG)] + records[2:], 60, "\r\n"),
    lambda records: BYTE_ORDER_MARK + b"\n\n" + fasta([("long x", LONG)]),
    lambda records: fasta([("long", LONG[:9999] + "\u00e9\u20ac" * 999 + LONG)], 61) + fasta(records),
    lambda records: fasta([("long", LONG)], 60) + b"\r>b\rAC\r" + fasta(records),
    lambda records: fasta(records[:2]) + (lambda text: text[:800_000] + b"\xff" + text[800_000:])(
        fasta([("long", LONG)], 60)),
    lambda records: fasta([("long", LONG)]) + "\u00e9".encode()[:1],
    lambda records: fasta(records[:2]) + b">\n" + LONG.encode(),
], ids=["crlf", "a-record-longer-than-a-piece", "refused-identifier-in-a-later-piece", "blank-lines-first",
        "old-mac-line-ends-after-a-piece", "not-utf8-in-a-later-piece", "white-space-alone",
        "long-crlf", "long-one-line-first", "long-characters-cut-by-pieces", "long-then-lone-cr",
        "long-not-utf8-on-a-later-line", "long-cut-character-at-the-end", "long-refused-identifier"])
def test_a_gzip_cds_read_piece_by_piece_is_read_as_whole(tmp_path, monkeypatch, content):
    """Inflated in Python (the native reading's blocks are cut anywhere by check_gzip_reading)."""
    from ntpepmap_cli.reading import input_files as seqio

    text = content(many_records(count=60, length=333))
    plain, packed = tmp_path / "cds.fasta", tmp_path / "cds.fasta.gz"
    plain.write_bytes(text)
    packed.write_bytes(gzip.compress(text[:5000]) + gzip.compress(text[5000:]))  # two members
    monkeypatch.setattr(seqio, "_PIECE", 1000)  # many pieces, cut anywhere
    monkeypatch.setattr(seqio, "_GZIP_INFLATED_NATIVELY", False)
    outcomes = []
    for path in (plain, packed):
        try:
            reading = read_records(str(path), "fasta", b"ACGT")
            outcomes.append((reading.records.records(), reading.marked, reading.headers))
        except InputError as exc:
            outcomes.append(str(exc).replace(str(path), "CDS"))
    assert outcomes[0] == outcomes[1]


GZIPPED = gzip.compress(fasta(many_records(60, 333)))


@pytest.mark.parametrize("content", [
    GZIPPED + b"\0" * 30 + gzip.compress(fasta([("last", "ACGT")])) + b"\0" * 7,
    DAMAGED_GZIP,
    GZIPPED[:5],
    GZIPPED[:-6] + bytes([GZIPPED[-6] ^ 1]) + GZIPPED[-5:],
    GZIPPED + b"not gzip",
], ids=["members-and-zero-bytes", "truncated", "truncated-header", "checksum", "data-after-a-member"])
@pytest.mark.parametrize("how", ["path", "content"])
def test_gzip_inflated_natively_or_in_python_reads_alike(tmp_path, monkeypatch, content, how):
    """The native inflation and the Python one (where ISA-L is not built in) take and refuse
    the same data, from a file or from content read already (the Python API's open file)."""
    from ntpepmap_cli import _native
    from ntpepmap_cli.reading import input_files as seqio

    path = tmp_path / "cds.fasta.gz"
    path.write_bytes(content)
    outcomes = []
    for natively in sorted({False, _native.gzip_inflated_here()}, reverse=True):
        monkeypatch.setattr(seqio, "_GZIP_INFLATED_NATIVELY", natively)
        try:
            reading = read_records(str(path), "fasta", b"ACGT") if how == "path" else \
                seqio.read_content(content, str(path), "fasta", b"ACGT")
            outcomes.append((reading.records.records(), reading.marked))
        except InputError as exc:
            message = str(exc)
            assert message.startswith(f"{path}: damaged gzip data: ") and "\n" not in message
            outcomes.append("damaged")
    assert len(set(map(repr, outcomes))) == 1
