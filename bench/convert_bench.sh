#!/bin/bash
# kvox convert on an archive: `convert --to flac -j 2` of COUNT short raw files (2 s each, in ten folders)
# and of ten one-hour raw files, each without and with --report, and kvox's peak memory for 10, 100 and
# COUNT short files and for the ten hours.
#
# Usage: bench/convert_bench.sh [KVOX]   (default build/native/host/kvox; RUNS=5, COUNT=1000, TO=flac and
#        WORK=build/bench-convert may be set in the environment)
#
# The raw files are examples/speech.wav at 8000 Hz coded by kvox without the tag, so every one is read by
# its content as an archive's would be. The short ones are 2 s slices of the speech from different offsets,
# as mu-law and A-law in turn (2 s of this speech as ADPCM mostly stays below the confidence of 0.9 that
# convert acts on, the detector's known limit for short ADPCM, and would only fail); the hours are the speech
# repeated for an hour (as bench/kvox_vs_sox.sh makes it), as mu-law, A-law and 32 kbit/s ADPCM in turn. They are made once and kept in WORK. Each figure is the best of RUNS runs, the runs with and without
# --report taking turns; the outputs (and the report) are deleted before each run, outside the time. Wall
# time, and CPU time (user + system) beside it, which other work on the machine disturbs less. The peak
# memory is the largest resident set (GNU time's %M), the largest of the same runs.
#
# The report's cost is also measured on its own, where the noise of a shared machine cannot hide it: runs of
# -n over outputs that are all there already, where each file costs two stat calls and, with --report, its
# line. The difference is the report's cost per file, set against the CPU time of converting a short file.
#
# Prints a Markdown table.
set -euo pipefail

cd "$(dirname "$0")/.."
kvox=$(realpath "${1:-build/native/host/kvox}")
runs=${RUNS:-5}
count=${COUNT:-1000}
to=${TO:-flac}
work=${WORK:-build/bench-convert}
speech=$(realpath examples/speech.wav)
[ -x "$kvox" ] || { echo "no kvox at $kvox: build it first (cmake --build --preset native --target kvox)" >&2; exit 1; }
for tool in sox /usr/bin/time; do
  command -v "$tool" >/dev/null || { echo "$tool is missing: scripts/install-deps.sh installs sox; time is Debian's time" >&2; exit 1; }
done
mkdir -p "$work"
cd "$work"

codings=(ulaw alaw adpcm)  # the hours'
short_codings=(ulaw alaw)

# An hour of the speech.
if [ ! -f hour-8000.wav ]; then
  repeats=$(awk -v s="$(soxi -D "$speech")" 'BEGIN { print int(3600 / s) }')
  sox "$speech" -r 8000 -c 1 -b 16 hour-8000.wav repeat "$repeats"
fi

# COUNT short files, in ten folders: 2 s of speech (16000 samples) from an offset that moves with each file,
# as a WAV file (a 44-byte header of that length, then the samples), each coded whole by kvox.
[ -f speech-8000.s16 ] || sox "$speech" -r 8000 -c 1 -b 16 -e signed -t raw speech-8000.s16
if [ ! -f header-2s.wav ]; then  # written to a file, so that sox puts the true sizes in it
  sox -n -r 8000 -c 1 -b 16 -e signed silence-2s.wav trim 0 2
  head -c 44 silence-2s.wav >header-2s.wav
  rm silence-2s.wav
fi
make_short() {
  local folder=$1 files=$2 i size offset slices
  [ -f "$folder/.complete" ] && return
  rm -rf "$folder" "$folder.slices"
  size=$(stat -c %s speech-8000.s16)
  for ((i = 0; i < files; ++i)); do
    slices=$folder.slices/${short_codings[i % 2]}/day$((i % 10))
    mkdir -p "$slices"
    offset=$(((i * 7919) % (size - 32000) / 2 * 2))
    { cat header-2s.wav; dd if=speech-8000.s16 iflag=skip_bytes,count_bytes bs=65536 skip="$offset" count=32000 \
        status=none; } >"$slices/call-$i.wav"
  done
  for coding in "${short_codings[@]}"; do
    "$kvox" convert --to "$coding" --no-header -j 2 -o "$folder" "$folder.slices/$coding" >/dev/null
  done
  rm -rf "$folder.slices"
  touch "$folder/.complete"
}
make_short short-10 10
make_short short-100 100
make_short "short-$count" "$count"

# Ten hours, each raw in one of the codings.
if [ ! -f hours/.complete ]; then
  rm -rf hours
  mkdir -p hours
  for coding in "${codings[@]}"; do "$kvox" encode hour-8000.wav "hour.$coding" --format "$coding" --no-header; done
  for i in $(seq 0 9); do cp "hour.${codings[i % 3]}" "hours/hour-$i.vox"; done
  rm -f hour.ulaw hour.alaw hour.adpcm
  touch hours/.complete
fi

# One run: prints "wall_seconds cpu_seconds peak_kib".
run() {
  local input=$1 report=$2 out=out measures options=()
  rm -rf "$out" report.jsonl
  [ "$report" = yes ] && options+=(--report report.jsonl)
  measures=$(mktemp)
  /usr/bin/time -f '%e %U %S %M' -o "$measures" "$kvox" convert --to "$to" -j 2 "${options[@]}" -o "$out" "$input" \
    >/dev/null 2>&1 || true
  # The last line: before it, GNU time notes a status other than 0 (a file that failed).
  tail -n 1 "$measures" | awk '{ printf "%s %.3f %s\n", $1, $2 + $3, $4 }'
  rm -f "$measures"
}

smaller() { awk -v a="$1" -v b="$2" 'BEGIN { print (b + 0 < a + 0 ? b : a) }'; }
larger() { awk -v a="$1" -v b="$2" 'BEGIN { print (b + 0 > a + 0 ? b : a) }'; }

# best INPUT: the best of RUNS runs without and with the report, taking turns:
# "wall cpu peak wall_report cpu_report peak_report lines".
best() {
  local input=$1 w=999999 c=999999 m=0 wr=999999 cr=999999 mr=0 lines=0
  for round in $(seq "$runs"); do
    # Which goes first changes from round to round, so that neither gains from following the other.
    for report in $([ $((round % 2)) = 1 ] && echo "no yes" || echo "yes no"); do
      read -r a b d <<<"$(run "$input" "$report")"
      if [ "$report" = yes ]; then
        wr=$(smaller "$wr" "$a") cr=$(smaller "$cr" "$b") mr=$(larger "$mr" "$d")
        lines=$(wc -l <report.jsonl)
      else
        w=$(smaller "$w" "$a") c=$(smaller "$c" "$b") m=$(larger "$m" "$d")
      fi
    done
  done
  rm -rf out report.jsonl
  echo "$w $c $m $wr $cr $mr $lines"
}

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
declare -A result
for input in short-10 short-100 "short-$count" hours; do
  result[$input]=$(best "$input")
done
# Every file skipped: the report's own cost per file. These runs take tens of milliseconds, below what GNU
# time resolves, so bash's own timing (milliseconds) is used, over three times as many runs.
"$kvox" convert --to "$to" -j 2 -o done "short-$count" >/dev/null 2>&1
skip_cpu() {
  local TIMEFORMAT='%3U %3S' times
  times=$( { time "$kvox" convert --to "$to" -j 2 -n "$@" -o done "short-$count" >/dev/null 2>&1; } 2>&1)
  awk '{ printf "%.3f\n", $1 + $2 }' <<<"$times"
}
skip_cpu=999999 skip_cpu_report=999999
for _ in $(seq $((3 * runs))); do
  skip_cpu=$(smaller "$skip_cpu" "$(skip_cpu)")
  rm -f report.jsonl
  skip_cpu_report=$(smaller "$skip_cpu_report" "$(skip_cpu --report report.jsonl)")
done
skip_lines=$(grep -c '"status": "skipped"' report.jsonl)
rm -rf done report.jsonl
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

echo "$(nproc) x $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//'); load average $load_before before, $load_after after"
echo "kvox convert --to $to -j 2, best of $runs runs each; the report's cost is (with - without) / without"
echo
echo "| Inputs | Wall (s) | With --report (s) | Report's cost, wall | CPU (s) | With --report (s) | Report's cost, CPU | Peak memory (MiB) | With --report (MiB) |"
echo "|---|---|---|---|---|---|---|---|---|"
for input in short-10 short-100 "short-$count" hours; do
  read -r w c m wr cr mr lines <<<"${result[$input]}"
  case $input in
    hours) label="10 raw files of 1 h" ;;
    *) label="${input#short-} raw files of 2 s" ;;
  esac
  [ "$lines" -eq "$(find "$input" -name '*.vox' | wc -l)" ] || label="$label (report: $lines lines!)"
  awk -v label="$label" -v w="$w" -v wr="$wr" -v c="$c" -v cr="$cr" -v m="$m" -v mr="$mr" 'BEGIN {
    wall_cost = w > 0 ? 100 * (wr - w) / w : 0
    cpu_cost = c > 0 ? 100 * (cr - c) / c : 0
    printf "| %s | %.2f | %.2f | %+.1f%% | %.2f | %.2f | %+.1f%% | %.1f | %.1f |\n", label, w, wr, wall_cost, c, cr,
      cpu_cost, m / 1024, mr / 1024 }'
done

read -r _ c _ <<<"${result[short-$count]}"
echo
echo "The report on its own: -n over $count finished outputs (all $skip_lines skipped), CPU time, best of $((3 * runs)):"
echo
echo "| Without --report (s) | With --report (s) | Per file (us) | Against converting a 2 s file |"
echo "|---|---|---|---|"
awk -v a="$skip_cpu" -v b="$skip_cpu_report" -v n="$count" -v c="$c" 'BEGIN {
  per_file = (b - a) / n
  printf "| %.3f | %.3f | %.1f | %.2f%% of %.2f ms |\n", a, b, 1e6 * per_file, 100 * per_file / (c / n), 1000 * c / n }'
