"""Invariants that no single example shows, over generated records and all 27 genetic codes."""

from __future__ import annotations

import itertools
import os
import tempfile

from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from ntpepmap import pepthread, pepthread_original_args
from test_iupac import IUPAC, reference_substitution
from test_tables import EXPECTED as TABLES

REPORT = "===ERROR CAUGHT IN FILE "
TABLE_NUMBERS = sorted(TABLES)
# Every ambiguity letter that stands for a given base (N aside: it skips the check).
AMBIGUOUS_FOR = {base: [code for code, bases in IUPAC.items() if base in bases and code != "N"] for base in "ACGT"}
PROPERTY_SETTINGS = settings(max_examples=150, deadline=None, suppress_health_check=[HealthCheck.too_slow])


def run_capturing_stdout(call):
    """Runs call() with file descriptor 1, where reports go, sent to a file; returns (result, printed)."""
    with tempfile.TemporaryFile() as sink:
        saved = os.dup(1)
        os.dup2(sink.fileno(), 1)
        try:
            result = call()
        finally:
            os.dup2(saved, 1)
            os.close(saved)
        sink.seek(0)
        return result, sink.read().decode()


def numbered(aa_seq: str, nt_seq: str, aa_header: str = "h", nt_header: str = "h"):
    return ((aa_header, aa_seq), (0, nt_header, nt_seq))


def plain(aa_seq: str, nt_seq: str, aa_header: str = "h", nt_header: str = "h"):
    return ((aa_header, aa_seq), (nt_header, nt_seq))


@st.composite
def clean_records(draw, table: dict[str, list[str]]):
    """(peptide row, nucleotide sequence, expected codon row) from synonymous codons."""
    residues = sorted(letter for letter, codons in table.items() if codons)
    columns = draw(st.lists(st.one_of(st.just("-"), st.sampled_from(residues), st.just("X")), max_size=60))
    peptide, nucleotides, row = [], [], []
    for column in columns:
        if column == "-":
            peptide.append("-")
            row.append("---")
            continue
        if column == "X":  # unknown residue: its triplet is taken over unchecked
            codon = "".join(draw(st.lists(st.sampled_from("ACGT"), min_size=3, max_size=3)))
        else:
            codon = draw(st.sampled_from(table[column]))
        peptide.append(column.lower() if draw(st.booleans()) else column)
        nucleotides.append(codon)
        row.append(codon)
    # Alignment gaps and dots in the nucleotides, whitespace around the peptide row: all ignored.
    noisy = "".join(base + draw(st.sampled_from(["", "", "-", "."])) for base in "".join(nucleotides))
    padding = draw(st.sampled_from(["", " ", "\n", "\t ", "\u3000"]))
    return padding + "".join(peptide) + padding, noisy, "".join(row)


@st.composite
def table_and_clean_record(draw):
    number = draw(st.sampled_from(TABLE_NUMBERS))
    return (number, *draw(clean_records(TABLES[number])))


@PROPERTY_SETTINGS
@given(case=table_and_clean_record())
def test_synonymous_codons_come_back_as_the_gapped_row(case):
    number, peptide, nucleotides, row = case
    result, printed = run_capturing_stdout(lambda: pepthread("stem", number, {"r": numbered(peptide, nucleotides)}))
    assert (result, printed) == ("r\n" + row + "\n", "")
    table = TABLES[number]
    result, printed = run_capturing_stdout(
        lambda: pepthread_original_args("stem", table, {"r": plain(peptide, nucleotides)}))
    assert (result, printed) == ("r\n" + row + "\n", "")


@st.composite
def ambiguous_record(draw):
    """A residue's codon with some bases replaced by ambiguity letters that still cover them."""
    number = draw(st.sampled_from(TABLE_NUMBERS))
    table = TABLES[number]
    residue = draw(st.sampled_from(sorted(letter for letter, codons in table.items() if codons)))
    codon = draw(st.sampled_from(table[residue]))
    triplet = "".join(draw(st.sampled_from([base, *AMBIGUOUS_FOR[base]])) for base in codon)
    return number, residue, triplet


@PROPERTY_SETTINGS
@given(case=ambiguous_record())
def test_ambiguous_codons_that_still_encode_the_residue_are_rescued(case):
    number, residue, triplet = case
    codons = TABLES[number][residue]
    expected = triplet if triplet in codons else reference_substitution(triplet, codons)
    assert expected is not None  # the codon it came from is one of its full readings
    # ATG (M) and TGG (W) read directly in every code: the rescued codon stays in its frame.
    seqs = {"r": numbered("M" + residue + "W", "ATG" + triplet + "TGG")}
    result, printed = run_capturing_stdout(lambda: pepthread("stem", number, seqs))
    assert (result, printed) == ("r\nATG" + expected + "TGG\n", "")


MESSY_PEPTIDE = st.text(alphabet="ACDEFGHIKLMNPQRSTVWYXBJZ*-acgtkmw .ß1é", max_size=25)
MESSY_NUCLEOTIDES = st.text(alphabet="ACGTNRYKMacgtn-. é€", max_size=80)
HEADERS = st.sampled_from(["h", "h", "other", "é"])


@st.composite
def messy_seqs(draw, shape):
    names = draw(st.lists(st.text(alphabet="abcé\n>", min_size=1, max_size=4), unique=True, max_size=5))
    return {name: shape(draw(MESSY_PEPTIDE), draw(MESSY_NUCLEOTIDES), draw(HEADERS), draw(HEADERS))
            for name in names}


@PROPERTY_SETTINGS
@given(number=st.sampled_from(TABLE_NUMBERS), seqs=messy_seqs(numbered))
def test_records_never_influence_each_other(number, seqs):
    together = run_capturing_stdout(lambda: pepthread("stem", number, seqs))
    alone = [run_capturing_stdout(lambda: pepthread("stem", number, {name: value})) for name, value in seqs.items()]
    assert together == ("".join(result for result, _ in alone), "".join(printed for _, printed in alone))
    for (result, printed), name in zip(alone, seqs):
        assert result.startswith(name + "\n") and result.endswith("\n")
        assert printed.count(REPORT) <= 1
        assert len(result[len(name) + 1:-1].encode()) % 3 == 0  # pieces are whole triplets or "---"


@PROPERTY_SETTINGS
@given(number=st.sampled_from(TABLE_NUMBERS), seqs=messy_seqs(numbered))
def test_the_same_input_gives_the_same_output(number, seqs):
    first = run_capturing_stdout(lambda: pepthread("stem", number, seqs))
    assert run_capturing_stdout(lambda: pepthread("stem", number, seqs)) == first
    assert first[1].count(REPORT) <= len(seqs)


@PROPERTY_SETTINGS
@given(number=st.sampled_from(TABLE_NUMBERS), seqs=messy_seqs(plain))
def test_a_supplied_copy_of_a_built_in_code_behaves_like_the_built_in_one(number, seqs):
    with_number = {name: ((aa_part), (0, *nt_part)) for name, (aa_part, nt_part) in seqs.items()}
    supplied = run_capturing_stdout(lambda: pepthread_original_args("stem", TABLES[number], seqs))
    assert supplied == run_capturing_stdout(lambda: pepthread("stem", number, with_number))


VEC_PEPS = "ALWQYECDFGHIKMPRSVNT*-BJZX"
WHITE_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"
# One distinct codon per residue: the row then spells out the streamlined peptide row.
SPELLING_TABLE = {residue: ["".join(codon)]
                  for residue, codon in zip(VEC_PEPS.replace("-", ""), itertools.product("ACGT", repeat=3))}


def streamlined(row: str) -> str:
    """Trimmed of White_Space, fully upper-cased, everything outside VEC_PEPS as X."""
    return "".join(c if c in VEC_PEPS else "X" for c in row.strip(WHITE_SPACE).upper())


PEPTIDE_CHARACTERS = st.one_of(
    st.characters(blacklist_categories=("Cs",)),
    st.sampled_from(WHITE_SPACE + "\x1c\x1f\u200b\ufeff"),  # and look-alikes that are not White_Space
    st.sampled_from("ßŉﬀﬃſıİΐǰǅµÿ\u0345ᾳkw-*.ao"),  # expanding, ASCII-bound and titlecase mappings
)


@PROPERTY_SETTINGS
@given(row=st.text(PEPTIDE_CHARACTERS, max_size=8))
def test_peptide_rows_are_trimmed_upper_cased_and_mapped_like_unicode_says(row):
    expected = streamlined(row)
    nucleotides = "".join(SPELLING_TABLE[c][0] for c in expected if c != "-")
    spelled = "".join("---" if c == "-" else SPELLING_TABLE[c][0] for c in expected)
    result, printed = run_capturing_stdout(
        lambda: pepthread_original_args("stem", SPELLING_TABLE, {"r": plain(row, nucleotides)}))
    assert (result, printed) == ("r\n" + spelled + "\n", "")


def model_row(aa_seq: str, nt_seq: str, table: dict[str, list[str]]) -> tuple[str, bool]:
    """The codon row of an ASCII record, step by step, and whether the record has a problem."""
    peptide = streamlined(aa_seq)
    nucleotides = nt_seq.replace("-", "").replace(".", "")
    problem = 3 * sum(c != "-" for c in peptide) != len(nucleotides)
    pieces, cursor = [], 0
    for residue in peptide:
        if residue == "-":
            pieces.append("---")
            continue
        triplet_left = len(nucleotides) - cursor >= 3
        if residue not in table:
            problem = True
            cursor += 3 if triplet_left else 0  # it still owns its triplet
            continue
        if not triplet_left:  # the length check has reported the record
            continue
        triplet = nucleotides[cursor:cursor + 3]
        cursor += 3
        if "N" in triplet or residue == "X" or triplet in table[residue]:
            pieces.append(triplet)
        elif (rescued := reference_substitution(triplet, table[residue])) is not None:
            pieces.append(rescued)
        else:
            problem = True
    return "".join(pieces), problem


CODON_LETTERS = "ACGTRYKMNacg"
CALLER_TABLES = st.dictionaries(
    st.sampled_from("ACDEFGHIKLMNPQRSTVWYXBJZ*-ao"),
    st.lists(st.text(alphabet=CODON_LETTERS, min_size=3, max_size=3), max_size=6), max_size=12)


@PROPERTY_SETTINGS
@given(table=st.one_of(st.sampled_from(TABLE_NUMBERS).map(TABLES.__getitem__), CALLER_TABLES),
       peptide=st.text(alphabet="ACDEFGHIKLMNPQRSTVWYXBJZ*-akmo .1", max_size=20),
       nucleotides=st.text(alphabet="ACGTRYKMNacgtn-.", max_size=66), same_headers=st.booleans())
def test_rows_follow_a_literal_model_of_the_translation(table, peptide, nucleotides, same_headers):
    expected_row, problem = model_row(peptide, nucleotides, table)
    record = plain(peptide, nucleotides, "h", "h" if same_headers else "other")
    result, printed = run_capturing_stdout(lambda: pepthread_original_args("stem", table, {"r": record}))
    assert result == "r\n" + expected_row + "\n"
    assert printed.count(REPORT) == (1 if problem or not same_headers else 0), printed
