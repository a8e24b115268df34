"""The 27 built-in genetic codes, read from the native core's own tables."""

from __future__ import annotations

import itertools

import pytest

from native_tools import run_native_check

TCAG = "TCAG"
ALL_CODONS = ["".join(bases) for bases in itertools.product(TCAG, repeat=3)]
AMINO_ACIDS = "ACDEFGHIKLMNPQRSTVWY"

STANDARD = {
    "F": "TTT TTC", "L": "TTA TTG CTT CTC CTA CTG", "S": "TCT TCC TCA TCG AGT AGC", "Y": "TAT TAC",
    "*": "TAA TAG TGA", "C": "TGT TGC", "W": "TGG", "P": "CCT CCC CCA CCG", "H": "CAT CAC", "Q": "CAA CAG",
    "R": "CGT CGC CGA CGG AGA AGG", "I": "ATT ATC ATA", "M": "ATG", "T": "ACT ACC ACA ACG", "N": "AAT AAC",
    "K": "AAA AAG", "V": "GTT GTC GTA GTG", "A": "GCT GCC GCA GCG", "D": "GAT GAC", "E": "GAA GAG",
    "G": "GGT GGC GGA GGG", "X": "", "B": "AAT AAC GAT GAC", "J": "TTA TTG CTT CTC CTA CTG ATT ATC ATA",
    "Z": "CAA CAG GAA GAG",
}

# Every list that differs from the standard code; "*: -" means the code has no stop key.
DIFFERENCES = """
2 | *: TAA TAG AGA AGG; W: TGA TGG; R: CGT CGC CGA CGG; I: ATT ATC; M: ATA ATG; J: TTA TTG CTT CTC CTA CTG ATT ATC
3 | L: TTA TTG; *: TAA TAG; W: TGA TGG; I: ATT ATC; M: ATA ATG; T: CTT CTC CTA CTG ACT ACC ACA ACG; J: TTA TTG ATT ATC
4 | *: TAA TAG; W: TGA TGG
5 | S: TCT TCC TCA TCG AGT AGC AGA AGG; *: TAA TAG; W: TGA TGG; R: CGT CGC CGA CGG; I: ATT ATC; M: ATA ATG; J: TTA TTG CTT CTC CTA CTG ATT ATC
6 | *: TGA; Q: TAA TAG CAA CAG; Z: TAA TAG CAA CAG GAA GAG
9 | S: TCT TCC TCA TCG AGT AGC AGA AGG; *: TAA TAG; W: TGA TGG; R: CGT CGC CGA CGG; N: AAT AAC AAA; K: AAG; B: AAT AAC AAA GAT GAC
10 | *: TAA TAG; C: TGT TGC TGA
11 |
12 | L: TTA TTG CTT CTC CTA; S: TCT TCC TCA TCG CTG AGT AGC; J: TTA TTG CTT CTC CTA ATT ATC ATA
13 | *: TAA TAG; W: TGA TGG; R: CGT CGC CGA CGG; I: ATT ATC; M: ATA ATG; G: AGA AGG GGT GGC GGA GGG; J: TTA TTG CTT CTC CTA CTG ATT ATC
14 | S: TCT TCC TCA TCG AGT AGC AGA AGG; Y: TAT TAC TAA; *: TAG; W: TGA TGG; R: CGT CGC CGA CGG; N: AAT AAC AAA; K: AAG; B: AAT AAC AAA GAT GAC
15 | *: TAA TGA; Q: TAG CAA CAG; Z: TAG CAA CAG GAA GAG
16 | L: TTA TTG TAG CTT CTC CTA CTG; *: TAA TGA; J: TTA TTG TAG CTT CTC CTA CTG ATT ATC ATA
21 | S: TCT TCC TCA TCG AGT AGC AGA AGG; *: TAA TAG; W: TGA TGG; R: CGT CGC CGA CGG; I: ATT ATC; M: ATA ATG; N: AAT AAC AAA; K: AAG; B: AAT AAC AAA GAT GAC; J: TTA TTG CTT CTC CTA CTG ATT ATC
22 | L: TTA TTG TAG CTT CTC CTA CTG; S: TCT TCC TCG AGT AGC; *: TCA TAA TGA; J: TTA TTG TAG CTT CTC CTA CTG ATT ATC ATA
23 | L: TTG CTT CTC CTA CTG; *: TTA TAA TAG TGA; J: TTG CTT CTC CTA CTG ATT ATC ATA
24 | S: TCT TCC TCA TCG AGT AGC AGA; *: TAA TAG; W: TGA TGG; R: CGT CGC CGA CGG; K: AAA AAG AGG
25 | *: TAA TAG; G: TGA GGT GGC GGA GGG
26 | L: TTA TTG CTT CTC CTA; A: CTG GCT GCC GCA GCG; J: TTA TTG CTT CTC CTA ATT ATC ATA
27 | *: -; W: TGA TGG; Q: TAA TAG CAA CAG; Z: TAA TAG CAA CAG GAA GAG
28 | *: -; W: TGA TGG; Q: TAA TAG CAA CAG; Z: TAA TAG CAA CAG GAA GAG
29 | Y: TAT TAC TAA TAG; *: TGA
30 | *: TGA; E: TAA TAG GAA GAG; Z: TAA TAG GAA GAG CAA CAG
31 | *: -; W: TGA TGG; E: TAA TAG GAA GAG; Z: TAA TAG GAA GAG CAA CAG
32 | *: TAA TGA; W: TAG TGG
33 | S: TCT TCC TCA TCG AGT AGC AGA; Y: TAT TAC TAA; *: TAG; W: TGA TGG; R: CGT CGC CGA CGG; K: AAA AAG AGG
"""

CODON_STRING_COUNTS = {
    1: 81, 2: 80, 3: 76, 4: 81, 5: 80, 6: 83, 9: 82, 10: 81, 11: 81, 12: 80, 13: 80, 14: 82, 15: 82, 16: 82,
    21: 81, 22: 82, 23: 80, 24: 81, 25: 81, 26: 80, 27: 83, 28: 83, 29: 81, 30: 83, 31: 83, 32: 81, 33: 81,
}


def expected_tables() -> dict[int, dict[str, list[str]]]:
    standard = {letter: codons.split() for letter, codons in STANDARD.items()}
    tables = {}
    for line in DIFFERENCES.strip().splitlines():
        number, _, changes = line.partition("|")
        table = {letter: list(codons) for letter, codons in standard.items()}
        for change in filter(None, (part.strip() for part in changes.split(";"))):
            letter, _, codons = change.partition(":")
            if codons.strip() == "-":
                del table[letter]
            else:
                table[letter] = codons.split()
        tables[int(number)] = table
    tables[1] = standard
    return tables


EXPECTED = expected_tables()


@pytest.fixture(scope="module")
def built_in() -> dict[int, dict[str, list[str]]]:
    result = run_native_check("dump_tables")
    assert result.returncode == 0, result.stderr
    assert "unexpected" not in result.stdout
    tables: dict[int, dict[str, list[str]]] = {}
    for line in result.stdout.splitlines():
        number, letter, *codons = line.split(" ")
        if number == "tables":
            assert letter == "27"
            continue
        tables.setdefault(int(number), {})[letter] = codons
    return tables


def test_numbers_and_totals(built_in):
    assert sorted(built_in) == [*range(1, 7), *range(9, 17), *range(21, 34)]
    assert sum(len(table) for table in built_in.values()) == 672
    assert sum(len(codons) for table in built_in.values() for codons in table.values()) == 2191


@pytest.mark.parametrize("number", sorted(EXPECTED))
def test_lists_in_stored_order(built_in, number):
    assert built_in[number] == EXPECTED[number]
    assert len(built_in[number]) == (24 if number in (27, 28, 31) else 25)
    assert sum(map(len, built_in[number].values())) == CODON_STRING_COUNTS[number]


@pytest.mark.parametrize("number", sorted(EXPECTED))
def test_invariants(built_in, number):
    table = built_in[number]
    coding = [codon for letter in AMINO_ACIDS + "*" for codon in table.get(letter, [])]
    assert sorted(coding) == sorted(ALL_CODONS)
    for letter in AMINO_ACIDS + "*":
        codons = table.get(letter, [])
        assert codons == sorted(codons, key=ALL_CODONS.index)
        assert letter == "*" or codons
    assert table["X"] == []
    for ambiguous, members in {"B": "ND", "J": "LI", "Z": "QE"}.items():
        lists = sorted((table[member] for member in members), key=lambda codons: ALL_CODONS.index(codons[0]))
        assert table[ambiguous] == lists[0] + lists[1]
