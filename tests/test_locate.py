"""The coding region of a transcript found by the tool: UTRs, frames, strands, ambiguity."""

from __future__ import annotations

import re

import pytest

from test_cli import read_fasta, run_cli, summary_of, write_fasta

# One codon per residue (table 1 and 11 alike); the protein below uses every residue.
CODON = {"A": "GCT", "C": "TGT", "D": "GAT", "E": "GAA", "F": "TTT", "G": "GGT", "H": "CAT",
         "I": "ATT", "K": "AAA", "L": "CTG", "M": "ATG", "N": "AAT", "P": "CCT", "Q": "CAA",
         "R": "CGT", "S": "TCT", "T": "ACT", "V": "GTT", "W": "TGG", "Y": "TAT"}
ROW = "MKT-LVHEWQ--RNDYPFSGACIKLMTEQWHR"
COMPLEMENT = str.maketrans("ACGTRYKMacgtrykm", "TGCAYRMKtgcayrmk")


def coding(row: str) -> str:
    return "".join(CODON[residue] for residue in row if residue != "-")


def threaded(row: str, cds: str) -> str:
    """The codon row: the CDS's letters as written, three per residue, '---' per gap."""
    codons = iter([cds[start:start + 3] for start in range(0, len(cds), 3)])
    return "".join("---" if residue == "-" else next(codons) for residue in row)


def reverse_complement(sequence: str) -> str:
    return sequence.translate(COMPLEMENT)[::-1]


CDS = coding(ROW)
# Upstream ATGs in every frame and in-frame stops ahead of the start.
FIVE_PRIME = "GGCATGACTAAATGGTAGCCATGTGAACATGC"
# Another frame of the protein's start, and its first codons once more, then a poly-A tail.
THREE_PRIME = "GA" + CDS[:24] + "CCGTTAC" + "A" * 25
# Lower case and an ambiguity letter that still reads as K (AAR), to be carried back as written.
WRITTEN_CDS = "atg" + "AAR" + CDS[6:18].lower() + CDS[18:]
# Three of the 29 residues over a codon of G: one mismatch more than the tolerance.
THREE_MISMATCHES = "".join("GGT" if site in (5, 15, 25) else CDS[3 * site:3 * site + 3]
                           for site in range(len(CDS) // 3))
ONE_MISMATCH = CDS[:15] + "GGT" + CDS[18:]
NO_FORWARD_PLACEMENT = (r"c\.fa: tx: CDS of {nt} nt does not fit its {residues} "
                        r"residues \({need} or {need_stop} nt\); in table 1 the protein has 0 placements "
                        r"in it \(forward strand only; --both-strands searches "
                        r"the reverse complement too\); left out")
DOMAIN = "MKTLVHEWQRNDYPFSGACI"


def transcript_case(name, cds_record, row=ROW, options=(), coding_region=None, status=0,
                    located=1, message=None):
    return pytest.param(cds_record, row, list(options), coding_region, status, located, message,
                        id=name)


@pytest.mark.parametrize("cds_record, row, options, coding_region, status, located, message", [
    transcript_case("UTRs with upstream ATGs and stops", FIVE_PRIME + CDS + "TAA" + THREE_PRIME,
                    coding_region=CDS),
    transcript_case("partial leading codon", "TC" + CDS + "TGA", coding_region=CDS),
    transcript_case("poly-A tail", CDS + "TAG" + "A" * 40, coding_region=CDS),
    transcript_case("N in the 5' UTR, letters otherwise plain", "GNC" + FIVE_PRIME + CDS + "TAA",
                    coding_region=CDS),
    transcript_case("3' UTR holding another frame of the start", CDS + "TAA" + THREE_PRIME,
                    coding_region=CDS),
    transcript_case("a mismatch within the tolerance: masked, located once",
                    FIVE_PRIME + ONE_MISMATCH + "TAA",
                    coding_region=ONE_MISMATCH[:15] + "NNN" + ONE_MISMATCH[18:],
                    message=r"p\.fa: tx: column 7 \(residue 6\): H does not match GGT \(G in table 1\); "
                            r"masked"),
    transcript_case("letters as written", FIVE_PRIME + WRITTEN_CDS + "taa" + THREE_PRIME,
                    coding_region=WRITTEN_CDS),
    transcript_case("shifted frame, length that fits", "C" + CDS + "CC", coding_region=CDS),
    transcript_case("alternative start codon", FIVE_PRIME + "GTG" + CDS[3:] + "TAA",
                    options=["-t", "11"], coding_region="GTG" + CDS[3:]),
    transcript_case("reverse strand, both strands searched",
                    reverse_complement(FIVE_PRIME + WRITTEN_CDS + "TAA" + THREE_PRIME),
                    options=["--both-strands"], coding_region=WRITTEN_CDS),
    transcript_case("reverse strand, forward searched",
                    reverse_complement(FIVE_PRIME + CDS + "TAA" + THREE_PRIME), status=1,
                    located=0, message=NO_FORWARD_PLACEMENT),
    transcript_case("one mismatch beyond the tolerance: no placement",
                    FIVE_PRIME + THREE_MISMATCHES + "TAA" + THREE_PRIME, status=1, located=0,
                    message=NO_FORWARD_PLACEMENT),
    transcript_case("repeated domain: two placements", FIVE_PRIME + coding(DOMAIN) + "GC"
                    + coding(DOMAIN) + "TAA", row=DOMAIN, status=1, located=0,
                    message=r"c\.fa: tx: CDS of {nt} nt does not fit its {residues} residues "
                            r"\({need} or {need_stop} nt\); in table 1 the protein has 2 placements in it: ambiguous; "
                            r"left out"),
    transcript_case("no search", FIVE_PRIME + CDS + "TAA" + THREE_PRIME, options=["--no-locate"],
                    status=1, located=0,
                    message=r"p\.fa: tx: \d+ of {residues} residues do not match their triplets in "
                            r"table 1: wrong pairing, not this record's CDS; left out"),
])
def test_the_coding_region_of_a_transcript_is_used(tmp_path, cds_record, row, options,
                                                   coding_region, status, located, message):
    # Beside it, a record of the same protein whose CDS fits as given.
    pep = write_fasta(tmp_path / "p.fa", {"ref": row, "tx": row})
    cds = write_fasta(tmp_path / "c.fa", {"ref": coding(row), "tx": cds_record})
    done = run_cli(pep.name, cds.name, *options, cwd=tmp_path)
    assert done.returncode == status, done.stderr
    expected = {"ref": threaded(row, coding(row))}
    if coding_region is not None:
        expected["tx"] = threaded(row, coding_region)
    assert read_fasta(done.stdout) == expected
    counts = summary_of(done.stderr)
    assert (counts["located"], counts["left_out"]) == (located, 1 - located if message else 0)
    lines = done.stderr.splitlines()[:-1]
    assert len(lines) == (message is not None), done.stderr
    if message:
        residues = len(row.replace("-", ""))
        message = message.format(nt=len(cds_record), residues=residues, need=3 * residues,
                                 need_stop=3 * residues + 3)
        assert re.fullmatch(r"ntpepmap: " + message, lines[0]), lines[0]
