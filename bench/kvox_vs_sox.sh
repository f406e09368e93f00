#!/bin/bash
# kvox against sox on the same conversions of a one-hour file, for every coding in both directions, and
# kvox convert over many short files with growing -j.
#
# Usage: bench/kvox_vs_sox.sh [KVOX]   (default build/native/host/kvox; RUNS=5 and WORK=build/bench-kvox
#        may be set in the environment)
#
# Both programs read a 16-bit mono WAV at the coding's rate (so neither converts rates) and write the coded
# file, then read that back into a WAV. sox writes the same codings headerless: -t al, -t ul, and -t vox for
# its own 4-bit ADPCM. Each figure is the best of RUNS runs; outputs are deleted before every run, so
# neither program pays for replacing a large file. The ratio is sox's time over kvox's, on CPU time
# (user + system; the fairer figure on a shared machine) and on elapsed time.
set -euo pipefail

cd "$(dirname "$0")/.."
kvox=$(realpath "${1:-build/native/host/kvox}")
runs=${RUNS:-5}
work=${WORK:-build/bench-kvox}
speech=$(realpath examples/speech.wav)
mkdir -p "$work"
cd "$work"
[ -x "$kvox" ] || { echo "no kvox at $kvox: build it first (cmake --build --preset native --target kvox)" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is missing: scripts/install-deps.sh installs it" >&2; exit 1; }

seconds=$(soxi -D "$speech")
repeats=$(awk -v s="$seconds" 'BEGIN { print int(3600 / s) }')
for rate in 8000 6000; do
  [ -f "hour-$rate.wav" ] || sox "$speech" -r "$rate" "hour-$rate.wav" repeat "$repeats"
done

# best_of CLEANUP COMMAND...: prints "cpu_seconds elapsed_seconds", the smallest of each over the runs.
best_of() {
  local cleanup=$1 best_cpu=999999 best_real=999999 line
  shift
  for _ in $(seq "$runs"); do
    rm -f $cleanup
    line=$( { TIMEFORMAT='%R %U %S'; time "$@" >/dev/null 2>&1; } 2>&1 )
    read -r real user sys <<<"$line"
    best_cpu=$(awk -v a="$best_cpu" -v b="$(awk -v u="$user" -v s="$sys" 'BEGIN { print u + s }')" 'BEGIN { print (b < a ? b : a) }')
    best_real=$(awk -v a="$best_real" -v b="$real" 'BEGIN { print (b < a ? b : a) }')
  done
  echo "$best_cpu $best_real"
}

row() {  # coding direction kvox_times sox_times
  read -r kc kr <<<"$3"
  read -r sc sr <<<"$4"
  awk -v c="$1" -v d="$2" -v kc="$kc" -v kr="$kr" -v sc="$sc" -v sr="$sr" 'BEGIN {
    printf "%-8s %-7s %9.3f %9.3f %7.1fx %9.3f %9.3f %7.1fx\n", c, d, kc, sc, sc / (kc > 0 ? kc : 0.001), kr, sr, sr / (kr > 0 ? kr : 0.001)
  }'
}

echo "One hour of speech ($(soxi -s hour-8000.wav) samples at 8000 Hz), best of $runs runs"
printf '%-8s %-7s %9s %9s %8s %9s %9s %8s\n' CODING WAY "KVOX_CPU" "SOX_CPU" RATIO "KVOX_S" "SOX_S" RATIO
for coding in alaw:8000:al ulaw:8000:ul adpcm:8000:vox alaw48:6000:al ulaw48:6000:ul adpcm24:6000:vox; do
  IFS=: read -r alias rate type <<<"$coding"
  # Coded files for the decode runs, made once by each program.
  "$kvox" encode "hour-$rate.wav" "k-$alias.vox" --format "$alias"
  sox "hour-$rate.wav" -t "$type" "s-$alias.$type"
  k=$(best_of "k-enc.vox" "$kvox" encode "hour-$rate.wav" k-enc.vox --format "$alias")
  s=$(best_of "s-enc.$type" sox "hour-$rate.wav" -t "$type" "s-enc.$type")
  row "$alias" encode "$k" "$s"
  k=$(best_of "k-dec.wav" "$kvox" decode "k-$alias.vox" k-dec.wav)
  s=$(best_of "s-dec.wav" sox -t "$type" -r "$rate" -c 1 "s-$alias.$type" s-dec.wav)
  row "$alias" decode "$k" "$s"
  rm -f "k-$alias.vox" "s-$alias.$type"
done
# What moving the same bytes costs with no coding at all: the floor under both programs' decode figures.
k=$(best_of "copy.wav" cp "hour-8000.wav" copy.wav)
read -r kc kr <<<"$k"
echo "floor: copying the 8000 Hz hour's WAV takes ${kc} s CPU, ${kr} s elapsed"

echo
files=120
echo "kvox convert --to adpcm: $files files of 30 s at 16000 Hz stereo (rate conversion and mixing)"
mkdir -p many
if [ ! -f "many/call-$files.wav" ]; then
  sox "$speech" -c 2 many/call-1.wav repeat "$(awk -v s="$seconds" 'BEGIN { print int(30 / s) }')"
  for i in $(seq 2 "$files"); do cp many/call-1.wav "many/call-$i.wav"; done
fi
base=""
printf '%-4s %9s %9s %8s\n' JOBS "CPU_S" "ELAPSED" SPEEDUP
for jobs in 1 2 4; do
  t=$(best_of "" bash -c "rm -rf many-out && exec \"$kvox\" convert --to adpcm -j $jobs -o many-out many")
  read -r tc tr <<<"$t"
  [ -n "$base" ] || base=$tr
  awk -v j="$jobs" -v c="$tc" -v r="$tr" -v b="$base" 'BEGIN { printf "%-4s %9.3f %9.3f %7.2fx\n", j, c, r, b / r }'
done
echo "(this machine has $(nproc) cores)"
rm -rf many-out k-enc.vox s-enc.* k-dec.wav s-dec.wav copy.wav
