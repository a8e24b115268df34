"""ntpepmap's section of a MultiQC report: MultiQC finds the batch's status tables (by their
header line) in a run's folder, and this module adds each locus to the General Statistics
and a bar graph of its records by fate.

Loaded by MultiQC alone, through the package's entry points: nothing of ntpepmap imports it."""

from __future__ import annotations

from ..outputs.status_table import COLUMNS, NOT_WRITTEN

try:  # MultiQC 1.22 and later; before, the base class lived among the modules
    from multiqc.base_module import BaseMultiqcModule, ModuleNoSamplesFound
except ImportError:  # pragma: no cover - older MultiQC
    from multiqc.modules.base_module import BaseMultiqcModule, ModuleNoSamplesFound
from multiqc import config
from multiqc.plots import bargraph

NAME = "ntpepmap"
# A status table is known by its header line, whatever its file is called.
SEARCH_PATTERN = {"fn": "*.tsv", "contents": "\t".join(COLUMNS[:5]), "num_lines": 1}
_COUNTED = ("written", "left_out", "masked", "kept", "frameshifts", "padded")
_STOPS = ("stops_kept", "stops_masked", "stops_dropped")


def add_search_pattern() -> None:
    """MultiQC's config_loaded hook: where ntpepmap's tables are looked for."""
    config.update_dict(config.sp, {NAME: SEARCH_PATTERN})


def read_status_table(text: str) -> dict[str, dict[str, object]]:
    """Each locus's counts by its name; a locus not written counts as failed."""
    lines = text.splitlines()
    if not lines or lines[0].split("\t") != list(COLUMNS):
        return {}
    loci: dict[str, dict[str, object]] = {}
    for line in lines[1:]:
        fields = dict(zip(COLUMNS, line.split("\t")))
        if len(fields) != len(COLUMNS):
            continue
        counts: dict[str, object] = {name: int(fields[name]) for name in _COUNTED}
        counts["stops"] = sum(int(fields[name]) for name in _STOPS)
        counts["failed"] = int(fields["fate"] in NOT_WRITTEN)
        counts["fate"] = fields["fate"]
        loci[fields["locus"]] = counts
    return loci


def _cleaned_or_own(names: dict[str, str]) -> dict[str, str]:
    """Each locus's name as MultiQC cleans it (out/l1.fasta: l1), or its own where two
    loci's would be the same."""
    seen: dict[str, int] = {}
    for cleaned in names.values():
        seen[cleaned] = seen.get(cleaned, 0) + 1
    return {locus: cleaned if seen[cleaned] == 1 else locus for locus, cleaned in names.items()}


_HEADERS = {
    "written": {"title": "Records written", "description": "records written to the codon "
                "alignment", "format": "{:,.0f}", "scale": "Greens"},
    "left_out": {"title": "Left out", "description": "records left out", "format": "{:,.0f}",
                 "scale": "Reds"},
    "masked": {"title": "Masked", "description": "codons masked as NNN: their triplet does "
               "not encode their residue", "format": "{:,.0f}", "scale": "Oranges"},
    "frameshifts": {"title": "Frameshifts", "description": "frameshifts in the records written",
                    "format": "{:,.0f}", "scale": "Purples"},
    "stops": {"title": "Stop codons", "description": "stop codons under '*' kept, masked or "
              "in columns left out", "format": "{:,.0f}", "scale": "Greys"},
}


class MultiqcModule(BaseMultiqcModule):
    def __init__(self) -> None:
        super().__init__(name="ntpepmap", anchor=NAME,
                         info="threads each taxon's CDS onto its protein alignment (codon "
                              "alignment); a locus per sample.")
        loci: dict[str, dict[str, object]] = {}
        for found in self.find_log_files(NAME):
            table = read_status_table(found["f"])
            for locus, name in self._names(table, found).items():
                loci[name] = table[locus]
                self.add_data_source(found, name)
        loci = self.ignore_samples(loci)
        if not loci:
            raise ModuleNoSamplesFound
        self.general_stats_addcols({name: {key: counts[key] for key in _HEADERS}
                                    for name, counts in loci.items()}, _HEADERS)
        self.write_data_file(loci, "multiqc_ntpepmap")
        self.add_section(
            name="Records by fate", anchor="ntpepmap-fates",
            description="Each locus's records: written to the codon alignment, or left out "
                        "(wrong pairing, a CDS too short or without a coding region, a "
                        "mismatch under --mismatch drop). A failed locus writes none.",
            plot=bargraph.plot(
                {name: {"written": counts["written"], "left_out": counts["left_out"]}
                 for name, counts in loci.items()},
                {"written": {"name": "written", "color": "#4daf4a"},
                 "left_out": {"name": "left out", "color": "#e41a1c"}},
                {"id": "ntpepmap_fates", "title": "ntpepmap: records by fate",
                 "ylab": "records", "cpswitch_counts_label": "records"}))

    def _names(self, table: dict[str, object], found: dict[str, object]) -> dict[str, str]:
        return _cleaned_or_own({locus: self.clean_s_name(locus, found) for locus in table})
