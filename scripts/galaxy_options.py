"""Writes galaxy/options.xml: the Galaxy wrapper's select parameters, made from the tool's own
option table and genetic codes, so that the wrapper offers what the installed tool takes.

    python scripts/galaxy_options.py           # rewrite galaxy/options.xml
    python scripts/galaxy_options.py --check   # exit 1 if it differs from what the tool says

tests/test_wrappers.py runs the check; run this after changing a choice, a default or a help.
"""

from __future__ import annotations

import sys
from pathlib import Path
from xml.sax.saxutils import escape, quoteattr

from ntpepmap_cli.codes import GENETIC_CODES
from ntpepmap_cli.option_table import BY_NAME, choices_of

OPTIONS_XML = Path(__file__).resolve().parent.parent / "galaxy" / "options.xml"

# The selects the wrapper takes from the table, each with its label in Galaxy's form.
SELECTS = (
    ("table", "Genetic code"),
    ("mismatch", "A triplet that does not encode its residue"),
    ("stops", "Stop codons under '*'"),
    ("frameshifts", "A CDS that fits only with a frameshift"),
    ("out_format", "Format of the codon alignment"),
)


def option_help(name: str) -> str:
    words = BY_NAME[name].help
    text = " / ".join(words) if isinstance(words, tuple) else words
    # A Galaxy dataset's name says nothing of its format: the choice alone does.
    return text.split(". Default: the output's name asks")[0].replace("%%", "%")


def option_lines(name: str) -> list[str]:
    default = BY_NAME[name].default
    if default is None:  # the format from the output's name: a dataset's is the first choice's
        default = choices_of(name)[0]
    if name == "table":
        labelled = [(code.number, f"{code.number}. {code.name}") for code in GENETIC_CODES]
    else:
        labelled = [(value, value) for value in choices_of(name)]
    selected = ' selected="true"'
    return [f'            <option value="{value}"{selected if value == default else ""}>'
            f"{escape(label)}</option>" for value, label in labelled]


def select_macro(name: str, label: str) -> list[str]:
    return [f'    <xml name="{name}_param">',
            f'        <param argument="{BY_NAME[name].flags[-1]}" type="select" '
            f"label={quoteattr(label)}",
            f"               help={quoteattr(option_help(name))}>",
            *option_lines(name),
            "        </param>",
            "    </xml>"]


def options_xml() -> str:
    lines = ["<?xml version='1.0' encoding='utf-8'?>",
             "<!-- Made by scripts/galaxy_options.py from the tool's option table: "
             "do not edit by hand. -->",
             "<macros>"]
    for name, label in SELECTS:
        lines += select_macro(name, label)
    lines.append("</macros>")
    return "\n".join(lines) + "\n"


def main(argv: list[str]) -> int:
    wanted = options_xml()
    if argv[1:] == ["--check"]:
        if OPTIONS_XML.read_text(encoding="utf-8") == wanted:
            return 0
        print(f"{OPTIONS_XML}: out of date; run python scripts/galaxy_options.py",
              file=sys.stderr)
        return 1
    OPTIONS_XML.write_text(wanted, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
