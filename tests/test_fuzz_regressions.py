"""Inputs met while building and running the fuzz harnesses (fuzz/), kept as plain tests.

They also run under the sanitizers in CI (scripts/sanitize.sh), where a memory error on
these paths (borrowed texts of merged records, byte-wise triplets) fails the run even
when the result looks right.
"""

from __future__ import annotations

import pytest

from conftest import MutatingIndex, numbered_record, plain_record
from ntpepmap import attempt_iupac_substitution, pepthread, pepthread_original_args


class LonelyText(str):
    """Equal to nothing, itself included: a dict keeps several keys of the same text."""

    __hash__ = str.__hash__

    def __eq__(self, other: object) -> bool:
        return False

    def __ne__(self, other: object) -> bool:
        return True


def test_record_names_of_equal_text_merge_last_value_first_place():
    seqs = {
        LonelyText("a"): numbered_record("h", "M", "h", "ATG"),
        "b": numbered_record("h", "K", "h", "AAA"),
        LonelyText("a"): numbered_record("h", "W" * 40, "h", "TGG" * 40),
    }
    assert len(seqs) == 3
    assert pepthread("f", 1, seqs) == "a\n" + "TGG" * 40 + "\nb\nAAA\n"


def test_record_names_of_equal_text_merge_also_after_python_code_ran():
    seqs = {
        "a": ((("h", "M")), (MutatingIndex(lambda: None), "h", "ATG")),
        LonelyText("a"): numbered_record("h", "K", "h", "AAA"),
    }
    assert pepthread("f", 1, seqs) == "a\nAAA\n"


def test_gene_table_letters_of_equal_text_keep_the_last_codons():
    table = {LonelyText("M"): ["ATG"], "K": ["AAA"], LonelyText("M"): ["ATA"]}
    assert pepthread_original_args("f", table, {"r": plain_record("h", "MK", "h", "ATAAAA")}) == "r\nATAAAA\n"


def test_a_swap_of_keys_that_yields_one_entry_too_many_converts_it_before_aborting():
    # Same size all along, but the new entry is visited too: its key, not a str,
    # fails first; with a str key the visit after it aborts.
    for new_key, expected in ((object(), TypeError), ("c", BaseException)):
        seqs: dict = {}

        def swap(key=new_key, target=seqs) -> None:
            del target["a"]
            target[key] = numbered_record("h", "M", "h", "ATG")

        seqs["a"] = (("h", "M"), (MutatingIndex(swap), "h", "ATG"))
        seqs["b"] = numbered_record("h", "M", "h", "ATG")
        with pytest.raises(expected) as caught:
            pepthread("f", 1, seqs)
        if expected is BaseException:
            assert type(caught.value).__name__ == "PanicException"
            assert str(caught.value) == "dictionary keys changed during iteration"


@pytest.mark.parametrize(("triplet", "taxa", "expected"), [
    ("", ["", "\0\0\0"], "\0\0\0"),  # an empty triplet reads as three NUL bytes
    ("A\0", ["A\0\0"], "A\0\0"),
    ("\u00e9", ["\u00e9\0"], "\u00e9\0"),  # two bytes of one character, then a NUL
    ("\u20ac", ["\u20ac"], "\u20ac"),  # three bytes, one character
])
def test_short_and_wide_triplets_read_byte_by_byte(triplet, taxa, expected):
    assert attempt_iupac_substitution(triplet, taxa) == expected


@pytest.mark.parametrize("triplet", ["\U0001d11e", "\u00e9\u00e9", "AC\u00e9"])
def test_triplets_of_more_than_three_bytes_are_refused_with_their_size(triplet):
    with pytest.raises(ValueError, match=f"^original_triplet must be at most 3 bytes of UTF-8, got "
                                         f"{len(triplet.encode())}$"):
        attempt_iupac_substitution(triplet, ["AAA"])
