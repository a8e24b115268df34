"""Every kind of call to the module's three functions that returns or raises, by name, each as
(function, positional arguments, keyword arguments): the leak tests repeat each one alone, and
scripts/leak_driver.py runs them all under LeakSanitizer and valgrind. Reports and aborts are
covered apart: they need records or dicts of their own. The tool's extension has a table of its
own."""

from __future__ import annotations

from conftest import MutatingIndex, numbered_record, plain_record
from helpers import engine_settings, locus_sets
from ntpepmap import attempt_iupac_substitution, pepthread, pepthread_original_args
from ntpepmap_cli._native import (RecordSet, codes_fitting_locus, fasta_text, looks_trimmed, read_records,
                                  translate_locus)

GENE_TABLE = {"M": ["ATG"], "K": ["AAA", "AAG"], "W": ("TGG",)}


class RaisingIndex:
    """Raises a fresh error each time: re-raising one instance would grow its traceback."""

    def __init__(self, make_error):
        self.make_error = make_error

    def __index__(self):
        raise self.make_error()


def _error_with_cause() -> TypeError:
    error = TypeError("bad index")
    error.__cause__ = KeyError("root")
    return error


def calls(row: str, nucleotides: str) -> tuple[dict, dict]:
    """(failing, successful) calls over four good records of `row` and `nucleotides`."""
    numbered = {f"r{i}": numbered_record(f"h{i}", row, f"h{i}", nucleotides) for i in range(4)}
    plain = {f"r{i}": plain_record(f"h{i}", row, f"h{i}", nucleotides) for i in range(4)}
    failing = {
        "too-many-positional": (pepthread, ("f", 1, numbered, 4), {}),
        "missing": (pepthread, ("f",), {}),
        "unexpected-keyword": (pepthread, ("f", 1, numbered), {"table": 1}),
        "multiple-values": (pepthread, ("f", 1), {"file_steem": "g", "seqs": numbered}),
        "text-type": (pepthread, (5, 1, numbered), {}),
        "text-surrogate": (pepthread, ("\ud800", 1, numbered), {}),
        "int-type": (pepthread, ("f", 1.5, numbered), {}),
        "int-range": (pepthread, ("f", 2**31, numbered), {}),
        "int-c-long": (pepthread, ("f", 2**64, numbered), {}),
        "typeerror-with-cause": (pepthread, ("f", RaisingIndex(_error_with_cause), numbered), {}),
        "seqs-type": (pepthread, ("f", 1, [numbered]), {}),
        "seqs-late-length": (pepthread, ("f", 1, {**numbered, "z": (("h", "M"), ("h", "ATG"))}), {}),
        "seqs-late-key": (pepthread, ("f", 1, {**numbered, 5: numbered["r0"]}), {}),
        "seqs-late-text": (pepthread, ("f", 1, {**numbered, "z": numbered_record("h", "M", "h", None)}), {}),
        "seqs-late-surrogate": (pepthread, ("f", 1, {**numbered, "z": numbered_record("h", "M", "h", "\udcff")}), {}),
        "unknown-table": (pepthread, ("f", 7, numbered), {}),
        "table-value-str": (pepthread_original_args, ("f", {**GENE_TABLE, "Y": "TAT"}, plain), {}),
        "table-value-int": (pepthread_original_args, ("f", {**GENE_TABLE, "Y": 5}, plain), {}),
        "table-late-codon": (pepthread_original_args, ("f", {**GENE_TABLE, "Y": ["TAT", 5]}, plain), {}),
        "table-key-length": (pepthread_original_args, ("f", {**GENE_TABLE, "YY": []}, plain), {}),
        "original-args-numbered-seqs": (pepthread_original_args, ("f", GENE_TABLE, numbered), {}),
        "taxa-type": (attempt_iupac_substitution, ("RRA", 5), {}),
        "taxa-str": (attempt_iupac_substitution, ("RRA", "GGA"), {}),
        "taxa-late-item": (attempt_iupac_substitution, ("RRA", ["GGA", "AAA", None]), {}),
        "triplet-type": (attempt_iupac_substitution, (None, ["GGA"]), {}),
        "triplet-too-long": (attempt_iupac_substitution, ("RRAA", ["GGA", "AAA"]), {}),
    }
    successful = {
        "pepthread": (pepthread, ("f", 1, numbered), {}),
        "pepthread-keywords": (pepthread, (), {"seqs": numbered, "table_num": 11, "file_steem": "f"}),
        "table-as-index": (pepthread, ("f", MutatingIndex(None, 2), numbered), {}),
        "original-args": (pepthread_original_args, ("f", GENE_TABLE, plain), {}),
        "iupac-found": (attempt_iupac_substitution, ("RRA", ("TTT", "GGA")), {}),
        "iupac-none": (attempt_iupac_substitution, ("RRA", ["TTT"]), {}),
        "iupac-foreign-codons": (attempt_iupac_substitution, ("NNN", ("ZZZ",)), {}),
    }
    return failing, successful


def tool_calls(row: str, nucleotides: str) -> tuple[dict, dict]:
    """(failing, successful) calls of the tool's extension over a locus of four good records of
    `row` and `nucleotides` and one with a failing codon, told in a report of its own."""
    records = [(f"r{i}", row) for i in range(4)] + [("m", "MKW")]
    triples = [(name, protein, cds) for (name, protein), cds in zip(records, [nucleotides] * 4 + ["ATGGATTGG"])]
    locus = locus_sets(triples)
    not_ascii = locus_sets(triples[:-1] + [("m", "MKW", "ATGÄ")])
    fasta = "".join(f">{name}\n{protein}\n" for name, protein in records).encode()
    failing = {
        "locus-too-many-positional": (translate_locus, ("f", engine_settings(), *locus, 5), {}),
        "locus-policy-name": (translate_locus, ("f", engine_settings(stops="drop"), *locus), {}),
        "locus-unknown-code": (translate_locus, ("f", engine_settings(code=7), *locus), {}),
        "locus-table-value-str": (translate_locus, ("f", engine_settings(code={"M": "ATG"}), *locus), {}),
        "locus-late-cds-index": (translate_locus, ("f", engine_settings(), *locus[:2], [0, 1, 2, 3, "4"]), {}),
        "locus-cds-index-beyond": (translate_locus, ("f", engine_settings(), *locus[:2], [0, 1, 2, 3, 5]), {}),
        "locus-late-cds-not-ascii": (translate_locus, ("f", engine_settings(), *not_ascii), {}),
        "sets-late-record-shape": (RecordSet.from_records, (records + [["z", "M"]],), {}),
        "read-unknown-format": (read_records, (fasta, "genbank"), {}),
        "read-refused-text": (read_records, (b"2 5\na MKWDL\n", "phylip"), {}),
        "fasta-text-late-record": (fasta_text, (records + [("z", 5)], 0), {}),
        "codes-fitting-pair-shape": (codes_fitting_locus, (engine_settings(), *locus, [("W",)], 0), {}),
        "codes-fitting-own-table": (codes_fitting_locus, (engine_settings(code=GENE_TABLE), *locus,
                                                          [("W", "TGA")], 0), {}),
        "trimmed-unknown-code": (looks_trimmed, (engine_settings(code=7), *locus, [0]), {}),
        "trimmed-index-beyond": (looks_trimmed, (engine_settings(), *locus, [0, 9]), {}),
    }
    successful = {
        "locus-rows": (translate_locus, ("f", engine_settings(keep_reports=True), *locus), {}),
        # a record whose ambiguous triplet (AAR for K) is resolved, told as a page wants it
        "locus-resolved": (translate_locus, ("f", engine_settings(note_resolved=True),
                                             *locus_sets(triples + [("k", "K", "AAR")])), {}),
        "locus-text": (translate_locus, (), {"file_stem": "f", "settings": engine_settings(fasta_text=True, wrap=60),
                                             "proteins": locus[0], "cds": locus[1], "cds_of": locus[2]}),
        "read-records": (read_records, (fasta, "auto", b"MKW-", True), {}),
        "fasta-text": (fasta_text, (records, 60), {}),
        "codes-fitting": (codes_fitting_locus, (engine_settings(), *locus, [("W", "TGA")], 0), {}),
        "looks-trimmed": (looks_trimmed, (engine_settings(code=2), *locus, [0, 1, 2]), {}),
        "looks-trimmed-own-table": (looks_trimmed, (engine_settings(code=GENE_TABLE), *locus, [4, 3, 2]), {}),
    }
    return failing, successful
