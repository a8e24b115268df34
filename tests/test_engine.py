"""The tool's engine in-process: what it finds in each record, against the public module."""

from __future__ import annotations

import itertools

import pytest

import ntpepmap
from helpers import translate
from ntpepmap_cli import _native
from ntpepmap_cli.result.fates import Fate, SiteReason

ALL_CODONS = ["".join(bases) for bases in itertools.product("TCAG", repeat=3)]


@pytest.mark.parametrize("table", [1, 2, 3, 4, 5, 6, 9, 10, 11, 12, 13, 14, 15, 16, 21, 22, 23, 24,
                                   25, 26, 27, 28, 29, 30, 31, 32, 33])
def test_an_initiator_m_is_accepted_over_ncbis_start_codons(table):
    """Biopython reads NCBI's gc.prt: its start codons are an independent account of ours."""
    codon_table = pytest.importorskip("Bio.Data.CodonTable").unambiguous_dna_by_id[table]
    pairs = [(codon, "M", codon) for codon in ALL_CODONS]
    told = translate(pairs, code=table, mismatch="drop").records
    accepted = set(ALL_CODONS) - {ALL_CODONS[record.index] for record in told}
    methionine = {codon for codon, residue in codon_table.forward_table.items() if residue == "M"}
    assert accepted == set(codon_table.start_codons) | methionine


@pytest.mark.parametrize("code, row, cds, sites", [
    (1, "MK-W", "ATGGATTGG", [(SiteReason.mismatch, 2, 2, "K", "GAT", "D")]),
    (1, "MK-WK", "ATGAAGTGGRAT", [(SiteReason.mismatch, 5, 4, "K", "RAT", "DN")]),
    (1, "-MKKW", "ATGAAgccuTGG", [(SiteReason.mismatch, 4, 3, "K", "ccu", "P")]),
    (27, "M*KW", "ATGTAAAAGTGG", [(SiteReason.not_in_code, 2, 2, "*", "TAA", "Q")]),
    ({"M": ["ATG"], "W": ["TGG"]}, "MKW", "ATGGGGTGG", [(SiteReason.not_in_code, 2, 2, "K", "GGG", "")]),
    (1, "MKWW", "ATGAAGTGGTG", [(SiteReason.too_few_nucleotides, 4, 4, "W", "TG", "")]),
])
def test_each_failing_site_is_told_with_its_place_and_letters(code, row, cds, sites):
    told = translate([("r", row, cds)], code=code, keep_short=True).records
    assert [[tuple(site) for site in record.sites] for record in told] == [sites]


# Columns whose ambiguous triplet was resolved, told only when asked for (a page shows them):
# the failed residue and a triplet of plain letters are not among them.
@pytest.mark.parametrize("row, cds, settings, resolved", [
    ("MK-K", "ATGAARAAA", {}, [2]),
    ("MK-K", "atgaarAAA", {"resolve_ambiguity": True, "upper_case": True}, [2]),
    ("-MKKW", "ATGAARAAYTGG", {}, [3]),  # AAY encodes N: failed, not resolved
    ("MKNK", "ATGAAGAAYAAA", {}, [3]),  # AAY for N
    ("MKK", "ATGAARAAA", {"note_resolved": False}, None),  # a clean record: not told at all
    ("MKK", "ATGAAGAAA", {}, None),
])
def test_resolved_ambiguous_triplets_are_told_where_asked_for(row, cds, settings, resolved):
    told = translate([("r", row, cds)], **{"note_resolved": True, **settings}).records
    assert [record.resolved for record in told] == ([] if resolved is None else [resolved])


def module_reports(capfd, pairs, table):
    capfd.readouterr()
    ntpepmap.pepthread("stem", table, {n: ((n, row), (0, n, cds)) for n, row, cds in pairs})
    return capfd.readouterr().out


@pytest.mark.parametrize("pairs, table", [
    # rows as wide as each other: the engine pads a narrower row, as the tool always did
    ([("a", "MK-W", "ATGAAGTGG"), ("b", "MKW-", "ATGGATTGG"), ("c", "MK--", "ATGAAGC")], 1),
    ([("a", "M*KW", "ATGTAAAAGTGG"), ("b", "MKW-", "ATGAAGTGGTAA"), ("c", "MK--", "ATG")], 27),
    ([("a", "MRK" * 20, "ATGAGRAAR" * 19 + "ATGCCCAAA")], 2),
])
def test_framed_reports_are_the_modules(capfd, pairs, table):
    reports = translate(pairs, code=table, mismatch="keep", keep_reports=True, keep_short=True).reports
    assert reports == module_reports(capfd, pairs, table)


@pytest.mark.parametrize("code, triples, cds_of, error, problem", [
    (1, [("a", "MK", "ATGAAÄ")], [0], ValueError, "CDS of record a holds letters that are not ASCII"),
    (1, [("a", "MÄ", "ATGAAA")], [0], ValueError, "aligned row of record a holds letters that are not ASCII"),
    (1, [("a", "MK", "ATGAAA")], [], ValueError, "one CDS record per protein record"),
    (1, [("a", "MK", "ATGAAA")], [1], ValueError, "a CDS record beyond the set"),
    (1, [("a", "MK", "ATGAAA")], ["0"], TypeError, "an integer is required"),
    (1, None, [0], TypeError, "must be record sets"),
    (7, [("a", "M", "ATG")], [0], ValueError, "no built-in genetic code 7"),
    ({"M": "ATG"}, [("a", "M", "ATG")], [0], ValueError, "Can.t extract .str. to .Vec."),
])
def test_bad_input_is_refused_with_one_clear_error(code, triples, cds_of, error, problem):
    from helpers import engine_settings, locus_sets

    proteins, cds, _ = locus_sets(triples or [("a", "M", "ATG")])
    with pytest.raises(error, match=problem):
        _native.translate_locus("s", engine_settings(code=code), [("a", "M")] if triples is None else proteins,
                                cds, cds_of)


def mixed_locus(records=1200, seed=5):
    """Records of every fate, about a megabyte in all: enough to be split among threads."""
    import random

    rng = random.Random(seed)
    codons = {"M": "ATG", "K": "AAG", "W": "TGG", "D": "GAT", "L": "CTG"}
    pairs = []
    for index in range(records):
        row = "M" + "".join(rng.choice("KWDL-") for _ in range(299))
        cds = "".join(codons[residue] for residue in row if residue != "-")
        kind = index % 6
        if kind == 1:  # a mismatch
            cds = cds[:3] + "CCC" + cds[6:]
        elif kind == 2:  # runs out of nucleotides
            cds = cds[:-4]
        elif kind == 3:  # inside an mRNA
            cds = "GGCTTA" * 20 + cds + "TAA" + "CA" * 40
        elif kind == 4:  # not this record's CDS
            cds = "CCC" * (len(cds) // 3)
        pairs.append((f"r{index}", row, cds))
    return pairs


@pytest.mark.parametrize("mismatch", ["mask", "drop"])
@pytest.mark.parametrize("fasta_text", [False, True])
def test_a_locus_split_among_threads_comes_out_as_on_one(mismatch, fasta_text):
    pairs = mixed_locus()
    settings = dict(mismatch=mismatch, keep_reports=True, fasta_text=fasta_text, locate=True)
    alone = translate(pairs, threads=1, **settings)
    assert any(record.fate != Fate.written for record in alone.records)  # to be closed up after
    assert translate(pairs, threads=3, **settings) == alone
