# Sourced by example.sh and test.sh, from the checkout's top folder: one .venv for both, with
# ntpepmap built into it once and again only when its sources change. The stamp is a hash of
# every file the build reads; an unchanged checkout starts in a second instead of minutes.
#   ensure_venv          ntpepmap alone
#   ensure_venv test     and its test dependencies (pip asks the index only for missing ones)

STAMP=.venv/ntpepmap-sources.sha256

sources_hash() {
    find CMakeLists.txt pyproject.toml src python -type f ! -name '*.pyc' ! -path '*/__pycache__/*' \
        ! -name '*.so' -print0 | LC_ALL=C sort -z | xargs -0 sha256sum | sha256sum | cut -d' ' -f1
}

ensure_venv() {
    local hash
    hash="$(sources_hash)"
    [ -x .venv/bin/python ] || python3 -m venv .venv
    if [ "$(cat "$STAMP" 2>/dev/null)" != "$hash" ]; then
        echo "# Building ntpepmap into .venv (the sources changed, or the first time: minutes)." >&2
        rm -f "$STAMP"  # a build that fails leaves no stamp: the next run builds again
        .venv/bin/python -m pip install --quiet --upgrade pip
        .venv/bin/python -m pip install --quiet .
        echo "$hash" >"$STAMP"
    fi
    if [ "${1:-}" = test ]; then
        # The installed package's own list of its test extra, markers evaluated by pip.
        local requirements
        mapfile -t requirements < <(.venv/bin/python - <<'PY'
import importlib.metadata as metadata
import re
for requirement in metadata.requires("ntpepmap") or []:
    name, _, marker = requirement.partition(";")
    if 'extra == "test"' in marker:
        rest = re.sub(r'(\s+and)?\s*extra == "test"(\s+and)?', "", marker).strip()
        print(name.strip() + (f"; {rest}" if rest else ""))
PY
        )
        .venv/bin/python -m pip install --quiet "${requirements[@]}"
    fi
}
