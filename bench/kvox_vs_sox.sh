#!/bin/bash
# kvox against sox, end to end, on one hour of pink noise and one hour of speech at 8000 Hz: A-law, mu-law and
# ADPCM, each encoded and decoded by both programs.
#
# Usage: bench/kvox_vs_sox.sh [KVOX]   (default build/native/host/kvox; RUNS=3 and WORK=build/bench-kvox may
#        be set in the environment)
#
# Both programs read the same 16-bit mono WAV and write a headerless coded file (sox: -t al, -t ul, and -t vox,
# its own 4-bit ADPCM), then read their own coded file back into a WAV. sox runs with -D when it encodes:
# without it sox dithers, which is slower and gives different bytes on every run. Each figure is the wall time
# of the whole command, the best of RUNS runs, with kvox and sox taking turns; outputs are deleted before each
# run, so neither pays for replacing a large file.
#
# Prints one line per job, tab-separated: coding, direction, signal, kvox seconds, sox seconds.
set -euo pipefail

cd "$(dirname "$0")/.."
kvox=$(realpath "${1:-build/native/host/kvox}")
runs=${RUNS:-3}
work=${WORK:-build/bench-kvox}
speech=$(realpath examples/speech.wav)
[ -x "$kvox" ] || { echo "no kvox at $kvox: build it first (cmake --build --preset native --target kvox)" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is missing: scripts/install-deps.sh installs it" >&2; exit 1; }
mkdir -p "$work"
cd "$work"

# The hours, made once: pink noise from sox's generator in repeatable mode, and the speech sample repeated.
[ -f pink-8000.wav ] || sox -R -n -r 8000 -c 1 -b 16 pink-8000.wav synth 3600 pinknoise
if [ ! -f speech-8000.wav ]; then
  repeats=$(awk -v s="$(soxi -D "$speech")" 'BEGIN { print int(3600 / s) }')
  sox "$speech" -r 8000 -c 1 -b 16 speech-8000.wav repeat "$repeats"
fi

now() { date +%s.%N; }

# seconds CLEANUP COMMAND...: the wall time of one run, after deleting CLEANUP.
seconds() {
  local cleanup=$1 start end
  shift
  rm -f "$cleanup"
  start=$(now)
  "$@" >/dev/null 2>&1
  end=$(now)
  awk -v a="$start" -v b="$end" 'BEGIN { printf "%.4f\n", b - a }'
}

smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b < a ? b : a) }'; }

# job CODING DIRECTION SIGNAL KVOX_OUT KVOX_COMMAND... -- SOX_OUT SOX_COMMAND...
job() {
  local coding=$1 direction=$2 signal=$3 kvox_out=$4 best_kvox=999999 best_sox=999999 kvox_command=() sox_command=()
  shift 4
  while [ "$1" != "--" ]; do kvox_command+=("$1"); shift; done
  shift
  local sox_out=$1
  shift
  sox_command=("$@")
  for _ in $(seq "$runs"); do
    best_kvox=$(smaller "$best_kvox" "$(seconds "$kvox_out" "${kvox_command[@]}")")
    best_sox=$(smaller "$best_sox" "$(seconds "$sox_out" "${sox_command[@]}")")
  done
  printf '%s\t%s\t%s\t%s\t%s\n' "$coding" "$direction" "$signal" "$best_kvox" "$best_sox"
  rm -f "$kvox_out" "$sox_out"
}

for signal in pink speech; do
  hour=$signal-8000.wav
  for coding in alaw:al ulaw:ul adpcm:vox; do
    IFS=: read -r alias type <<<"$coding"
    job "$alias" encode "$signal" k-enc.vox "$kvox" encode "$hour" k-enc.vox --format "$alias" \
      -- "s-enc.$type" sox -D "$hour" -t "$type" "s-enc.$type"
    # The coded files for decoding, each program's own.
    "$kvox" encode "$hour" k-coded.vox --format "$alias"
    sox -D "$hour" -t "$type" "s-coded.$type"
    job "$alias" decode "$signal" k-dec.wav "$kvox" decode k-coded.vox k-dec.wav \
      -- s-dec.wav sox -t "$type" -r 8000 -c 1 "s-coded.$type" s-dec.wav
    rm -f k-coded.vox "s-coded.$type"
  done
done
