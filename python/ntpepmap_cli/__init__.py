"""Command-line companion of the ntpepmap module: codon alignments from files."""

from __future__ import annotations


def __getattr__(name: str) -> str:
    # The version is looked up only when asked for: importlib.metadata costs
    # more start-up time than a whole small locus takes to run.
    if name != "__version__":
        raise AttributeError(f"module {__name__!r} has no attribute {name!r}")
    from importlib import metadata

    try:
        version = metadata.version("ntpepmap")
    except metadata.PackageNotFoundError:  # running from a source tree
        version = "0+unknown"
    globals()["__version__"] = version
    return version
