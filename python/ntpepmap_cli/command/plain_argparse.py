"""argparse imported without gettext, whose import and catalog lookups cost a small run
about a tenth of its instructions.

argparse passes its own words (usage:, error:, options) through gettext's default domain,
for which Python installs no catalog: they come out as written either way. Imported first
by each module of the command that uses argparse; if gettext is loaded already (a caller
that imported it), argparse takes the real one.
"""

import sys


def _as_written(message: str) -> str:
    return message


def _as_written_for(singular: str, plural: str, count: int) -> str:
    return singular if count == 1 else plural


if "argparse" not in sys.modules and "gettext" not in sys.modules:
    _untranslated = type(sys)("gettext")
    _untranslated.gettext = _as_written  # type: ignore[attr-defined]
    _untranslated.ngettext = _as_written_for  # type: ignore[attr-defined]
    sys.modules["gettext"] = _untranslated
    try:
        import argparse  # noqa: F401  (argparse binds the two functions above for good)
    finally:
        del sys.modules["gettext"]  # whoever imports gettext later gets the real one
