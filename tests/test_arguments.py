"""Argument matching and conversion: exception types, exact messages, order of checks."""

from __future__ import annotations

import collections
import ctypes

import pytest

from conftest import MutatingIndex, numbered_record, plain_record
from ntpepmap import attempt_iupac_substitution, pepthread, pepthread_original_args

GOOD_NUMBERED = {"r": numbered_record("h", "M", "h", "ATG")}
GOOD_PLAIN = {"r": plain_record("h", "M", "h", "ATG")}


class Outer:
    class Inner:
        pass


class UnreadableNameMeta(type):
    def __getattribute__(cls, name):
        if name == "__qualname__":
            return 5
        return super().__getattribute__(name)


class RaisingNameMeta(type):
    def __getattribute__(cls, name):
        if name == "__qualname__":
            raise RuntimeError("no name")
        return super().__getattribute__(name)


class NumberName(metaclass=UnreadableNameMeta):
    pass


class RaisingName(metaclass=RaisingNameMeta):
    pass


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class RaisingIndex:
    def __init__(self, error):
        self.error = error

    def __index__(self):
        raise self.error


class Codons:
    """A minimal sequence: __getitem__ and __len__ only."""

    def __init__(self, *items, length=None):
        self.items = items
        self.length = len(items) if length is None else length

    def __getitem__(self, index):
        return self.items[index]

    def __len__(self):
        if isinstance(self.length, BaseException):
            raise self.length
        return self.length


class BrokenIteration(Codons):
    def __iter__(self):
        raise KeyError("iteration refused")


class Tagged(str):
    pass


class Pair(tuple):
    pass


Point = collections.namedtuple("Point", "header row")


def call(function, *args, **kwargs):
    return lambda: function(*args, **kwargs)


MATCHING_ERRORS = [
    pytest.param(call(pepthread, "a", 11),
                 "pepthread() missing 1 required positional argument: 'seqs'", id="missing-one"),
    pytest.param(call(pepthread),
                 "pepthread() missing 3 required positional arguments: 'file_steem', 'table_num', and 'seqs'",
                 id="missing-three"),
    pytest.param(call(pepthread_original_args, seqs={}),
                 "pepthread_original_args() missing 2 required positional arguments: 'file_steem' and 'gene_table'",
                 id="missing-two"),
    pytest.param(call(pepthread, table_num=1),
                 "pepthread() missing 2 required positional arguments: 'file_steem' and 'seqs'",
                 id="missing-around-keyword"),
    pytest.param(call(attempt_iupac_substitution, "ACG"),
                 "attempt_iupac_substitution() missing 1 required positional argument: 'taxa'", id="missing-taxa"),
    pytest.param(call(pepthread, "a", 11, {}, 1),
                 "pepthread() takes 3 positional arguments but 4 were given", id="too-many"),
    pytest.param(call(pepthread, "a", 11, {}, 1, bogus=2, file_steem="x"),
                 "pepthread() takes 3 positional arguments but 4 were given", id="too-many-before-keywords"),
    pytest.param(call(attempt_iupac_substitution, "A", [], None, None),
                 "attempt_iupac_substitution() takes 2 positional arguments but 4 were given", id="too-many-of-two"),
    pytest.param(call(pepthread, "a", file_steem="b", table_num=1, seqs={}),
                 "pepthread() got multiple values for argument 'file_steem'", id="multiple-values"),
    pytest.param(call(pepthread, "a", 1, {}, table=1),
                 "pepthread() got an unexpected keyword argument 'table'", id="unexpected"),
    pytest.param(call(pepthread, "a", 1, Seqs={}),
                 "pepthread() got an unexpected keyword argument 'Seqs'", id="case-sensitive"),
    pytest.param(call(pepthread, "a", bogus=1, file_steem="b"),
                 "pepthread() got an unexpected keyword argument 'bogus'", id="keywords-in-call-order-unknown"),
    pytest.param(call(pepthread, "a", file_steem="b", bogus=1),
                 "pepthread() got multiple values for argument 'file_steem'", id="keywords-in-call-order-multiple"),
    pytest.param(call(pepthread, 5, 1.5),
                 "pepthread() missing 1 required positional argument: 'seqs'", id="matching-before-conversion"),
    pytest.param(call(pepthread, "a", 1, {}, **{"\udcff": 1}),
                 "pepthread() got an unexpected keyword argument '\udcff'", id="keyword-without-utf8"),
]


@pytest.mark.parametrize("invoke, message", MATCHING_ERRORS)
def test_matching_errors(invoke, message):
    with pytest.raises(TypeError) as caught:
        invoke()
    assert type(caught.value) is TypeError
    assert caught.value.args == (message,)


def _vectorcall(function, positional, keyword_names, keyword_values):
    """Calls through the fast-call protocol directly, which lets keyword names be any object."""
    vectorcall = ctypes.pythonapi.PyObject_Vectorcall
    vectorcall.restype = ctypes.py_object
    vectorcall.argtypes = [ctypes.py_object, ctypes.POINTER(ctypes.py_object), ctypes.c_size_t, ctypes.py_object]
    values = [*positional, *keyword_values]
    return vectorcall(function, (ctypes.py_object * len(values))(*values), len(positional), tuple(keyword_names))


@pytest.mark.parametrize("keyword_names, message", [
    pytest.param((7,), "'int' object cannot be converted to 'PyString'", id="int-name"),
    pytest.param(("table_num", b"seqs"), "'bytes' object cannot be converted to 'PyString'", id="bytes-after-good"),
    pytest.param(("bogus", 7), "pepthread() got an unexpected keyword argument 'bogus'", id="call-order"),
])
def test_keyword_names_that_are_not_str(keyword_names, message):
    with pytest.raises(TypeError) as caught:
        _vectorcall(pepthread, ["f"], keyword_names, [1, {}][: len(keyword_names)])
    assert str(caught.value) == message


def test_vectorcall_with_str_keyword_names_works():
    assert _vectorcall(pepthread, ["f"], ("seqs", "table_num"), [{}, 1]) == ""


def test_arguments_by_keyword_in_any_order():
    assert pepthread(seqs={}, table_num=1, file_steem="f") == ""
    assert attempt_iupac_substitution(taxa=["ACG"], original_triplet="ACG") == "ACG"


CONVERSION_ERRORS = [
    # text
    pytest.param(call(pepthread, file_steem=1, table_num=1, seqs={}), TypeError,
                 "argument 'file_steem': 'int' object cannot be converted to 'PyString'", id="text-int"),
    pytest.param(call(pepthread, None, 1, {}), TypeError,
                 "argument 'file_steem': 'NoneType' object cannot be converted to 'PyString'", id="text-none"),
    pytest.param(call(pepthread, b"f", 1, {}), TypeError,
                 "argument 'file_steem': 'bytes' object cannot be converted to 'PyString'", id="text-bytes"),
    pytest.param(call(pepthread, Outer.Inner(), 1, {}), TypeError,
                 "argument 'file_steem': 'Outer.Inner' object cannot be converted to 'PyString'", id="qualname"),
    pytest.param(call(pepthread, NumberName(), 1, {}), TypeError,
                 "argument 'file_steem': '<failed to extract type name>' object cannot be converted to 'PyString'",
                 id="qualname-not-str"),
    pytest.param(call(pepthread, RaisingName(), 1, {}), TypeError,
                 "argument 'file_steem': '<failed to extract type name>' object cannot be converted to 'PyString'",
                 id="qualname-raises"),
    # 32-bit integer
    pytest.param(call(pepthread, "a", 1.0, {}), TypeError,
                 "argument 'table_num': 'float' object cannot be interpreted as an integer", id="int-float"),
    pytest.param(call(pepthread, "a", "1", {}), TypeError,
                 "argument 'table_num': 'str' object cannot be interpreted as an integer", id="int-str"),
    pytest.param(call(pepthread, "a", 2**31, {}), OverflowError,
                 "out of range integral type conversion attempted", id="int-2**31"),
    pytest.param(call(pepthread, "a", -(2**31) - 1, {}), OverflowError,
                 "out of range integral type conversion attempted", id="int-below-range"),
    pytest.param(call(pepthread, "a", Index(2**40), {}), OverflowError,
                 "out of range integral type conversion attempted", id="int-index-out-of-range"),
    pytest.param(call(pepthread, "a", 2**63, {}), OverflowError,
                 "Python int too large to convert to C long", id="int-2**63"),
    pytest.param(call(pepthread, "a", RaisingIndex(ValueError("from index")), {}), ValueError,
                 "from index", id="index-valueerror-unchanged"),
    pytest.param(call(pepthread, "a", RaisingIndex(TypeError("from index")), {}), TypeError,
                 "argument 'table_num': from index", id="index-typeerror-prefixed"),
    # seqs
    pytest.param(call(pepthread, "a", 1, []), TypeError,
                 "argument 'seqs': 'list' object cannot be converted to 'PyDict'", id="seqs-list"),
    pytest.param(call(pepthread, "a", 1, {"r": [("h", "M"), (0, "h", "ATG")]}), TypeError,
                 "argument 'seqs': 'list' object cannot be converted to 'PyTuple'", id="seqs-value-list"),
    pytest.param(call(pepthread, "a", 1, {"r": (("h", "M"), [0, "h", "ATG"])}), TypeError,
                 "argument 'seqs': 'list' object cannot be converted to 'PyTuple'", id="seqs-item-list"),
    pytest.param(call(pepthread, "a", 1, {"r": (("h", "M"), (0, "h", "ATG"), ())}), ValueError,
                 "expected tuple of length 2, but got tuple of length 3", id="seqs-outer-length"),
    pytest.param(call(pepthread, "a", 1, {"r": (("h", "M"), ("h", "ATG"))}), ValueError,
                 "expected tuple of length 3, but got tuple of length 2", id="seqs-item1-length"),
    pytest.param(call(pepthread, "a", 1, {"r": (("h",), (0, "h", "ATG"))}), ValueError,
                 "expected tuple of length 2, but got tuple of length 1", id="seqs-item0-length"),
    pytest.param(call(pepthread, "a", 1, {"r": (("h", "M"), ("0", "h", "ATG"))}), TypeError,
                 "argument 'seqs': 'str' object cannot be interpreted as an integer", id="seqs-number-str"),
    pytest.param(call(pepthread, "a", 1, {"r": (("h", "M"), (2**31, "h", "ATG"))}), OverflowError,
                 "out of range integral type conversion attempted", id="seqs-number-range"),
    pytest.param(call(pepthread, "a", 1, {5: (("h", "M"), (0, "h", "ATG"))}), TypeError,
                 "argument 'seqs': 'int' object cannot be converted to 'PyString'", id="seqs-key-int"),
    pytest.param(call(pepthread, "a", 1, {"r": (("h", 7), (0, "h", "ATG"))}), TypeError,
                 "argument 'seqs': 'int' object cannot be converted to 'PyString'", id="seqs-text-int"),
    pytest.param(call(pepthread, "a", 1, {5: "bad value too"}), TypeError,
                 "argument 'seqs': 'int' object cannot be converted to 'PyString'", id="seqs-key-before-value"),
    pytest.param(call(pepthread, "a", 1, {"r": "not a tuple", 5: None}), TypeError,
                 "argument 'seqs': 'str' object cannot be converted to 'PyTuple'", id="seqs-dict-order"),
    pytest.param(call(pepthread_original_args, "a", {}, {"r": (("h", "M"), (0, "h", "ATG"))}), ValueError,
                 "expected tuple of length 2, but got tuple of length 3", id="plain-seqs-numbered-shape"),
    # gene_table
    pytest.param(call(pepthread_original_args, "a", [], {}), TypeError,
                 "argument 'gene_table': 'list' object cannot be converted to 'PyDict'", id="table-list"),
    pytest.param(call(pepthread_original_args, "a", {1: ["ATG"]}, {}), TypeError,
                 "argument 'gene_table': 'int' object cannot be converted to 'PyString'", id="table-key-int"),
    pytest.param(call(pepthread_original_args, "a", {"AB": ["ATG"]}, {}), ValueError,
                 "expected a string of length 1", id="table-key-two"),
    pytest.param(call(pepthread_original_args, "a", {"": ["ATG"]}, {}), ValueError,
                 "expected a string of length 1", id="table-key-empty"),
    pytest.param(call(pepthread_original_args, "a", {"M": "ATG"}, {}), ValueError,
                 "Can't extract `str` to `Vec`", id="table-value-str"),
    pytest.param(call(pepthread_original_args, "a", {"M": 5}, {}), TypeError,
                 "argument 'gene_table': 'int' object cannot be converted to 'Sequence'", id="table-value-int"),
    pytest.param(call(pepthread_original_args, "a", {"M": {"ATG": 1}}, {}), TypeError,
                 "argument 'gene_table': 'dict' object cannot be converted to 'Sequence'", id="table-value-dict"),
    pytest.param(call(pepthread_original_args, "a", {"M": ["ATG", None]}, {}), TypeError,
                 "argument 'gene_table': 'NoneType' object cannot be converted to 'PyString'", id="table-codon"),
    pytest.param(call(pepthread_original_args, "a", {"M": 5}, []), TypeError,
                 "argument 'gene_table': 'int' object cannot be converted to 'Sequence'", id="table-before-seqs"),
    # taxa and original_triplet
    pytest.param(call(attempt_iupac_substitution, "ACG", "ACG"), ValueError,
                 "Can't extract `str` to `Vec`", id="taxa-str"),
    pytest.param(call(attempt_iupac_substitution, "ACG", Tagged("ACG")), ValueError,
                 "Can't extract `str` to `Vec`", id="taxa-str-subclass"),
    pytest.param(call(attempt_iupac_substitution, "ACG", 5), TypeError,
                 "argument 'taxa': 'int' object cannot be converted to 'Sequence'", id="taxa-int"),
    pytest.param(call(attempt_iupac_substitution, "ACG", {"ACG"}), TypeError,
                 "argument 'taxa': 'set' object cannot be converted to 'Sequence'", id="taxa-set"),
    pytest.param(call(attempt_iupac_substitution, "ACG", (c for c in ["ACG"])), TypeError,
                 "argument 'taxa': 'generator' object cannot be converted to 'Sequence'", id="taxa-generator"),
    pytest.param(call(attempt_iupac_substitution, "ACG", b"ACG"), TypeError,
                 "argument 'taxa': 'int' object cannot be converted to 'PyString'", id="taxa-bytes-items"),
    pytest.param(call(attempt_iupac_substitution, "ACG", BrokenIteration("ACG")), KeyError,
                 "'iteration refused'", id="taxa-iteration-error"),
    pytest.param(call(attempt_iupac_substitution, 5, []), TypeError,
                 "argument 'original_triplet': 'int' object cannot be converted to 'PyString'", id="triplet-int"),
    pytest.param(call(attempt_iupac_substitution, 5, 5), TypeError,
                 "argument 'original_triplet': 'int' object cannot be converted to 'PyString'", id="first-wins"),
    pytest.param(call(attempt_iupac_substitution, "ACGT", ["ACG"]), ValueError,
                 "original_triplet must be at most 3 bytes of UTF-8, got 4", id="triplet-four-bytes"),
    pytest.param(call(attempt_iupac_substitution, "AC\u00c9", ["ACG"]), ValueError,
                 "original_triplet must be at most 3 bytes of UTF-8, got 4", id="triplet-three-chars-four-bytes"),
    pytest.param(call(attempt_iupac_substitution, "\u20ac\u20ac", []), ValueError,
                 "original_triplet must be at most 3 bytes of UTF-8, got 6", id="triplet-six-bytes"),
]


@pytest.mark.parametrize("invoke, error_type, message", CONVERSION_ERRORS)
def test_conversion_errors(invoke, error_type, message):
    with pytest.raises(BaseException) as caught:
        invoke()
    assert type(caught.value) is error_type
    assert str(caught.value) == message


LONE_SURROGATE = "A\ud800"


@pytest.mark.parametrize("invoke", [
    pytest.param(call(pepthread, LONE_SURROGATE, 1, {}), id="file_steem"),
    pytest.param(call(pepthread, "a", 1, {LONE_SURROGATE: numbered_record("h", "M", "h", "ATG")}), id="seqs-key"),
    pytest.param(call(pepthread, "a", 1, {"r": numbered_record("h", "M", "h", LONE_SURROGATE)}), id="seqs-text"),
    pytest.param(call(pepthread_original_args, "a", {"\ud800": []}, {}), id="table-key-one-char"),
    pytest.param(call(pepthread_original_args, "a", {"M": [LONE_SURROGATE]}, {}), id="table-codon"),
    pytest.param(call(attempt_iupac_substitution, "\udcff", []), id="triplet"),
    pytest.param(call(attempt_iupac_substitution, "ACG", ["ACG", LONE_SURROGATE]), id="taxa-item"),
])
def test_lone_surrogates_raise_unicode_encode_error_unchanged(invoke):
    with pytest.raises(UnicodeEncodeError) as caught:
        invoke()
    assert "argument '" not in str(caught.value)


def test_typeerror_prefix_keeps_the_cause():
    root = KeyError("root cause")
    error = TypeError("bad index")
    error.__cause__ = root
    with pytest.raises(TypeError) as caught:
        pepthread("a", RaisingIndex(error), {})
    assert str(caught.value) == "argument 'table_num': bad index"
    assert caught.value is not error
    assert caught.value.__cause__ is root


def test_typeerror_subclass_is_not_prefixed():
    class Special(TypeError):
        pass

    error = Special("special")
    with pytest.raises(Special) as caught:
        pepthread("a", RaisingIndex(error), {})
    assert caught.value is error


@pytest.mark.parametrize("table_num", [True, Index(1), 1])
def test_index_forms_are_table_numbers(table_num):
    seqs = {"r": numbered_record("h", "MK", "h", "ATGAAA")}
    assert pepthread("a", table_num, seqs) == pepthread("a", 1, seqs)


@pytest.mark.parametrize("number", [0, -1, 2**31 - 1, -(2**31), True, Index(7)])
def test_record_number_in_range_is_accepted_and_ignored(number):
    seqs = {"r": numbered_record("h", "MK", "h", "ATGAAA", number)}
    assert pepthread("a", 1, seqs) == "r\nATGAAA\n"


@pytest.mark.parametrize("seqs", [
    pytest.param({Tagged("r"): (Pair((Tagged("h"), "MK")), Pair((0, "h", Tagged("ATGAAA"))))}, id="subclasses"),
    pytest.param(collections.OrderedDict(r=(Point("h", "MK"), (0, "h", "ATGAAA"))), id="ordereddict-namedtuple"),
    pytest.param(collections.defaultdict(list, r=numbered_record("h", "MK", "h", "ATGAAA")), id="defaultdict"),
])
def test_subclasses_of_dict_tuple_and_str_are_accepted(seqs):
    assert pepthread(Tagged("a"), 1, seqs) == "r\nATGAAA\n"


@pytest.mark.parametrize("taxa, expected", [
    pytest.param(("GGA", "AAA"), "GGA", id="tuple"),
    pytest.param(Codons("ARA", "RGA"), "RGA", id="custom-sequence"),
    pytest.param(Codons("GGA", length=2**40), "GGA", id="len-far-too-large"),
    pytest.param(Codons("GGA", length=-5), "GGA", id="len-negative"),
    pytest.param(Codons("GGA", length=RuntimeError("no len")), "GGA", id="len-raises"),
    pytest.param(collections.deque(["TTT", "AGA"]), "AGA", id="deque"),
    pytest.param([], None, id="empty"),
    pytest.param([Tagged("AAA")], "AAA", id="str-subclass-items"),
])
def test_taxa_sequences(taxa, expected):
    assert attempt_iupac_substitution("RRA", taxa) == expected


def test_gene_table_accepts_any_sequence_of_codons():
    table = {"M": ("ATG",), "K": Codons("AAA", "AAG"), Tagged("W"): ["TGG"]}
    seqs = {"r": plain_record("h", "MKW", "h", "ATGAAGTGG")}
    assert pepthread_original_args("a", table, seqs) == "r\nATGAAGTGG\n"


def test_value_error_inside_seqs_is_not_prefixed_however_deep():
    seqs = {"ok": numbered_record("h", "M", "h", "ATG"),
            "bad": (("h", "M"), (RaisingIndex(ValueError("deep")), "h", "ATG"))}
    with pytest.raises(ValueError, match="^deep$"):
        pepthread("a", 1, seqs)


def test_conversion_of_dict_entries_runs_in_dict_order():
    visited = []
    seqs = {name: (("h", "M"), (MutatingIndex(lambda n=name: visited.append(n)), "h", "ATG"))
            for name in ["c", "a", "b"]}
    pepthread("a", 1, seqs)
    assert visited == ["c", "a", "b"]
