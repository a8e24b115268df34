"""Command-line companion of the ntpepmap module: codon alignments from files.

codon_align gives Python callers what the ntpepmap command does, over files,
dicts and Biopython records.
"""

from __future__ import annotations

from .errors import InputError
from .result.problems import Problem

__all__ = ["CodonAlignment", "InputError", "Problem", "codon_align"]

# Not typing.TYPE_CHECKING: importing typing would slow the command's start-up,
# which never needs the API. Type checkers take any constant of this name as true.
TYPE_CHECKING = False
if TYPE_CHECKING:
    from .api import CodonAlignment, codon_align

_API_NAMES = ("CodonAlignment", "codon_align")
__version__: str  # looked up when first asked for (a constant of the wheel)


def __getattr__(name: str) -> object:
    # The API is imported only when asked for: the command never needs it.
    if name in _API_NAMES:
        from . import api

        return getattr(api, name)
    if name != "__version__":
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    try:  # written into the wheel when it is built
        from ._version import __version__ as version
    except ImportError:  # a source tree: the installed metadata, if any
        version = _version_from_metadata()
    globals()["__version__"] = version
    return version


def _version_from_metadata() -> str:
    from importlib import metadata

    try:
        return metadata.version("ntpepmap")
    except metadata.PackageNotFoundError:
        return "0+unknown"
