"""The options that one locus and a batch share, and what they become."""

from __future__ import annotations

from . import plain_argparse  # noqa: F401  (before argparse: see there)
import argparse
import os
import re
import sys

from ..pairing.header_rules import pattern_rule
from ..locus.run import LocusOptions
from ..option_table import (BATCH, BESIDE, FLAG_CHOICE, GROUPS, IN_FILE, NEGATED, NUMBER,
                           ON_OFF, OPTIONS, OUT_FILE, SWITCH, Option, choices_of, options_of,
                           out_of_range, shared_by_both)

PROG = "ntpepmap"

# One table for both commands' --help; batch words its own status 1 and 2 lines.
EXIT_STATUS_TABLE = """\
exit status:
  0    every record written in full: masked or kept codons, stop codons and
       notes are in the summary and the problem lines, and change nothing here
  1    some record padded or left out (the output lacks data it was given){batch_one}
  2    usage or input error; an output refused; nothing written because every
       record was left out; --strict and any problem{batch_two}
  130  interrupted (143: terminated)
  141  standard output closed by its reader (| head): stopped at once

The options of every locus, which both commands take (genetic code, formats,
pairing, letters, reports): ntpepmap help options

A record is padded when its protein row is shorter than the alignment's longest
(a ragged alignment): the row is given trailing gaps up to that width.
"""


class HelpFormatter(argparse.RawDescriptionHelpFormatter):
    """argparse's formatter for descriptions as written, without its import of shutil
    (and with it of bz2, lzma and fnmatch), which every parser pays for at start-up,
    help or not: the width of the terminal is found as shutil finds it."""

    def __init__(self, prog: str, indent_increment: int = 2, max_help_position: int = 24,
                 width: int | None = None) -> None:
        if width is None:
            width = _terminal_columns() - 2
        super().__init__(prog, indent_increment, max_help_position, width)


def _terminal_columns() -> int:
    """$COLUMNS, else the width of the terminal on standard output, else 80."""
    try:
        columns = int(os.environ.get("COLUMNS", "0"))
    except ValueError:
        columns = 0
    if columns <= 0:
        try:
            columns = os.get_terminal_size(sys.__stdout__.fileno()).columns  # type: ignore[union-attr]
        except (AttributeError, ValueError, OSError):
            columns = 0
    return columns if columns > 0 else 80


def add_locus_options(parser: argparse.ArgumentParser, command: str) -> None:
    """The command's options of a locus run, as the option table gives them; those both
    commands share are taken but left to 'ntpepmap help options' to tell."""
    _add_options(parser, command, [(option, not shared_by_both(option)) for option in options_of(command)])


def shared_options_parser() -> argparse.ArgumentParser:
    """'ntpepmap help options': the options both commands take alike, told once."""
    parser = argparse.ArgumentParser(
        prog=PROG, usage=f"{PROG} [batch] ... [options]", add_help=False, formatter_class=HelpFormatter,
        description="The options of every locus, which 'ntpepmap' and 'ntpepmap batch' both take.")
    _add_options(parser, SHARED, [(option, True) for option in OPTIONS if shared_by_both(option)])
    return parser


SHARED = "shared"  # the page of the options both commands take


def _add_options(parser: argparse.ArgumentParser, command: str, options: list[tuple[Option, bool]]) -> None:
    """options: each with whether this page tells it (the others are taken, untold)."""
    sections: dict[str, argparse._ArgumentGroup | argparse.ArgumentParser] = {
        title: parser.add_argument_group(title, words) for title, words in GROUPS
        if any(option.group == title and shown for option, shown in options)}
    exclusive: dict[str, argparse._MutuallyExclusiveGroup] = {}
    for option, shown in options:
        section = sections.get(option.group, parser) if shown else parser
        if option.exclusive is not None and option.exclusive not in exclusive:
            exclusive[option.exclusive] = section.add_mutually_exclusive_group()
        _add_option(exclusive.get(option.exclusive or "", section), option, command, shown)


def _add_option(where: argparse._ActionsContainer, option: Option, command: str, shown: bool = True) -> None:
    if option.kind == FLAG_CHOICE:  # one flag per choice, of which one may be given
        group = where.add_mutually_exclusive_group()
        for flag, value, words in zip(option.flags, choices_of(option.name), option.help):
            group.add_argument(flag, dest=option.name, action="store_const", const=value,
                               default=option.default, help=words if shown else argparse.SUPPRESS)
        return
    help = str(option.help) if shown else argparse.SUPPRESS
    if option.kind in (SWITCH, NEGATED, ON_OFF):
        action: str | type[argparse.Action] = {
            SWITCH: "store_true", NEGATED: "store_false"}.get(option.kind,
                                                             argparse.BooleanOptionalAction)
        where.add_argument(*option.flags, dest=option.name, action=action,
                           default=option.default, help=help)
        return
    if option.per_locus is not None and command == BATCH:
        _add_batch_folder(where, option)
        return
    if option.kind == OUT_FILE and shown:
        help = help.format(file=option.metavar)
    choices = choices_of(option.name) or None
    if option.kind == NUMBER:
        where.add_argument(*option.flags, dest=option.name, default=option.default,
                           type=_number_in_range(option), choices=choices, metavar=option.metavar, help=help)
        return
    where.add_argument(*option.flags, dest=option.name, default=option.default, choices=choices,
                       metavar=option.metavar, help=help)


def _number_in_range(option: Option) -> object:
    """The parser's reading of a NUMBER option: an int in the option's range, refused by
    argparse in one line otherwise (the engine reads it into a machine word)."""
    def number(text: str) -> int:
        value = int(text)
        wrong = out_of_range(option, value)
        if wrong is not None:
            raise argparse.ArgumentTypeError(wrong)
        return value

    number.__name__ = "int"  # argparse's words for a value that is no number: "invalid int value"
    return number


def _add_batch_folder(where: argparse._ActionsContainer, option: Option) -> None:
    """A per-locus file in a batch: a folder of one file per locus, or for an output, given
    alone, a file beside each output."""
    if option.kind == IN_FILE:
        where.add_argument(*option.flags, dest=option.name, metavar="DIR", help=str(option.help))
        return
    where.add_argument(*option.flags, dest=option.name, metavar="DIR", nargs="?", const=BESIDE,
                       help=str(option.help).format(file=f"DIR/STEM{option.per_locus} (given "
                                                         f"alone: OUT{option.per_locus})"))


def _loaded(name: str, path: str) -> object:
    """What a file named on the command line becomes in LocusOptions; each reader is
    imported only when its option is given."""
    if name == "gene_table":
        from ..reading.gene_table import load_gene_table

        return load_gene_table(path)
    from ..pairing.id_map import load_id_map

    return load_id_map(path)


_LOADED_FILES = ("gene_table", "id_map")


def locus_options(args: argparse.Namespace, parser: argparse.ArgumentParser) -> LocusOptions:
    """The options of every locus of the run, from the command's arguments; an option the
    command lacks keeps its default, but a batch runs each locus on one thread: its
    workers (-j) already share the CPUs."""
    present = [option for option in OPTIONS if hasattr(args, option.name)]
    if args.keep_short and args.out_format not in (None, "fasta"):
        parser.error("--keep-short needs --out-format fasta: other formats need equal rows")
    if args.id_pattern is not None:
        try:
            pattern_rule(args.id_pattern)
        except (ValueError, re.error) as exc:
            parser.error(f"--id-pattern: {exc}")
    given: dict[str, object] = {"threads": 1}
    for option in present:
        if option.field is not None:
            given[option.field] = _field_value(option, getattr(args, option.name))
    return LocusOptions(**given)


def _field_value(option: Option, value: object) -> object:
    """What LocusOptions holds of an option: whether an output file is written, a file
    read for its content."""
    if option.kind == OUT_FILE:
        return value is not None
    if value is not None and option.name in _LOADED_FILES:
        return _loaded(option.name, str(value))
    return value
