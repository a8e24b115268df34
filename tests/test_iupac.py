"""attempt_iupac_substitution: reading a triplet through its IUPAC ambiguity letters."""

from __future__ import annotations

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

import ntpepmap
from ntpepmap import attempt_iupac_substitution

IUPAC = {"R": "AG", "Y": "CT", "S": "GC", "W": "AT", "K": "GT", "M": "AC",
         "B": "CGT", "D": "AGT", "H": "ACT", "V": "ACG", "N": "ACGT"}
LEUCINE = ["TTA", "TTG", "CTT", "CTC", "CTA", "CTG"]
ARGININE = ["CGT", "CGC", "CGA", "CGG", "AGA", "AGG"]


def reference_candidates(triplet: str) -> set[bytes]:
    """The candidate set, expanded literally: keep branch first, buffer never restored."""
    raw = triplet.encode()
    buffer = bytearray(3)
    buffer[: len(raw)] = raw
    candidates: set[bytes] = set()

    def recurse(position: int) -> None:
        if position == len(raw):
            candidates.add(bytes(buffer))
            return
        recurse(position + 1)
        for letter in IUPAC.get(chr(raw[position]), ""):
            buffer[position] = ord(letter)
            recurse(position + 1)

    recurse(0)
    return candidates


def reference_substitution(triplet: str, taxa: list[str]) -> str | None:
    candidates = reference_candidates(triplet)
    return next((entry for entry in taxa if entry.encode() in candidates), None)


@pytest.mark.parametrize(
    ("triplet", "taxa", "expected"),
    [
        ("RRA", ["GGA", "AAA"], "GGA"),
        ("RRA", ["ARA"], None),
        ("RRA", ["GRA"], None),
        ("RRA", ["RGA"], "RGA"),
        ("RRA", ["RRA"], "RRA"),
        ("ACG", ["ACA", "ACG"], "ACG"),
        ("ACG", ["ACA"], None),
        ("NNN", ["TAA"], "TAA"),
        ("acg", ["ACG"], None),
        ("ryn", ["ryn"], "ryn"),
        ("AC", ["AC"], None),
        ("AC", ["AC\0"], "AC\0"),
        ("", ["\0\0\0"], "\0\0\0"),
        ("RRA", [], None),
        ("YTR", LEUCINE, "TTA"),
        ("MGR", ARGININE, "CGA"),
        ("ACG", ["AC", "ACGT", "ACG"], "ACG"),
        ("éR", ["éG"], "éG"),
        ("éR", ["éR"], "éR"),
        ("éR", ["éY"], None),
        ("XYZ", ["XCZ", "XTZ"], "XCZ"),
    ],
)
def test_substitution(triplet, taxa, expected):
    assert attempt_iupac_substitution(triplet, taxa) == expected
    assert attempt_iupac_substitution(original_triplet=triplet, taxa=tuple(taxa)) == expected


@pytest.mark.parametrize(("triplet", "members"), [("RRA", 7), ("NNN", 85), ("ANN", 21), ("ACG", 1), ("rga", 1)])
def test_reference_model_counts(triplet, members):
    # The model the property test trusts must itself reproduce the known set sizes.
    assert len(reference_candidates(triplet)) == members


def test_every_candidate_of_nnn_matches_and_nothing_else():
    every_triplet = {bytes(c).decode("latin-1") for c in reference_candidates("NNN")}
    for entry in every_triplet:
        assert attempt_iupac_substitution("NNN", [entry]) == entry
    assert attempt_iupac_substitution("NNN", ["NAN", "ANA", "AAN", "nnn"]) is None
    assert attempt_iupac_substitution("NNN", ["NAN", "NNA"]) == "NNA"


TRIPLET_BYTES = st.sampled_from(list("RYSWKMBDHVNACGTUnr-é"))
TRIPLETS = st.lists(TRIPLET_BYTES, max_size=3).map("".join).filter(lambda t: len(t.encode()) <= 3)
ENTRIES = st.one_of(TRIPLETS, st.text(max_size=4))


@settings(max_examples=400, deadline=None)
@given(TRIPLETS, st.lists(ENTRIES, max_size=6))
def test_matches_reference_expansion(triplet, taxa):
    expected = reference_substitution(triplet, taxa)
    assert attempt_iupac_substitution(triplet, taxa) == expected


@pytest.mark.parametrize("triplet", ["ACGT", "AAéA"[:3] + "é", "aéc", "ééé", "A" * 100])
def test_triplet_longer_than_three_bytes(triplet):
    length = len(triplet.encode())
    assert length > 3
    with pytest.raises(ValueError) as raised:
        attempt_iupac_substitution(triplet, ["ACG"])
    assert str(raised.value) == f"original_triplet must be at most 3 bytes of UTF-8, got {length}"
    assert attempt_iupac_substitution("ACG", ["ACG"]) == "ACG"


def test_result_is_a_new_str():
    entry = "".join(["A", "C", "G"])
    result = attempt_iupac_substitution("ACG", [entry])
    assert type(result) is str and result == entry
    assert ntpepmap.attempt_iupac_substitution.__name__ == "attempt_iupac_substitution"
