#!/usr/bin/env bash
# Builds ntpepmap instrumented for coverage-guided fuzzing (clang, -fsanitize=fuzzer-no-link
# with ASan and UBSan) into a venv with atheris, then runs every harness.
#
#   bash fuzz/run.sh [SECONDS_PER_HARNESS] [harness...]     (default: 60 s, all four)
#
# New inputs go to build/fuzz/corpus/<harness> (the seeds in fuzz/corpus/<harness> are
# read, never written); crashes to build/fuzz/crashes/. A crash fails the run.
# FUZZ_UNINSTRUMENTED=1 skips clang: the extension is then built by g++ as usual and
# only the Python side feeds coverage back.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-60}"
shift || true
harnesses=("$@")
[ ${#harnesses[@]} -gt 0 ] || harnesses=(iupac pepthread original_args reader)

work="build/fuzz"
venv="$work/venv"
[ -x "$venv/bin/python" ] || python3 -m venv "$venv"
quiet_pip() { "$venv/bin/python" -m pip install --quiet "$@" 2>&1 | { grep -v '^WARNING: Location' || true; }; }
quiet_pip --upgrade pip
quiet_pip atheris pytest hypothesis

# The undefined-behaviour checks that atheris' ASan runtime serves (no vptr: it needs
# the C++ part of the UBSan runtime, which that runtime does not carry).
undefined="alignment,bool,bounds,builtin,enum,float-cast-overflow,integer-divide-by-zero,nonnull-attribute"
undefined+=",null,object-size,pointer-overflow,return,returns-nonnull-attribute,shift,signed-integer-overflow"
undefined+=",unreachable,vla-bound"

if [ "${FUZZ_UNINSTRUMENTED:-0}" != 1 ] && ! command -v clang++-16 > /dev/null; then
    echo "installing clang-16 with apt-get (atheris' native coverage needs it; FUZZ_UNINSTRUMENTED=1 skips it)" >&2
    { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq clang-16; } > /dev/null 2>&1 \
        || { echo "clang-16 could not be installed: fuzzing without native coverage" >&2; FUZZ_UNINSTRUMENTED=1; }
fi

if [ "${FUZZ_UNINSTRUMENTED:-0}" = 1 ]; then
    quiet_pip . --config-settings=build-dir="$work/cmake-plain"
    preload=""
else
    CC=clang-16 CXX=clang++-16 NTPEPMAP_SANITIZE="address,fuzzer-no-link,$undefined" \
        quiet_pip . --config-settings=build-dir="$work/cmake" --config-settings=cmake.build-type=RelWithDebInfo
    extension="$("$venv/bin/python" -c 'import importlib.util as u; print(u.find_spec("ntpepmap").origin)')"
    # The symbols read whole first: grep -q's early exit would fail nm with SIGPIPE under pipefail.
    symbols="$(nm -D "$extension")"
    grep -q __sanitizer_cov_8bit_counters_init <<< "$symbols" \
        || { echo "$extension carries no coverage instrumentation" >&2; exit 1; }
    preload="$("$venv/bin/python" -c 'import atheris; print(atheris.path())')/asan_with_fuzzer.so"
fi

# Interpreter leaks at exit are no finding here; scripts/leakcheck.sh looks for ours.
export ASAN_OPTIONS="detect_leaks=0:allocator_may_return_null=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"

status=0
for harness in "${harnesses[@]}"; do
    corpus="$work/corpus/$harness"
    crashes="$work/crashes"
    mkdir -p "$corpus" "$crashes"
    seeds=()
    [ -d "fuzz/corpus/$harness" ] && seeds=("fuzz/corpus/$harness")
    echo "== fuzz_$harness: $seconds s"
    LD_PRELOAD="$preload" "$venv/bin/python" "fuzz/fuzz_$harness.py" "$corpus" "${seeds[@]}" \
        -max_total_time="$seconds" -timeout=20 -rss_limit_mb=4096 -max_len=4096 \
        -artifact_prefix="$crashes/$harness-" -print_final_stats=1 2> "$work/$harness.log" || {
            status=1
            echo "fuzz_$harness failed; the last lines of $work/$harness.log:" >&2
            tail -n 60 "$work/$harness.log" >&2
        }
    grep -E '^stat::(number_of_executed_units|peak_rss_mb)|^#[0-9]+.*DONE' "$work/$harness.log" || true
done
exit "$status"
