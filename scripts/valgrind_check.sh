#!/usr/bin/env bash
# Memcheck over the short driver of scripts/leak_driver.py, on the plain (uninstrumented)
# build: finds reads of uninitialised memory, which AddressSanitizer does not, and leaks
# a second time. The interpreter has findings of its own; only those whose stack
# passes through the extension count.
#
#   bash scripts/valgrind_check.sh [PYTHON] [ROUNDS]     (default: .venv/bin/python, 5)
set -euo pipefail
cd "$(dirname "$0")/.."

python="${1:-.venv/bin/python}"
rounds="${2:-5}"
# The real interpreter, not a launcher script: memcheck does not follow exec.
interpreter="$("$python" -c 'import sys; print(sys.executable)')"
logs="build/valgrind"
rm -rf "$logs" && mkdir -p "$logs"

PYTHONMALLOC=malloc valgrind --tool=memcheck --leak-check=full --show-leak-kinds=definite \
    --num-callers=40 --log-file="$logs/memcheck.%p.log" \
    "$interpreter" scripts/leak_driver.py "$rounds"
"$interpreter" scripts/valgrind_report.py "$logs"
