#!/usr/bin/env bash
# Builds both extension modules, the core and the native checks with every warning an error,
# once per Python: each Python's headers bring warnings of their own. With no arguments: this
# checkout's .venv (made by scripts/test.sh), and the newest 3.9 and 3.13 that pyenv holds.
#   bash scripts/werror_builds.sh [PYTHON ...]
set -euo pipefail
cd "$(dirname "$0")/.."

pyenv_python() {
    local version="$1" root="${PYENV_ROOT:-$HOME/.pyenv}" found
    found="$(ls -d "$root/versions/$version".* 2>/dev/null | sort -V | tail -n 1)"
    if [ -z "$found" ] || [ ! -x "$found/bin/python3" ]; then
        echo "no Python $version under $root/versions (pyenv install $version)" >&2
        return 1
    fi
    echo "$found/bin/python3"
}

tool() {  # the venv's copy of a build tool when there is one
    if [ -x ".venv/bin/$1" ]; then echo "$PWD/.venv/bin/$1"; else command -v "$1"; fi
}

if [ $# -gt 0 ]; then
    pythons=("$@")
else
    pythons=(.venv/bin/python "$(pyenv_python 3.9)" "$(pyenv_python 3.13)")
fi
cmake="$(tool cmake)"
generator=()
if ninja="$(tool ninja)"; then generator=(-G Ninja -DCMAKE_MAKE_PROGRAM="$ninja"); fi

for python in "${pythons[@]}"; do
    version="$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')"
    build="build/werror-$version"
    "$cmake" -S . -B "$build" "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DPython_EXECUTABLE="$python" \
        -DNTPEPMAP_WERROR=ON -DNTPEPMAP_NATIVE_TESTS=ON -DNTPEPMAP_SANITIZE= > /dev/null
    "$cmake" --build "$build" -j2 > "$build/build.log" 2>&1 || { cat "$build/build.log" >&2; exit 1; }
    echo "-Werror build with Python $version: clean"
done
