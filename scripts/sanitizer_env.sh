# Sourced by the sanitizer scripts: finds the runtimes of g++'s sanitizers.
# The interpreter is not instrumented, so the runtime the extension links against
# must be preloaded: ASan has to come first in the process to intercept malloc.

# sanitizer_preload LIST: sets SANITIZER_PRELOAD to the runtimes that LIST
# (comma-separated, as passed to -fsanitize=) needs, in load order.
sanitizer_preload() {
    local list=",$1," libraries=()
    [[ $list == *,address,* ]] && libraries+=(asan)
    [[ $list == *,leak,* && $list != *,address,* ]] && libraries+=(lsan)
    [[ $list == *,undefined,* ]] && libraries+=(ubsan)
    SANITIZER_PRELOAD=""
    SANITIZER_RUNTIMES="${libraries[*]}"
    local name path
    for name in "${libraries[@]}"; do
        path="$(${CXX:-g++} -print-file-name="lib$name.so")"
        if [ ! -e "$path" ]; then
            echo "no lib$name.so for ${CXX:-g++}" >&2
            return 1
        fi
        SANITIZER_PRELOAD="${SANITIZER_PRELOAD:+$SANITIZER_PRELOAD }$(readlink -f "$path")"
    done
    export SANITIZER_PRELOAD SANITIZER_RUNTIMES
}

# install_sanitized_build VENV CMAKE_DIR: builds and installs ntpepmap with its test
# dependencies into VENV, instrumented with $NTPEPMAP_SANITIZE. The CMake tree is
# kept between runs so that a rerun only rebuilds what changed.
install_sanitized_build() {
    local venv="$1" cmake_dir="$2"
    [ -x "$venv/bin/python" ] || python3 -m venv "$venv"
    "$venv/bin/python" -m pip install --quiet --upgrade pip 2>&1 | { grep -v '^WARNING: Location' || true; }
    "$venv/bin/python" -m pip install --quiet ".[test]" \
        --config-settings=build-dir="$cmake_dir" --config-settings=cmake.build-type=RelWithDebInfo \
        2>&1 | { grep -v '^WARNING: Location' || true; }
    # Refuse to go on with an extension that the sanitizers do not watch.
    local extension runtime
    extension="$("$venv/bin/python" -c 'import importlib.util as u; print(u.find_spec("ntpepmap").origin)')"
    sanitizer_preload "$NTPEPMAP_SANITIZE"
    # ldd's list read whole first: grep -q stops at its match, and under pipefail the SIGPIPE
    # ldd then gets would read as "not linked" (more likely the more libraries follow).
    local linked
    linked="$(ldd "$extension")"
    for runtime in $SANITIZER_RUNTIMES; do
        if ! grep -q "lib$runtime\.so" <<< "$linked"; then
            echo "$extension is not linked against lib$runtime: not instrumented" >&2
            return 1
        fi
    done
}
