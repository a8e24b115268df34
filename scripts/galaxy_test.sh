#!/usr/bin/env bash
# Runs the Galaxy wrapper's tests (galaxy/ntpepmap.xml) in a real Galaxy: lints the wrapper with
# planemo, starts Galaxy's web server from its PyPI packages on 127.0.0.1 with a tool
# configuration that holds the wrapper alone, runs the wrapper's tests against it with
# galaxy-tool-test, and stops the server by its pid, also on failure or interruption.
#
#   bash scripts/galaxy_test.sh       # needs .venv with ntpepmap installed (scripts/test.sh)
#
# Galaxy and planemo (about 1.6 GB) live in a venv under ~/.cache/ntpepmap-galaxy named after
# their versions and the Python's, kept between runs; pip's cache is kept too.
set -euo pipefail
cd "$(dirname "$0")/.."

GALAXY_VERSION=26.1.2
PLANEMO_VERSION=0.75.47
PYTHON=${PYTHON:-python3}
CACHE=${NTPEPMAP_GALAXY_CACHE:-$HOME/.cache/ntpepmap-galaxy}
# Galaxy waits this long at most for its database and tools before the run gives up.
START_TIMEOUT=${GALAXY_START_TIMEOUT:-600}

checkout=$PWD
py_version=$("$PYTHON" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
venv=$CACHE/venv-galaxy$GALAXY_VERSION-planemo$PLANEMO_VERSION-py$py_version

install_galaxy() {
    [ -e "$venv/.installed" ] && return 0
    echo "installing galaxy==$GALAXY_VERSION and planemo==$PLANEMO_VERSION into $venv"
    rm -rf "$venv"
    "$PYTHON" -m venv "$venv"
    # The galaxy metapackage pins each of its dependencies; one of them, certifi 2026.10.19, is
    # served as 2026.10.19.post1 alone. So its pins are installed from its own metadata, that
    # one changed; planemo's must fit them.
    "$venv/bin/pip" install -q --no-deps "galaxy==$GALAXY_VERSION"
    "$venv/bin/python" -c 'import sys
from importlib.metadata import requires
pins = (pin.replace("certifi==2026.10.19", "certifi==2026.10.19.post1") for pin in requires("galaxy"))
open(sys.argv[1], "w").write("\n".join(pins) + "\n")' "$venv/galaxy-pins.txt"
    "$venv/bin/pip" install -q -r "$venv/galaxy-pins.txt" "planemo==$PLANEMO_VERSION"
    touch "$venv/.installed"
}

free_port() {
    "$PYTHON" -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

[ -x .venv/bin/ntpepmap ] || { echo "galaxy_test.sh: no .venv/bin/ntpepmap; run scripts/test.sh first" >&2; exit 2; }
install_galaxy

run=$(mktemp -d "${TMPDIR:-/tmp}/ntpepmap-galaxy.XXXXXX")
server_pid=""
tester_pid=""
stop_pid() {
    [ -n "$1" ] && kill -0 "$1" 2>/dev/null || return 0
    kill -TERM "$1"
    for _ in $(seq 30); do kill -0 "$1" 2>/dev/null || return 0; sleep 1; done
    kill -KILL "$1" 2>/dev/null || true
}
stop_galaxy() {
    stop_pid "$tester_pid"
    stop_pid "$server_pid"
    # The jobs the server left running, each in a process group of its own.
    local job group own_group
    own_group=$(ps -o pgid= $$ | tr -d ' ')
    for job in $(pgrep -f "$run/data/jobs/" || true); do
        group=$(ps -o pgid= "$job" | tr -d ' ')
        if [ -n "$group" ] && [ "$group" != "$own_group" ]; then kill -TERM -- "-$group" 2>/dev/null || true; fi
    done
    rm -rf "$run"
}
trap stop_galaxy EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

echo "planemo lint"
"$venv/bin/planemo" lint --fail_level warn galaxy/ntpepmap.xml

# Jobs run `python` from PATH for Galaxy's own steps (metadata): Galaxy's venv is on it, and of
# the project's .venv the ntpepmap command alone.
mkdir -p "$run/bin"
ln -s "$checkout/.venv/bin/ntpepmap" "$run/bin/ntpepmap"
job_path=$run/bin:$venv/bin:/usr/local/bin:/usr/bin:/bin

port=$(free_port)
admin_key=$("$PYTHON" -c 'import secrets; print(secrets.token_hex(16))')
sed -e "s|@RUN@|$run|g" -e "s|@TOOLS@|$checkout/galaxy|g" -e "s|@ADMIN_KEY@|$admin_key|g" \
    scripts/galaxy_test.yml > "$run/galaxy.yml"
printf '<toolbox>\n  <section id="ntpepmap" name="ntpepmap">\n    <tool file="%s/galaxy/ntpepmap.xml" />\n  </section>\n</toolbox>\n' \
    "$checkout" > "$run/tool_conf.xml"

echo "starting Galaxy on 127.0.0.1:$port (log: $run/galaxy.log)"
start=$SECONDS
(cd "$run" && PATH=$job_path GALAXY_CONFIG_FILE=$run/galaxy.yml exec "$venv/bin/gunicorn" \
    'galaxy.webapps.galaxy.fast_factory:factory()' -k galaxy.webapps.galaxy.workers.Worker \
    -b "127.0.0.1:$port" --workers 1 --timeout 600 --preload \
    --config python:galaxy.web_stack.gunicorn_config) > "$run/galaxy.log" 2>&1 &
server_pid=$!

url=http://127.0.0.1:$port
until "$PYTHON" -c 'import sys, urllib.request; urllib.request.urlopen(sys.argv[1] + "/api/version", timeout=5)' "$url" 2>/dev/null; do
    if ! kill -0 "$server_pid" 2>/dev/null || [ $((SECONDS - start)) -gt "$START_TIMEOUT" ]; then
        tail -n 40 "$run/galaxy.log" >&2
        echo "galaxy_test.sh: Galaxy did not start on $url" >&2
        exit 1
    fi
    sleep 3
done
echo "Galaxy answered after $((SECONDS - start)) s"

user_key=$("$venv/bin/python" scripts/galaxy_client.py user "$url" "$admin_key")
echo "running the wrapper's tests"
status=0
# In the background, so that a stop signal reaches the traps at once.
TMPDIR=$run "$venv/bin/galaxy-tool-test" -u "$url" -k "$user_key" -a "$admin_key" -t ntpepmap \
    --test-data galaxy/test-data --parallel-tests 4 -j "$run/report.json" &
tester_pid=$!
wait "$tester_pid" || status=$?
"$venv/bin/python" scripts/galaxy_client.py report "$run/report.json" galaxy/ntpepmap.xml || status=1
exit "$status"
