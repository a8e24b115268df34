#!/usr/bin/env bash
# Runs the same ntpepmap commands with a build of REV (default f4c64ac) and a build of the
# working tree, and compares their outputs byte by byte, their exit statuses and their
# standard error (the batch's elapsed seconds aside). One line per case, then a summary;
# exits 1 on any difference.
#
#   bash scripts/compare_outputs.sh [REV]
#
# Each side gets a venv of its own under the cache folder (NTPEPMAP_COMPARE_CACHE, default
# ~/.cache/ntpepmap-compare): REV's is built once (from `git archive`) and reused; the
# working tree's is reinstalled on every run, its build folder kept, so it rebuilds only
# what changed. Inputs: the examples, benchmarks/generate.py's data sets (small and
# mid-size; plain, gzipped, as mRNA, with frameshifts), and the test inputs kept as files.
# NTPEPMAP_COMPARE_KEEP=1 keeps every case's runs. Takes minutes: not part of CI.
set -euo pipefail

REPO=$(cd "$(dirname "$0")/.." && pwd)
REV=${1:-f4c64ac}
SHA=$(git -C "$REPO" rev-parse --verify --quiet "$REV^{commit}") || {
    echo "compare_outputs: $REV is no commit of $REPO" >&2; exit 2; }
CACHE=${NTPEPMAP_COMPARE_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/ntpepmap-compare}
PYTHON=${PYTHON:-python3}
WORK=$(mktemp -d "${TMPDIR:-/tmp}/ntpepmap-compare.XXXXXX")
if [ -n "${NTPEPMAP_COMPARE_KEEP:-}" ]; then   # to look into a difference
    trap 'echo "compare_outputs: the runs are kept in $WORK" >&2' EXIT
else
    trap 'rm -rf "$WORK"' EXIT
fi
mkdir -p "$CACHE"

log() { printf '%s\n' "compare_outputs: $*" >&2; }

# venv folder, source folder, build folder
install_into() {
    [ -x "$1/bin/python" ] || "$PYTHON" -m venv "$1"
    "$1/bin/python" -m pip install --quiet --disable-pip-version-check \
        -Cbuild-dir="$3" "$2" >"$1.install.log" 2>&1 || {
        log "building $2 failed; see $1.install.log"; exit 2; }
}

build_old() {
    local venv=$CACHE/venv-$SHA
    if [ -f "$venv/.complete" ]; then
        log "reusing the build of $REV (${SHA:0:12}) in $venv"
    else
        log "building $REV (${SHA:0:12}) into $venv"
        rm -rf "$venv" "$CACHE/src-$SHA"
        mkdir -p "$CACHE/src-$SHA"
        git -C "$REPO" archive "$SHA" | tar -x -C "$CACHE/src-$SHA"
        install_into "$venv" "$CACHE/src-$SHA" "$CACHE/build-$SHA"
        touch "$venv/.complete"
    fi
    OLD=$venv/bin/ntpepmap
}

build_new() {
    log "building the working tree into $CACHE/venv-worktree"
    install_into "$CACHE/venv-worktree" "$REPO" "$CACHE/build-worktree"
    NEW=$CACHE/venv-worktree/bin/ntpepmap
}

# The generated data sets, each a protein.fasta and a cds.fasta (and .gz copies), and a
# file of kept columns that fits every alignment here (the narrowest has 301 columns).
make_data() {
    local data=$WORK/data
    mkdir -p "$data"
    cp -r "$REPO/examples/single" "$REPO/examples/batch" "$data/"
    printf '2-100,120,150-290\n' >"$data/kept.txt"
    PYTHONPATH="$REPO/benchmarks" "$CACHE/venv-worktree/bin/python" - "$data" <<'EOF'
import gzip, random, shutil, sys
from pathlib import Path

import generate
from bench_frameshifts import frameshifted

def with_internal_stops(records, fraction, seed):
    """Some records given a stop codon inside the protein, carried as '*'."""
    rng, changed = random.Random(seed), []
    for record in records:
        residues = len(record.protein_row.replace("-", ""))
        if residues < 10 or rng.random() >= fraction:
            changed.append(record)
            continue
        index = rng.randrange(1, residues - 1)
        column = generate._column_of_residue(record.protein_row, index)
        changed.append(record._replace(
            protein_row=record.protein_row[:column] + "*" + record.protein_row[column + 1:],
            cds=record.cds[:3 * index] + "TAA" + record.cds[3 * index + 3:]))
    return changed

data = Path(sys.argv[1])
for size, (records, columns) in (("S", (200, 500)), ("M", (2_000, 1_000))):
    plain = generate.generate(records, columns, seed=7, ambiguous_fraction=0.01,
                              stop_fraction=0.5)
    plain = with_internal_stops(generate.with_mismatches(plain, 0.05, seed=7), 0.1, seed=7)
    for name, variant in ((size, plain), (f"{size}-mrna", generate.as_mrna(plain, seed=7)),
                          (f"{size}-frameshift", frameshifted(plain, seed=7)[0])):
        paths = generate.write_fasta_set(variant, data / name, wrap=60)
        paths["expected"].unlink()
    for kind in ("protein", "cds"):
        with open(data / size / f"{kind}.fasta", "rb") as source, \
                gzip.open(data / size / f"{kind}.fasta.gz", "wb") as packed:
            shutil.copyfileobj(source, packed)
EOF
    # The test inputs kept as files (the tests make theirs as they run).
    if [ -d "$REPO/tests/data" ]; then cp -r "$REPO/tests/data" "$data/tests"; fi
}

CASES=()       # name<TAB>arguments, run from a fresh folder that holds `data` (the inputs)
case_line() { CASES+=("$1"$'\t'"$2"); }

list_cases() {
    local options=(
        "fasta:" "wrap60:--wrap 60" "phylip:--out-format phylip" "paml:--out-format paml"
        "clustal:--out-format clustal" "nexus:--out-format nexus"
        "stops-mask:--stops mask" "stops-drop:--stops drop-columns"
        "mismatch-keep:--mismatch keep" "upper:--upper-case"
        "rename:--rename names.tsv" "partitions:--partitions parts.txt"
        "kept:--kept-columns data/kept.txt" "gapless:--drop-gap-columns"
        "phylip-gapless-rename:--out-format phylip --drop-gap-columns --rename names.tsv"
        "nexus-stops-drop-kept:--out-format nexus --stops drop-columns --kept-columns data/kept.txt"
        "report-quiet:--report report.txt -q")
    local sets=("single:data/single/protein_aln.fasta data/single/cds.fasta")
    local size
    for size in S M; do
        sets+=("$size:data/$size/protein.fasta data/$size/cds.fasta"
               "$size-gz:data/$size/protein.fasta.gz data/$size/cds.fasta.gz"
               "$size-mrna:data/$size-mrna/protein.fasta data/$size-mrna/cds.fasta"
               "$size-frameshift:data/$size-frameshift/protein.fasta data/$size-frameshift/cds.fasta")
    done
    if [ -d "$WORK/data/tests" ]; then
        local file
        for file in "$WORK"/data/tests/*; do
            sets+=("tests-${file##*/}:data/tests/${file##*/} data/single/cds.fasta")
        done
    fi
    local set option
    for set in "${sets[@]}"; do
        for option in "${options[@]}"; do
            case_line "${set%%:*}/${option%%:*}" "${set#*:} -o out ${option#*:}"
        done
        case_line "${set%%:*}/stdout" "${set#*:}"
    done
    local batch=(
        "fasta:" "phylip-report:--out-format phylip --report report.txt"
        "stops-mask-upper:--stops mask --upper-case" "mismatch-keep:--mismatch keep"
        "rename-partitions:--rename --partitions" "gapless-wrap:--drop-gap-columns --wrap 60")
    for option in "${batch[@]}"; do
        # One worker: the loci's lines come in the order they are listed. The manifest's
        # outputs go beside it: each case has a copy of its own, batch/.
        case_line "batch-mitochondrial/${option%%:*}" \
            "batch batch/mitochondrial.tsv -t 2 -j 1 --status status.tsv ${option#*:}"
        case_line "batch-plastid/${option%%:*}" \
            "batch batch/plastid.tsv -t 11 -j 1 --status status.tsv ${option#*:}"
        case_line "batch-folders/${option%%:*}" \
            "batch data/batch/protein data/batch/cds -O out -j 1 --status - ${option#*:}"
    done
    case_line "tables" "tables"
}

# Runs one case with one build; its folder ends up holding the outputs, and beside them
# the standard output, standard error and exit status.
run_side() {
    local tool=$1 folder=$2 args=$3
    mkdir -p "$folder/run"
    ln -s "$WORK/data" "$folder/run/data"
    case " $args " in *" batch/"*) cp -r "$WORK/data/batch" "$folder/run/batch" ;; esac
    local status=0
    # shellcheck disable=SC2086  # the arguments are words without spaces
    (cd "$folder/run" && exec env -u PYTHONPATH "$tool" $args) \
        >"$folder/stdout" 2>"$folder/stderr.raw" </dev/null || status=$?
    echo "$status" >"$folder/status"
    sed -E 's/[0-9]+\.[0-9]+ s elapsed$/N s elapsed/' "$folder/stderr.raw" >"$folder/stderr"
    rm "$folder/stderr.raw" "$folder/run/data"
}

compare_case() {
    local name=$1 args=$2
    local old=$WORK/old/$name new=$WORK/new/$name
    run_side "$OLD" "$old" "$args"
    run_side "$NEW" "$new" "$args"
    local differ=()
    local part
    for part in status stdout stderr; do
        cmp -s "$old/$part" "$new/$part" || differ+=("$part")
    done
    diff -rq "$old/run" "$new/run" >/dev/null 2>&1 || differ+=("output files")
    if [ ${#differ[@]} -eq 0 ]; then
        echo "identical  $name (exit $(cat "$old/status"))"
        return 0
    fi
    echo "DIFFERENT  $name: ${differ[*]}  [ntpepmap $args]"
    diff -r "$old" "$new" | head -n 20 | sed 's/^/    /'
    return 1
}

build_old
build_new
make_data
list_cases
log "${#CASES[@]} cases, each run with ${SHA:0:12} and with the working tree"
identical=0 different=0
for line in "${CASES[@]}"; do
    if compare_case "${line%%$'\t'*}" "${line#*$'\t'}"; then
        identical=$((identical + 1))
    else
        different=$((different + 1))
    fi
done
echo "summary: $identical identical, $different different, of ${#CASES[@]} cases (against $REV, ${SHA:0:12})"
[ "$different" -eq 0 ]
