#!/usr/bin/env bash
# End-to-end batch benchmark: the program converts a corpus to MP3 (LAME -V2) exactly as a user runs
# it (headless, "-start -exit", a fresh data folder with the worker count in its prefs.xml, a
# destination folder), paired run for run with the bare tools doing the same conversions under
# xargs -P. Prints per row the median ratio program/bare with its spread, the items done, and the
# outputs identical to the bare road's, and the ratio of the CPU time both took (user and system,
# children included: on a machine shared with other work the wall time follows the load, the CPU
# time much less); then the CPU time of a headless start with an empty queue.
#
#   bench/batch_e2e.sh [output folder of a build]   (default: build/release/out)
#   SQ_BENCH_PAIRS   pairs per row (default 3)
#   SQ_BENCH_LONG=1  also the long corpus (4 x 10 min)
set -euo pipefail
cd "$(dirname "$0")/.."
out_dir=$(realpath "${1:-build/release/out}")
program="$out_dir/sonquill"
pairs=${SQ_BENCH_PAIRS:-3}
[[ -x $program ]] || { echo "no program at $program" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The corpus: pink noise, so that the encoder works as on music; FLAC made from the WAV files.
make_corpus() {  # name count seconds
  local dir="$work/$1"
  mkdir -p "$dir"
  for i in $(seq -w 1 "$2"); do
    sox -n -r 44100 -c 2 -b 16 "$dir/t$i.wav" synth "$3" pinknoise vol 0.3 2>/dev/null
    flac -s -f "$dir/t$i.wav" -o "$dir/t$i.flac"
  done
}

now() { date +%s.%N; }

# CPU seconds (user and system, children included) that /usr/bin/time wrote into the file.
cpu_of() { tail -1 "$1" | awk '{print $1 + $2}'; }

# One program run: the wall time; the items done (non-empty outputs) go to $work/done, the CPU
# time to $work/cpu_program.
run_program() {  # ext workers corpus
  local ext=$1 workers=$2 corpus=$3
  local app="$work/app" dest="$work/dest"
  rm -rf "$app" "$dest"
  mkdir -p "$app/Sonquill" "$dest"
  cat >"$app/Sonquill/prefs.xml" <<EOF
<?xml version="1.0" encoding="UTF-8"?>
<QuorvexPrefs><node key="overall.httpd.port">0</node><node key="overall.task.parallelize">$workers</node><node key="overall.audio.encoder">0</node><node key="audioenc.lame.preset">None</node><node key="audioenc.lame.mode">VBR</node><node key="audioenc.lame.quality">2</node><node key="overall.output.tag">false</node><node key="overall.task.destdir">$dest</node></QuorvexPrefs>
EOF
  local start end
  start=$(now)
  APPDATA="$app" SONQUILL_GUI=headless /usr/bin/time -o "$work/time" -f '%U %S' \
    timeout 1800 "$program" -start -exit "$work/$corpus"/*."$ext" >/dev/null 2>&1 || true
  end=$(now)
  find "$dest" -name '*.mp3' -size +0 | wc -l >"$work/done"
  cpu_of "$work/time" >"$work/cpu_program"
  echo "$end - $start" | bc -l
}

# The bare road: flac -dcs IN | lame --quiet -V2 - OUT, or lame -V2 on the WAV file. The CPU time
# goes to $work/cpu_bare.
run_bare() {  # ext workers corpus
  local ext=$1 workers=$2 corpus=$3 dest="$work/bare"
  rm -rf "$dest"
  mkdir -p "$dest"
  local start end
  start=$(now)
  if [[ $ext == flac ]]; then
    printf '%s\n' "$work/$corpus"/*.flac | /usr/bin/time -o "$work/time" -f '%U %S' xargs -P "$workers" -I{} sh -c \
      'f="$1"; b=$(basename "$f" .flac); flac -dcs "$f" | lame --quiet -V2 - "$2/$b.mp3"' _ {} "$dest"
  else
    printf '%s\n' "$work/$corpus"/*.wav | /usr/bin/time -o "$work/time" -f '%U %S' xargs -P "$workers" -I{} sh -c \
      'f="$1"; b=$(basename "$f" .wav); lame --quiet -V2 "$f" "$2/$b.mp3"' _ {} "$dest"
  fi
  end=$(now)
  cpu_of "$work/time" >"$work/cpu_bare"
  echo "$end - $start" | bc -l
}

# Outputs byte-identical to the bare road's.
identical() {
  local n=0
  for f in "$work/bare"/*.mp3; do
    cmp -s "$f" "$work/dest/$(basename "$f")" && n=$((n + 1))
  done
  echo "$n"
}

stats() {  # values... -> "median (min-max)"
  printf '%s\n' "$@" | sort -g | awk '{v[NR]=$1} END {m = NR % 2 ? v[(NR+1)/2] : (v[NR/2]+v[NR/2+1])/2; printf "%.2f (%.2f-%.2f)", m, v[1], v[NR]}'
}

row() {  # label ext workers corpus items
  local label=$1 ext=$2 workers=$3 corpus=$4 items=$5
  local ratios=() cpu_ratios=() done_list=() same_list=() prog bare
  for _ in $(seq "$pairs"); do
    prog=$(run_program "$ext" "$workers" "$corpus")
    done_list+=("$(cat "$work/done")")
    bare=$(run_bare "$ext" "$workers" "$corpus")
    same_list+=("$(identical)")
    ratios+=("$(echo "$prog / $bare" | bc -l)")
    cpu_ratios+=("$(echo "$(cat "$work/cpu_program") / $(cat "$work/cpu_bare")" | bc -l)")
  done
  printf '| %-28s | %-20s | %-14s | %-14s | %-20s |\n' "$label" "$(stats "${ratios[@]}")" \
    "$(IFS=,; echo "${done_list[*]}") of $items" "$(IFS=,; echo "${same_list[*]}")" "$(stats "${cpu_ratios[@]}")"
}

make_corpus short 16 30
[[ ${SQ_BENCH_LONG:-0} == 1 ]] && make_corpus long 4 600

echo "program / bare road, wall time, median of $pairs pairs (spread); items done and outputs identical per run"
printf '| %-28s | %-20s | %-14s | %-14s | %-20s |\n' "run" "program / bare" "items done" "identical" "CPU program / bare"
printf '|%s|%s|%s|%s|%s|\n' "$(printf -- '-%.0s' {1..30})" "$(printf -- '-%.0s' {1..22})" "$(printf -- '-%.0s' {1..16})" \
  "$(printf -- '-%.0s' {1..16})" "$(printf -- '-%.0s' {1..22})"
row "16 x 30 s FLAC, 8 workers" flac 8 short 16
row "16 x 30 s FLAC, 1 worker" flac 1 short 16
row "16 x 30 s WAV, 8 workers" wav 8 short 16
row "16 x 30 s WAV, 1 worker" wav 1 short 16
if [[ ${SQ_BENCH_LONG:-0} == 1 ]]; then
  row "4 x 10 min FLAC, 8 workers" flac 8 long 4
  row "4 x 10 min FLAC, 1 worker" flac 1 long 4
  row "4 x 10 min WAV, 8 workers" wav 8 long 4
  row "4 x 10 min WAV, 1 worker" wav 1 long 4
fi

# Start-up: headless, empty queue, "-start -exit" (the empty batch is refused and the program ends).
cpu=()
for _ in $(seq 10); do
  rm -rf "$work/app"
  mkdir -p "$work/app/Sonquill"
  printf '<?xml version="1.0" encoding="UTF-8"?>\n<QuorvexPrefs><node key="overall.httpd.port">0</node></QuorvexPrefs>\n' \
    >"$work/app/Sonquill/prefs.xml"
  APPDATA="$work/app" SONQUILL_GUI=headless /usr/bin/time -o "$work/cpu" -f '%U %S' "$program" -start -exit >/dev/null 2>&1 || true
  cpu+=("$(tail -1 "$work/cpu" | awk '{print $1 + $2}')")
done
echo "headless start, empty queue, -start -exit: CPU seconds, median of 10 (spread): $(stats "${cpu[@]}")"
