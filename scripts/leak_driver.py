"""A short driver for LeakSanitizer: every kind of call to the three functions, many times.

Successes, each kind of argument error, record reports of every kind, the aborts
(dicts changed under conversion, a report that cannot be written) and IUPAC lookups;
then the tool's own extension: its reader on good and broken files, its engine through
codon_align on clean, mismatched, located and wrongly paired records.
Run by scripts/leakcheck.sh under the sanitized build; harmless anywhere else.
"""

from __future__ import annotations

import os
import sys
from pathlib import Path

import ntpepmap
from ntpepmap import pepthread, pepthread_original_args

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
from helpers import engine_settings  # noqa: E402
from leak_calls import calls  # noqa: E402 - the one list of calls, which the leak tests use too
from ntpepmap_cli import _native, codon_align

ROUNDS = int(sys.argv[1]) if len(sys.argv) > 1 else 200
ROW = "MKW-*X" * 40
NUCLEOTIDES = "ATGAAATGGTAAGCT" * 40
GENE_TABLE = {"M": ["ATG"], "K": ["AAA", "AAG"], "W": ("TGG",), "*": ["TAA"], "X": []}


class Index:
    def __init__(self, action=None, value=0):
        self.action, self.value = action, value

    def __index__(self):
        if self.action:
            self.action()
        return self.value


class Codons:
    """A sequence of codons whose iteration runs `action` first."""

    def __init__(self, action):
        self.action = action

    def __len__(self):
        return 1

    def __getitem__(self, index):
        return ["ATG"][index]

    def __iter__(self):
        self.action()
        return iter(["ATG"])


def numbered(aa="MKW", nt="ATGAAATGG", aa_header="h", nt_header="h", number=0):
    return ((aa_header, aa), (number, nt_header, nt))


def plain(aa="MKW", nt="ATGAAATGG", aa_header="h", nt_header="h"):
    return ((aa_header, aa), (nt_header, nt))


def growing_seqs():
    seqs = {}
    seqs["a"] = numbered(number=Index(lambda: seqs.__setitem__("z", numbered())))
    seqs["b"] = numbered(ROW, NUCLEOTIDES)
    return seqs


def swapping_seqs():
    """Same size throughout, but one entry more than at the start: keys changed."""
    seqs = {}

    def swap():
        del seqs["a"]
        seqs["c"] = numbered()

    seqs["a"] = numbered(number=Index(swap))
    seqs["b"] = numbered(ROW, NUCLEOTIDES)
    return seqs


def growing_gene_table():
    table = dict(GENE_TABLE)
    table["Y"] = Codons(lambda: table.__setitem__("Q", ["CAA"]))
    return table


REPORTING_SEQS = {
    "header": numbered(ROW, NUCLEOTIDES, nt_header="other"),
    "length": numbered(ROW, NUCLEOTIDES + "A"),
    "short": numbered(ROW, NUCLEOTIDES[:30]),
    "mismatch": numbered(ROW, NUCLEOTIDES.replace("AAA", "CCC")),
    "missing": numbered("MOU*W", "ATGTAATGG"),
    "rescued": numbered("MKR", "ATGAARMGR"),
    "wide": numbered("MKW", "ATé€AAATGG"),
}

FAILING, SUCCESSFUL = calls(ROW, NUCLEOTIDES)
CALLS = [  # the reports, then the aborts
    *(lambda call=call: call[0](*call[1], **call[2]) for call in [*SUCCESSFUL.values(), *FAILING.values()]),
    lambda: pepthread("f", 27, REPORTING_SEQS),
    lambda: pepthread_original_args("f", GENE_TABLE, {k: (v[0], v[1][1:]) for k, v in REPORTING_SEQS.items()}),
    # aborts
    lambda: pepthread("f", 1, growing_seqs()),
    lambda: pepthread("f", 1, swapping_seqs()),
    lambda: pepthread_original_args("f", growing_gene_table(), {"r": plain()}),
]

PROTEINS = {"a": "MK-W", "b": "MKKW", "c": "M-KW", "d": "WWWW"}
CDS = {"a": "atgaaRtgg", "b": "ATGAAGGATTGG", "c": "ccATGAAATGGTAAcc", "d": "ATGAAAAAAATG"}


def locus_sets() -> tuple[_native.RecordSet, _native.RecordSet, list[int]]:
    return (_native.RecordSet.from_records(list(PROTEINS.items())),
            _native.RecordSet.from_records(list(CDS.items())), list(range(len(PROTEINS))))


TOOL_CALLS = [
    lambda: _native.read_records(b">a d\nMK-W\n>b\nMK\r\nKW\n", "auto", b"ACGT"),
    lambda: _native.read_records(b"CLUSTAL W\n\na  MK-W\nb  MKKW\n", "auto", None),
    lambda: _native.read_records(b"CLUSTAL W\n\na  MK-W\nb  MKKW\n   ##\n", "auto", None),
    lambda: _native.read_records(b"CLUSTAL W\n\na  MK-W\nb  MKKW\n#\n", "auto", None),
    # The hints, over record sets paired by cds_of.
    lambda: _native.looks_trimmed(engine_settings(code=2), *locus_sets(), [0, 1, 2]),
    lambda: _native.looks_trimmed(engine_settings(code=7), *locus_sets(), [0, 1, 2]),
    lambda: _native.codes_fitting_locus(engine_settings(), *locus_sets(), [("W", "TGA")], 0),
    lambda: _native.read_records(b" 2 4\na MK-W\nb MKKW\n", "phylip", None),
    lambda: _native.read_records(b">a\nMK\xff\n>\n", "fasta", None),
    lambda: _native.read_records(b">a caf\xe9\nMK\n>b\tx y \r\nKW\n", "fasta", None, True),
    # A record set's methods, each making the objects it hands over.
    lambda: [(records.identifiers(), records.headers(), records.records(), records.widths(), records.marked,
              records.kept, records.format, records.sequence(1, 1), records.header(0), records.file_of(1))
             for records in [_native.read_records(b"CLUSTAL W\n\na  M\xc3\xa9-W\nb  MKKW\n   #\n", "auto", b"MKW")]],
    lambda: _native.read_records(b">c\nAC\n", "fasta", b"ACGT", False, 0,
                                 _native.RecordSet.from_records([("a", "MK"), ("b", "\u00e9")], ["a x", "b y"])).records(),
    lambda: _native.RecordSet.from_records([("a", "MK"), ("b", 7)]),
    lambda: _native.RecordSet.from_records([("a", "MK")]).sequence(1),
    lambda: _native.read_records(b"\x00\x01 junk", "auto", None),
    # In pieces: a record of over a megabyte put together as it comes, beyond ASCII, not UTF-8.
    lambda: _native.read_records(iter([b">a x\n", b"AC" * 600_000, b"\n>b\nAC\n"]), "fasta", b"ACGT", True),
    lambda: _native.read_records(iter([b">a\n", "\u00e9".encode() * 400_000, b"\n"]), "fasta", None),
    lambda: _native.read_records(iter([b">a\n", b"AC" * 600_000, b"\xff\n"]), "fasta", None),
    lambda: codon_align(PROTEINS, CDS, both_strands=True),
    lambda: codon_align(PROTEINS, CDS, mismatch="keep", upper_case=True, resolve_ambiguity=True),
    lambda: codon_align(PROTEINS, CDS, gene_table={"M": ["ATG"], "K": ["AAA"], "W": ["TGG"]}),
    lambda: codon_align({"a": "MK-W"}, {"b": "ATG"}),
    lambda: codon_align(PROTEINS, CDS, table=7),
    lambda: codon_align(PROTEINS, CDS, kept_columns=[0, 3]),
    lambda: codon_align(PROTEINS, CDS, kept_columns=[9]),
]


def unwritable_stdout_call():
    """A report that cannot be written aborts the call."""
    saved = os.dup(1)
    full = os.open("/dev/full", os.O_WRONLY)
    os.dup2(full, 1)
    try:
        pepthread("f", 1, {"r": numbered(nt_header="other")})
    finally:
        os.dup2(saved, 1)
        os.close(full)
        os.close(saved)


def main() -> None:
    outcomes: dict[str, int] = {}
    with open(os.devnull, "w") as devnull:
        saved = os.dup(1), os.dup(2)
        os.dup2(devnull.fileno(), 1)  # the reports: thousands of them
        os.dup2(devnull.fileno(), 2)  # and the diagnostics of the aborts
        try:
            for _ in range(ROUNDS):
                for call in CALLS + [unwritable_stdout_call] + TOOL_CALLS:
                    try:
                        call()
                        outcome = "returned"
                    except BaseException as error:  # noqa: BLE001 - PanicException included
                        outcome = type(error).__name__
                    outcomes[outcome] = outcomes.get(outcome, 0) + 1
        finally:
            for descriptor, copy in enumerate(saved, start=1):
                os.dup2(copy, descriptor)
                os.close(copy)
    print(f"{ROUNDS} rounds of {len(CALLS) + 1 + len(TOOL_CALLS)} calls: {outcomes}", flush=True)
    assert outcomes.get("PanicException", 0) == 4 * ROUNDS, outcomes
    assert ntpepmap.__name__ == "ntpepmap"


if __name__ == "__main__":
    main()
