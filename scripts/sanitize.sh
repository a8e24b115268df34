#!/usr/bin/env bash
# Builds ntpepmap with AddressSanitizer and UndefinedBehaviorSanitizer (through
# scikit-build-core, NTPEPMAP_SANITIZE -> the CMake option of the same name) into a
# venv of its own, and runs the whole test suite against that build with the
# sanitizer runtimes preloaded into the interpreter. Any sanitizer report fails.
#
#   bash scripts/sanitize.sh [pytest arguments...]
#
# NTPEPMAP_SANITIZE may name another list (default: address,undefined).
set -euo pipefail
cd "$(dirname "$0")/.."

export NTPEPMAP_SANITIZE="${NTPEPMAP_SANITIZE:-address,undefined}"
work="build/sanitize"
venv="$work/venv"
logs="$PWD/$work/logs"

source scripts/sanitizer_env.sh
install_sanitized_build "$venv" "$work/cmake"
rm -rf "$logs" && mkdir -p "$logs"

# Leaks are LeakSanitizer's job in scripts/leakcheck.sh: the interpreter itself
# does not free everything at exit, so the suite runs with leak detection off.
export ASAN_OPTIONS="detect_leaks=0:abort_on_error=1:halt_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1:log_path=$logs/asan"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:abort_on_error=1:log_path=$logs/ubsan"
# Every object through malloc, so that ASan guards Python objects too.
export PYTHONMALLOC=malloc

# The workflow's test only adds Snakemake and its job processes around the batch that
# the rest of the suite runs here already.
status=0
PATH="$PWD/$venv/bin:$PATH" LD_PRELOAD="$SANITIZER_PRELOAD" \
    "$venv/bin/python" -m pytest -p no:cacheprovider --ignore=tests/test_workflow.py "$@" || status=$?

if compgen -G "$logs/*" > /dev/null; then
    echo "sanitizer reports:" >&2
    cat "$logs"/* >&2
    exit 1
fi
exit "$status"
