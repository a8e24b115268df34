"""Telling a user that a protein alignment looks trimmed.

A trimmed alignment (ClipKIT, trimAl, Gblocks) has lost residues in its
columns that were cut, so most of its records no longer fit their CDS and
are left out. Such a record's residues are still found, in order, as a few
stretches of its CDS's translation: the engine looks (looks_trimmed). The
trim itself cannot be recovered without the untrimmed alignment: the hint
names --kept-columns, nothing more.
"""

TRIMMED_HINT = ("the alignment looks trimmed: give the untrimmed alignment and the trimmer's "
                "kept columns with --kept-columns")
