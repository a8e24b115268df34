#!/usr/bin/env bash
# Installs ntpepmap into .venv (built again only when the sources changed) and builds the codon
# alignment of the bundled example locus.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh
ensure_venv
echo "# Letters as written: lower-case rows are soft-masked CDS, and R (A or G) is an ambiguous base that still encodes its residue." >&2
.venv/bin/ntpepmap examples/single/protein_aln.fasta examples/single/cds.fasta --wrap 60 "$@"
echo "# Installed: run 'source .venv/bin/activate' to call ntpepmap by name (or call .venv/bin/ntpepmap)." >&2
