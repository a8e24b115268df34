#!/usr/bin/env bash
# Installs the codon-alignment tools that bench_end_to_end.py compares against:
# phyx (pxaa2cdn), EMBOSS (tranalign) and PAL2NAL from Debian's packages,
# Biopython (codonalign) from PyPI, and GNU time, which measures peak memory. Prints what it could not get and never
# fails the caller because one peer is missing: the benchmark skips it.
set -u

missing=()
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

apt_ok=1
if ! command -v apt-get >/dev/null 2>&1; then
    apt_ok=0
    echo "apt-get not found: skipping Debian packages" >&2
elif ! $SUDO apt-get update -qq; then
    apt_ok=0
    echo "apt-get update failed: skipping Debian packages" >&2
fi

# package name -> command it provides; GNU time measures the peers' peak memory
declare -A debian_peers=([phyx]=pxaa2cdn [emboss]=tranalign [pal2nal]=pal2nal.pl [time]=/usr/bin/time)

for pkg in time phyx emboss pal2nal; do
    cmd=${debian_peers[$pkg]}
    if command -v "$cmd" >/dev/null 2>&1; then
        echo "ok: $pkg already provides $cmd"
        continue
    fi
    if [ "$apt_ok" -eq 1 ] && apt-cache policy "$pkg" 2>/dev/null | grep -q 'Candidate: [0-9]'; then
        if DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "$pkg" >/dev/null; then
            if command -v "$cmd" >/dev/null 2>&1; then
                echo "ok: installed $pkg ($cmd)"
                continue
            fi
        fi
    fi
    missing+=("$pkg ($cmd)")
done

PYTHON=${PYTHON:-python3}
if "$PYTHON" -c 'import Bio.codonalign' 2>/dev/null; then
    echo "ok: biopython already importable"
elif "$PYTHON" -m pip install -q biopython && "$PYTHON" -c 'import Bio.codonalign' 2>/dev/null; then
    echo "ok: installed biopython"
else
    missing+=("biopython (Bio.codonalign)")
fi

if [ ${#missing[@]} -gt 0 ]; then
    echo "could not get:"
    printf '  %s\n' "${missing[@]}"
else
    echo "all peers available"
fi
exit 0
