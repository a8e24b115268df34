"""The Galaxy wrapper and the CWL tool speak the tool's own language: every flag they pass is one
the command takes, every choice they offer is one of its choices, all of them, and their exit
statuses mean what the command's mean. The wrappers run for real in scripts/galaxy_test.sh and
scripts/cwl_test.sh."""

from __future__ import annotations

import re
import subprocess
import sys
import xml.etree.ElementTree as ET
from pathlib import Path

import pytest

from ntpepmap_cli.command.main import single_parser
from ntpepmap_cli.option_table import OPTIONS, choices_of
from ntpepmap_cli.result.outcome import Status

ROOT = Path(__file__).resolve().parent.parent
GALAXY = ROOT / "galaxy"
CWL_TOOL = ROOT / "cwl" / "ntpepmap.cwl"

FLAG = re.compile(r"(?<![\w$-])--?[a-z][a-z-]*")


def tool_choices(flag: str) -> tuple[str, ...]:
    option = next(option for option in OPTIONS if flag in option.flags)
    return tuple(str(value) for value in choices_of(option.name))


def galaxy_uses() -> list[tuple[str, tuple[str, ...] | None]]:
    """Each flag the wrapper passes, with the values of its select (None: not a select)."""
    tool = ET.parse(GALAXY / "ntpepmap.xml").getroot()
    uses: list[tuple[str, tuple[str, ...] | None]] = [
        (flag, None) for flag in FLAG.findall(tool.findtext("command") or "")]
    params = [*tool.iter("param"), *ET.parse(GALAXY / "options.xml").getroot().iter("param")]
    for param in params:
        values = tuple(option.get("value", "") for option in param.iter("option"))
        for flag in (param.get("argument"), param.get("truevalue")):
            if flag:
                uses.append((flag, values if param.get("type") == "select" else None))
    return uses


def cwl_uses() -> list[tuple[str, tuple[str, ...] | None]]:
    yaml = pytest.importorskip("yaml")
    tool = yaml.safe_load(CWL_TOOL.read_text(encoding="utf-8"))
    uses: list[tuple[str, tuple[str, ...] | None]] = [
        (argument["prefix"], None) for argument in tool["arguments"]]
    for given in tool["inputs"].values():
        prefix = (given.get("inputBinding") or {}).get("prefix")
        if prefix:
            enums = [kind for kind in given["type"] if isinstance(kind, dict)] \
                if isinstance(given["type"], list) else []
            uses.append((prefix, tuple(enums[0]["symbols"]) if enums else None))
    return uses


@pytest.mark.parametrize("uses", [galaxy_uses, cwl_uses], ids=["galaxy", "cwl"])
def test_wrapper_flags_and_choices_are_the_tools(uses):
    flags = set(single_parser()._option_string_actions)
    used = uses()
    assert {flag for flag, _ in used} - flags == set()
    for flag, values in used:
        if values is not None:
            assert values == tool_choices(flag), flag


def test_galaxy_selects_are_made_from_the_option_table():
    made = subprocess.run([sys.executable, str(ROOT / "scripts" / "galaxy_options.py"), "--check"],
                          capture_output=True, text=True)
    assert made.returncode == 0, made.stderr


def test_wrapper_exit_statuses_are_the_tools():
    yaml = pytest.importorskip("yaml")
    tool = yaml.safe_load(CWL_TOOL.read_text(encoding="utf-8"))
    assert tool["successCodes"] == [Status.CLEAN, Status.REPORTED]
    assert tool["permanentFailCodes"] == [Status.FAILED]
    stdio = ET.parse(GALAXY / "macros.xml").getroot().find("xml[@name='stdio']/stdio")
    levels = {code.get("range"): code.get("level") for code in stdio.iter("exit_code")}
    assert levels[str(int(Status.REPORTED))] == "warning"
    assert levels[f"{int(Status.FAILED)}:"] == "fatal"
