#!/usr/bin/env bash
# LeakSanitizer over a short driver that makes every kind of call to the module many
# times (scripts/leak_driver.py), on the ASan build of scripts/sanitize.sh. The
# interpreter leaves memory behind at exit as a matter of course; a leak counts
# only when the stack that allocated it passes through the extension.
#
#   bash scripts/leakcheck.sh [ROUNDS]
set -euo pipefail
cd "$(dirname "$0")/.."

export NTPEPMAP_SANITIZE=address,undefined
work="build/sanitize"
venv="$work/venv"
logs="$PWD/build/leakcheck"
rounds="${1:-200}"

source scripts/sanitizer_env.sh
install_sanitized_build "$venv" "$work/cmake"
rm -rf "$logs" && mkdir -p "$logs"

# Full unwinding: the interpreter's own frames have no frame pointers. LeakSanitizer
# exits with 23 on any leak, the interpreter's included: leak_report.py sorts them out.
status=0
ASAN_OPTIONS="detect_leaks=1:exitcode=23:fast_unwind_on_malloc=0:malloc_context_size=40:log_path=$logs/lsan" \
UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1:abort_on_error=1" \
PYTHONMALLOC=malloc LD_PRELOAD="$SANITIZER_PRELOAD" \
    "$venv/bin/python" scripts/leak_driver.py "$rounds" || status=$?
if [ "$status" != 0 ] && [ "$status" != 23 ]; then
    echo "the leak driver failed ($status)" >&2
    cat "$logs"/* >&2 2>/dev/null || true
    exit 1
fi

"$venv/bin/python" scripts/leak_report.py "$logs" "$rounds"
