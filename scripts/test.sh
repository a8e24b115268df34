#!/usr/bin/env bash
# Installs ntpepmap with its test dependencies into .venv (the build reused while the sources
# are unchanged, as scripts/example.sh left it) and runs the whole test suite.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/venv.sh
ensure_venv test
PATH="$PWD/.venv/bin:$PATH" .venv/bin/python -m pytest "$@"
