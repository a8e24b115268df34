"""The 27 built-in genetic codes: NCBI numbers, names and terminal stop codons.

The module owns the codon tables themselves; the tool only needs the names
(for ``ntpepmap tables``) and the codons that may end a coding sequence (for
``--trim-stop``). Tables 27, 28 and 31 give their stop codons an amino acid
inside a gene, so the module has no stop there; at the very end of a CDS
those codons still terminate translation (NCBI), so they are listed here.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence


class GeneticCode:
    """A code's NCBI number and name, and the codons that may end a CDS."""

    __slots__ = ("number", "name", "terminal_stops")

    def __init__(self, number: int, name: str, terminal_stops: tuple[str, ...]) -> None:
        self.number = number
        self.name = name
        self.terminal_stops = terminal_stops


_STD = ("TAA", "TAG", "TGA")
_NO_TGA = ("TAA", "TAG")

GENETIC_CODES: tuple[GeneticCode, ...] = (
    GeneticCode(1, "Standard", _STD),
    GeneticCode(2, "Vertebrate Mitochondrial", ("TAA", "TAG", "AGA", "AGG")),
    GeneticCode(3, "Yeast Mitochondrial", _NO_TGA),
    GeneticCode(4, "Mold/Protozoan/Coelenterate Mitochondrial and Mycoplasma/Spiroplasma",
                _NO_TGA),
    GeneticCode(5, "Invertebrate Mitochondrial", _NO_TGA),
    GeneticCode(6, "Ciliate/Dasycladacean/Hexamita Nuclear", ("TGA",)),
    GeneticCode(9, "Echinoderm and Flatworm Mitochondrial", _NO_TGA),
    GeneticCode(10, "Euplotid Nuclear", _NO_TGA),
    GeneticCode(11, "Bacterial/Archaeal/Plant Plastid", _STD),
    GeneticCode(12, "Alternative Yeast Nuclear", _STD),
    GeneticCode(13, "Ascidian Mitochondrial", _NO_TGA),
    GeneticCode(14, "Alternative Flatworm Mitochondrial", ("TAG",)),
    GeneticCode(15, "Blepharisma Macronuclear", ("TAA", "TGA")),
    GeneticCode(16, "Chlorophycean Mitochondrial", ("TAA", "TGA")),
    GeneticCode(21, "Trematode Mitochondrial", _NO_TGA),
    GeneticCode(22, "Scenedesmus obliquus Mitochondrial", ("TCA", "TAA", "TGA")),
    GeneticCode(23, "Thraustochytrium Mitochondrial", ("TTA", "TAA", "TAG", "TGA")),
    GeneticCode(24, "Rhabdopleuridae Mitochondrial", _NO_TGA),
    GeneticCode(25, "Candidate Division SR1 and Gracilibacteria", _NO_TGA),
    GeneticCode(26, "Pachysolen tannophilus Nuclear", _STD),
    GeneticCode(27, "Karyorelict Nuclear", ("TGA",)),
    GeneticCode(28, "Condylostoma Nuclear", _STD),
    GeneticCode(29, "Mesodinium Nuclear", ("TGA",)),
    GeneticCode(30, "Peritrich Nuclear", ("TGA",)),
    GeneticCode(31, "Blastocrithidia Nuclear", _NO_TGA),
    GeneticCode(32, "Balanophoraceae Plastid", ("TAA", "TGA")),
    GeneticCode(33, "Cephalodiscidae Mitochondrial", ("TAG",)),
)

CODES_BY_NUMBER: Mapping[int, GeneticCode] = {code.number: code for code in GENETIC_CODES}


def terminal_stops(table_num: int,
                   gene_table: Mapping[str, Sequence[str]] | None) -> frozenset[str]:
    """Upper-case codons that --trim-stop may drop from the end of a CDS (a gene table's
    codons are upper-case DNA once checked)."""
    if gene_table is not None:
        return frozenset(gene_table.get("*", ()))
    return frozenset(CODES_BY_NUMBER[table_num].terminal_stops)


def format_table_list() -> str:
    return "".join(f"{code.number:>3}  {code.name}\n" for code in GENETIC_CODES)
