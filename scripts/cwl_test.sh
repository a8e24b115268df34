#!/usr/bin/env bash
# Validates cwl/ntpepmap.cwl and runs its cwltest cases (cwl/tests.yml) with cwltool
# --no-container, the command being the ntpepmap of .venv (scripts/test.sh installs it).
# cwltool and cwltest live in a venv under ~/.cache/ntpepmap-cwl named after their versions
# and the Python's, kept between runs.
set -euo pipefail
cd "$(dirname "$0")/.."

CWLTOOL_VERSION=3.3.20260925135507
CWLTEST_VERSION=2.7.20260814150058
PYTHON=${PYTHON:-python3}
CACHE=${NTPEPMAP_CWL_CACHE:-$HOME/.cache/ntpepmap-cwl}

py_version=$("$PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
venv=$CACHE/venv-cwltool$CWLTOOL_VERSION-cwltest$CWLTEST_VERSION-py$py_version
if [ ! -e "$venv/.installed" ]; then
    echo "installing cwltool==$CWLTOOL_VERSION and cwltest==$CWLTEST_VERSION into $venv"
    rm -rf "$venv"
    "$PYTHON" -m venv "$venv"
    "$venv/bin/pip" install -q "cwltool==$CWLTOOL_VERSION" "cwltest==$CWLTEST_VERSION"
    touch "$venv/.installed"
fi

[ -x .venv/bin/ntpepmap ] || { echo "cwl_test.sh: no .venv/bin/ntpepmap; run scripts/test.sh first" >&2; exit 2; }
# The command alone on PATH, not the project's Python.
bin=$(mktemp -d "${TMPDIR:-/tmp}/ntpepmap-cwl.XXXXXX")
trap 'rm -rf "$bin"' EXIT
ln -s "$PWD/.venv/bin/ntpepmap" "$bin/ntpepmap"
export PATH=$bin:$venv/bin:/usr/local/bin:/usr/bin:/bin

cwltool --validate cwl/ntpepmap.cwl
cd cwl
cwltest --test tests.yml --tool cwltool -j 2 -- --no-container
