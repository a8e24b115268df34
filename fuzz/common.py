"""Argument builders and checks shared by the fuzz harnesses.

A harness turns the fuzzer's bytes into call arguments through `Arguments`, which
records while it builds whether the call is well-formed (then it must not raise),
whether Python code of ours may raise inside a conversion, whether the call may
abort (a dict changed under conversion) and which records are clean (their exact
result is known). `check_outcome` and `check_records` then assert what must hold.
"""

from __future__ import annotations

import os
import sys
import traceback
from dataclasses import dataclass, field
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent.parent / "tests"))
from test_properties import model_row  # noqa: E402  (a literal model of one record's translation)
from test_tables import EXPECTED as BUILT_IN_TABLES  # noqa: E402  (the 27 codes, as data)
from test_iupac import reference_substitution as iupac_substitution  # noqa: E402,F401  (literal expansion)

NUCLEOTIDE_LETTERS = "ACGTRYSWKMBDHVNacgtnU-. \n"
PEPTIDE_LETTERS = "ALWQYECDFGHIKMPRSVNT*-BJZXOUalmkw .\tß1"
WIDE_CHARACTERS = "é€𝄞ßİŉ\u00a0\u2028"
PEPTIDES = "ALWQYECDFGHIKMPRSVNT*BJZX"  # every residue that a table may list
BASES = "TCAG"
REPORT_MARK = "===ERROR CAUGHT IN FILE "
ALLOWED_ARGUMENT_ERRORS = (TypeError, ValueError, OverflowError)
ABORT_MESSAGES = ("dictionary changed size during iteration", "dictionary keys changed during iteration")


class HarnessError(Exception):
    """Raised by our own objects from inside a conversion; must come back unchanged."""


class Text(str):
    """A str subclass: accepted wherever a str is."""


class LonelyText(str):
    """A str subclass equal to nothing: a dict may hold several keys of the same text,
    which the module's own maps merge (the last value at the first one's place)."""

    __hash__ = str.__hash__

    def __eq__(self, other: object) -> bool:
        return False

    def __ne__(self, other: object) -> bool:
        return True


def reporting(test_one_input):
    """Prints a failing input's traceback to stderr before the fuzzer takes over."""

    def run(data: bytes) -> None:
        try:
            test_one_input(data)
        except BaseException:
            traceback.print_exc()
            sys.stderr.flush()
            raise

    return run


def is_panic(error: BaseException) -> bool:
    return type(error).__name__ == "PanicException" and isinstance(error, BaseException)


@dataclass
class Arguments:
    """Builds values from fuzzer bytes and remembers what they allow."""

    data: object  # atheris.FuzzedDataProvider
    malformed: bool = False  # some value is of a wrong type or shape: an argument error may come
    may_abort: bool = False  # a dict may change while it is converted
    raises_own: bool = False  # one of our objects may raise HarnessError inside a conversion
    clean: dict = field(default_factory=dict)  # id of a clean seqs value -> (value, its exact codon row)
    mutators: list = field(default_factory=list)  # every Mutator handed out

    # --- small values -------------------------------------------------------
    def count(self, upper: int) -> int:
        return self.data.ConsumeIntInRange(0, upper)

    def choice(self, options):
        return options[self.count(len(options) - 1)]

    def letters(self, alphabet: str, upper: int) -> str:
        return "".join(self.choice(alphabet) for _ in range(self.count(upper)))

    def text(self, alphabet: str = NUCLEOTIDE_LETTERS) -> str:
        kind = self.count(9)
        if kind <= 3:
            return self.letters(alphabet, 40)
        if kind == 4:
            return ""
        if kind == 5:
            return self.letters(alphabet + WIDE_CHARACTERS, 20)
        if kind == 6:
            value = self.data.ConsumeUnicode(self.count(12))
            try:
                value.encode()
            except UnicodeEncodeError:  # lone surrogates have no UTF-8 form
                self.malformed = True
            return value
        if kind == 7:  # huge
            return self.letters(alphabet, 6) * (1 + self.count(1 << 16))
        if kind == 8:
            return Text(self.letters(alphabet, 12))
        return self.data.ConsumeUnicodeNoSurrogates(self.count(16))

    def anything(self, depth: int = 0) -> object:
        """A value of any type, nested a little: mostly the wrong thing."""
        self.malformed = True
        kind = self.count(11)
        if kind == 0:
            return None
        if kind == 1:
            return self.data.ConsumeInt(self.count(12))
        if kind == 2:
            return self.data.ConsumeFloat()
        if kind == 3:
            return self.data.ConsumeBytes(self.count(6))
        if kind == 4:
            return self.text()
        if kind == 5:
            return [self.anything(depth + 1) for _ in range(self.count(3 if depth < 2 else 0))]
        if kind == 6:
            return tuple(self.anything(depth + 1) for _ in range(self.count(4 if depth < 2 else 0)))
        if kind == 7:
            return {self.text(): self.anything(depth + 1) for _ in range(self.count(2 if depth < 2 else 0))}
        if kind == 8:
            return self.data.ConsumeBool()
        if kind == 9:
            return RaisingIndex(self)
        if kind == 10:
            return frozenset()
        return object()

    def int32(self) -> object:
        kind = self.count(7)
        if kind <= 3:
            return self.data.ConsumeIntInRange(-(2**31), 2**31 - 1)
        if kind == 4:
            self.malformed = True  # may lie beyond 32 bits or a C long
            return self.data.ConsumeInt(self.count(20))
        if kind == 5:
            return self.data.ConsumeBool()
        if kind == 6:
            return Index(self.data.ConsumeIntInRange(-5, 40))
        return self.anything()

    def sequence(self, items: list) -> object:
        """A list, a tuple or another sequence type holding `items`."""
        kind = self.count(7)
        if kind == 0:
            return tuple(items)
        if kind == 1:
            return SequenceOf(items)
        if kind == 2 and items:
            self.raises_own = True
            return FailingSequence(items, self.count(len(items) - 1))
        return list(items)


def _never(*_args, **_kwargs):
    raise HarnessError("a container's Python-level method was called")


class StrictDict(dict):
    """A dict subclass whose Python-level views raise: conversion reads the dict itself."""

    __iter__ = keys = values = items = __len__ = __getitem__ = get = _never


class StrictTuple(tuple):
    """A tuple subclass whose Python-level access raises: conversion reads the tuple itself."""

    __iter__ = __len__ = __getitem__ = _never


class Index:
    """An int-like object: converted through __index__."""

    def __init__(self, value: int) -> None:
        self.value = value

    def __index__(self) -> int:
        return self.value


class RaisingIndex:
    def __init__(self, arguments: Arguments) -> None:
        arguments.raises_own = True

    def __index__(self) -> int:
        raise HarnessError("from __index__")

    def __iter__(self):
        raise HarnessError("from __iter__")


class SequenceOf:
    """A sequence that is neither a list nor a tuple."""

    def __init__(self, items: list) -> None:
        self.items = items

    def __len__(self) -> int:
        return len(self.items)

    def __getitem__(self, index):
        return self.items[index]


class FailingSequence(SequenceOf):
    """A sequence whose iteration raises part-way through."""

    def __init__(self, items: list, failing_index: int) -> None:
        super().__init__(items)
        self.failing_index = failing_index

    def __getitem__(self, index):
        if index == self.failing_index:
            raise HarnessError("from __getitem__")
        return self.items[index]


class Mutator:
    """Changes a dict from inside a conversion: as an index (__index__) or a sequence (__iter__)."""

    def __init__(self, arguments: Arguments, target: dict, value: object, items: list) -> None:
        self.target, self.value, self.items = target, value, items
        self.grow = arguments.data.ConsumeBool()
        self.ran = False
        arguments.may_abort = True
        arguments.mutators.append(self)

    def _mutate(self) -> None:
        self.ran = True
        if self.grow:
            dict.__setitem__(self.target, object(), self.value)
        elif dict.__len__(self.target):
            dict.pop(self.target, next(reversed(self.target)))
            dict.__setitem__(self.target, object(), self.value)  # same size, other keys

    def __index__(self) -> int:
        self._mutate()
        return 0

    def __len__(self) -> int:
        return len(self.items)

    def __getitem__(self, index):
        return self.items[index]

    def __iter__(self):
        self._mutate()
        return iter(self.items)


# --- records ------------------------------------------------------------------

def codon_table_of(number: int) -> dict[str, list[str]]:
    return BUILT_IN_TABLES.get(number, {})


def usable_codons(codons) -> list[str] | None:
    """The codons of a table entry that a clean record can use, or None."""
    if not isinstance(codons, (list, tuple, SequenceOf)) or isinstance(codons, FailingSequence):
        return None
    codons = list(codons)
    if not codons or not all(isinstance(c, str) for c in codons):
        return None
    try:
        if all(len(c.encode()) == 3 and "-" not in c and "." not in c for c in codons):
            return codons
    except UnicodeEncodeError:
        pass
    return None


def clean_record(arguments: Arguments, table: dict) -> tuple[str, str, str]:
    """A peptide row, its nucleotide sequence and the exact codon row they must give."""
    usable = {str(letter): usable_codons(codons) for letter, codons in dict.items(table)
              if isinstance(letter, str) and str(letter) in PEPTIDES}
    residues = [letter for letter, codons in usable.items() if codons]
    peptide, nucleotides, row = [], [], []
    for _ in range(arguments.count(30)):
        if not residues or arguments.count(4) == 0:
            peptide.append("-")
            row.append("---")
            continue
        residue = arguments.choice(residues)
        codon = arguments.choice(usable[residue])
        peptide.append(residue)
        nucleotides.append(codon)
        row.append(codon)
    return "".join(peptide), "".join(nucleotides), "".join(row)


def record_pair(arguments: Arguments, numbered: bool, seqs: dict, table: dict) -> tuple[object, str | None]:
    """One `seqs` value; the exact codon row when the record is clean."""
    kind = arguments.count(9)
    if kind <= 3:
        header = arguments.text(PEPTIDE_LETTERS)
        peptide, nucleotides, row = clean_record(arguments, table)
        second = (arguments.data.ConsumeIntInRange(-(2**31), 2**31 - 1), header, nucleotides) if numbered \
            else (header, nucleotides)
        value = ((header, peptide), second)
        return (StrictTuple(value) if arguments.count(7) == 0 else value), row
    if kind <= 6:  # well-typed, any content
        texts = [arguments.text(PEPTIDE_LETTERS), arguments.text(PEPTIDE_LETTERS),
                 arguments.text(), arguments.text()]
        if kind == 6:
            texts[2] = texts[0]
        second = (arguments.int32(), texts[2], texts[3]) if numbered else (texts[2], texts[3])
        return ((texts[0], texts[1]), second), None
    if kind == 7:
        mutator = Mutator(arguments, seqs, (("h", ""), (0, "h", "") if numbered else ("h", "")), [])
        second = (mutator, "h", "ATG") if numbered else (mutator, "ATG")
        if not numbered:
            arguments.malformed = True  # there the mutator is a text in the wrong place
        return (("h", "M"), second), None
    arguments.malformed = True
    shapes = [
        lambda: [("h", "M"), ("h", "ATG")],
        lambda: (("h", "M"),),
        lambda: (("h", "M"), (0, "h", "ATG", "x")),
        lambda: (("h", "M"), (0, "h", "ATG")) if not numbered else (("h", "M"), ("h", "ATG")),
        lambda: (["h", "M"], (0, "h", "ATG")),
        lambda: ((arguments.anything(1), arguments.anything(1)), (arguments.anything(1),) * (3 if numbered else 2)),
        lambda: arguments.anything(1),
    ]
    return arguments.choice(shapes)(), None


def seqs_dict(arguments: Arguments, numbered: bool, table: dict) -> dict:
    seqs: dict = StrictDict() if arguments.count(7) == 0 else {}
    for _ in range(arguments.count(5)):
        kind = arguments.count(9)
        if kind == 0:
            name = arguments.anything(1)
        elif kind == 1:
            name = LonelyText(arguments.choice(["a", "b", ""]))
        else:
            name = arguments.text(PEPTIDE_LETTERS)
        value, row = record_pair(arguments, numbered, seqs, table)
        try:
            dict.__setitem__(seqs, name, value)
        except TypeError:  # unhashable key
            continue
        if row is not None:
            arguments.clean[id(value)] = (value, row)  # the value kept alive: its id stays unique
    return seqs


# --- the checks -----------------------------------------------------------------

class StdoutCapture:
    """Points file descriptor 1, where reports go, at a file while a call runs; the
    fuzzer's own output (its crash report included) keeps the real stdout."""

    def __init__(self) -> None:
        import tempfile

        self.file = tempfile.TemporaryFile()
        self.saved = os.dup(1)
        self.printed = ""

    def run(self, call):
        sys.stdout.flush()
        os.ftruncate(self.file.fileno(), 0)
        os.lseek(self.file.fileno(), 0, os.SEEK_SET)
        os.dup2(self.file.fileno(), 1)
        try:
            return call()
        finally:
            os.dup2(self.saved, 1)
            size = os.fstat(self.file.fileno()).st_size
            self.printed = os.pread(self.file.fileno(), size, 0).decode("utf-8", "replace")


def check_outcome(call, arguments: Arguments, capture: StdoutCapture | None):
    """Runs call(); returns its result, or None when it raised what it may raise
    (or returned after running one of our mutators, which it must never do)."""
    try:
        result = capture.run(call) if capture else call()
    except BaseException as error:  # noqa: BLE001 - PanicException is a BaseException
        printed = capture.printed if capture else ""
        if is_panic(error):
            assert arguments.may_abort, f"unexpected abort: {error}"
            assert str(error) in ABORT_MESSAGES, str(error)
            return None
        if isinstance(error, HarnessError):
            assert arguments.raises_own, "HarnessError from nowhere"
            return None
        if not isinstance(error, ALLOWED_ARGUMENT_ERRORS):
            raise
        # A mutator that swapped keys hands the conversion an entry of the wrong type.
        assert arguments.malformed or any(mutator.ran for mutator in arguments.mutators), \
            f"well-formed call raised {type(error).__name__}: {error}"
        assert REPORT_MARK not in printed, "a call that raised printed a report first"
        return None
    assert isinstance(result, str), type(result)
    # A dict that grew must abort; a same-size swap of keys that yields no extra entry
    # goes unseen, as it does for Python's own dict iterator.
    assert not any(mutator.ran and mutator.grow for mutator in arguments.mutators), \
        "a dict that grew under conversion went unnoticed"
    return None if arguments.mutators else result


def short(*values: object) -> str:
    """A failure message that stays readable when the inputs are huge."""
    return ", ".join(r if len(r := repr(value)) <= 300 else r[:300] + f"... ({len(r)} chars)" for value in values)


def model_table(table: object) -> dict | None:
    """The codon table as the module sees it, when every entry is plain enough to model."""
    if not isinstance(table, dict):
        return None
    plain: dict = {}
    for letter, codons in dict.items(table):
        if not (isinstance(letter, str) and len(letter) == 1 and isinstance(codons, (list, tuple))
                and all(isinstance(codon, str) and codon.isascii() for codon in codons)):
            return None
        plain[str(letter)] = [str(codon) for codon in codons]  # equal letters: the last one wins
    return plain


def record_texts(value) -> tuple[str, str, str, str]:
    """aa_header, aa_seq, nt_header, nt_seq of a seqs value that converted."""
    peptide_pair, nucleotide_part = tuple.__getitem__(value, 0), tuple.__getitem__(value, 1)
    return peptide_pair[0], peptide_pair[1], nucleotide_part[-2], nucleotide_part[-1]


def check_against_model(row: str, printed: str | None, value, table: dict) -> None:
    """An ASCII record's row, and whether it was reported, as a literal model has them."""
    aa_header, aa_seq, nt_header, nt_seq = record_texts(value)
    if not (aa_seq.isascii() and nt_seq.isascii()):
        return
    expected_row, problem = model_row(aa_seq, nt_seq, table)
    assert row == expected_row, short(aa_seq, nt_seq, row, expected_row)
    if printed is not None and REPORT_MARK not in aa_header + nt_header:
        assert (printed != "") == (problem or aa_header != nt_header), short(printed)


def check_records(result: str, seqs: dict, solo, arguments: Arguments, capture: StdoutCapture | None,
                  stem: object, table: dict | None = None) -> None:
    """The result of a dict is the concatenation of each record's result alone;
    clean records come back exactly and print nothing; at most one report per record;
    with a table plain enough, ASCII records come back as a literal model has them."""
    printed = capture.printed if capture else ""
    if capture and not any(REPORT_MARK in str(value) for value in (seqs, stem)):
        assert printed.count(REPORT_MARK) <= dict.__len__(seqs), short(printed)
    merged: dict = {}
    for name, value in dict.items(seqs):  # keys of equal text: the last value, at the first one's place
        merged[str(name)] = value
    pieces = []
    for name, value in merged.items():
        alone = capture.run(lambda: solo({name: value})) if capture else solo({name: value})
        assert isinstance(alone, str)
        assert alone.startswith(name + "\n") and alone.endswith("\n"), short(name, alone)
        row = alone[len(name) + 1:-1]
        assert len(row.encode()) % 3 == 0, short(row)  # every piece is "---" or one 3-byte triplet
        if id(value) in arguments.clean:
            expected = arguments.clean[id(value)][1]
            assert row == expected, short(name, row, expected)
            assert not capture or capture.printed == "", short(capture.printed)
        if table is not None:
            check_against_model(row, capture.printed if capture and REPORT_MARK not in str(stem) else None,
                                value, table)
        pieces.append(alone)
    assert result == "".join(pieces)


# --- calling -------------------------------------------------------------------

def call_shape(arguments: Arguments, function, names: tuple[str, ...], values: tuple):
    """A call of `function` with `values` by position, by keyword or both; now and then
    with one argument too many, too few or misnamed (a matching error)."""
    kind = arguments.count(9)
    if kind <= 4:
        return lambda: function(*values)
    if kind <= 6:
        split = arguments.count(len(values))
        keywords = dict(zip(names[split:], values[split:]))
        return lambda: function(*values[:split], **keywords)
    arguments.malformed = True
    if kind == 7:
        return lambda: function(*values, None)
    if kind == 8:
        return lambda: function(*values[:-1])
    return lambda: function(*values[:-1], **{names[-1] + "_": values[-1]})
