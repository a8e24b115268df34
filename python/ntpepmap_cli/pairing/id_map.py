"""The --id-map file: which CDS identifier belongs to a protein identifier.

Two whitespace-separated columns per line, protein identifier then CDS
identifier; blank lines and lines starting with '#' are skipped. One map can
serve a whole batch, so entries for identifiers a locus lacks are no error.
"""

from __future__ import annotations

from ..errors import InputError
from ..reading.input_files import read_text


def load_id_map(path: str) -> dict[str, str]:
    """Protein identifier -> CDS identifier; a protein identifier listed twice is an error."""
    cds_of: dict[str, str] = {}
    line_of: dict[str, int] = {}
    for number, line in enumerate(read_text(path).splitlines(), start=1):
        fields = line.split()
        if not fields or fields[0].startswith("#"):
            continue
        if len(fields) != 2:
            raise InputError(path, f"line {number}: expected a protein identifier and a CDS "
                                   f"identifier, found {len(fields)} field(s)")
        protein, cds = fields
        if protein in cds_of:
            raise InputError(path, f"line {number}: protein identifier {protein} is already "
                                   f"mapped on line {line_of[protein]}")
        cds_of[protein] = cds
        line_of[protein] = number
    return cds_of
