"""Command-line companion of the ntpepmap module: codon alignments from files."""

from __future__ import annotations

from importlib import metadata

try:
    __version__ = metadata.version("ntpepmap")
except metadata.PackageNotFoundError:  # running from a source tree
    __version__ = "0+unknown"
