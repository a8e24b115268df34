#!/usr/bin/env bash
# Installs ntpepmap into .venv and builds the codon alignment of the bundled example locus.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 -m venv .venv
.venv/bin/python -m pip install --quiet --upgrade pip
.venv/bin/python -m pip install --quiet .
.venv/bin/ntpepmap examples/single/protein_aln.fasta examples/single/cds.fasta "$@"
