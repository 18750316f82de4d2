#!/usr/bin/env bash
# What `bash scripts/run` adds to the program's own start when there is nothing to install or
# build: a fresh clone of this repository runs `scripts/run -start -exit` once (installing and
# building), then the same command and the program alone are timed a few times each. Reports the
# medians and their difference; fails only when the difference passes 2 s (noise below that is
# not a fault of the scripts; the goal is well under 1 s).
set -euo pipefail
repo=$(cd "$(dirname "$0")/.." && pwd)
runs=${SQ_BENCH_RUNS:-5}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
git clone --quiet "$repo" "$work/clone"
mkdir -p "$work/data"
export APPDATA=$work/data SONQUILL_GUI=headless
cd "$work"

# Milliseconds one command takes (its exit code does not matter: an empty queue ends with 255).
elapsed_ms() {
  local t0 t1
  t0=$(date +%s%N)
  "$@" >/dev/null 2>&1 || true
  t1=$(date +%s%N)
  echo $(((t1 - t0) / 1000000))
}
median() { sort -n | awk '{a[NR]=$1} END {print a[int((NR + 1) / 2)]}'; }

first=$(elapsed_ms bash clone/scripts/run -start -exit)
echo "first run (setup and build): ${first} ms"
program=clone/build/release/out/sonquill
[ -x "$program" ] || { echo "run_overhead: the first run built no program" >&2; exit 1; }
for _ in $(seq "$runs"); do elapsed_ms bash clone/scripts/run -start -exit; done | median > "$work/script"
for _ in $(seq "$runs"); do elapsed_ms "$program" -start -exit; done | median > "$work/program"
script_ms=$(cat "$work/script")
program_ms=$(cat "$work/program")
overhead=$((script_ms - program_ms))
echo "scripts/run, nothing to do: ${script_ms} ms (median of $runs)"
echo "program alone:              ${program_ms} ms (median of $runs)"
echo "overhead of scripts/run:    ${overhead} ms"
if [ "$overhead" -ge 2000 ]; then
  echo "run_overhead: scripts/run adds ${overhead} ms with nothing to install or build" >&2
  exit 1
fi
