#!/usr/bin/env bash
# Installs ntpepmap with its test dependencies into .venv and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
python3 -m venv .venv
.venv/bin/python -m pip install --quiet --upgrade pip
.venv/bin/python -m pip install --quiet ".[test]"
PATH="$PWD/.venv/bin:$PATH" .venv/bin/python -m pytest "$@"
