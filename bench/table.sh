#!/bin/bash
# make bench: one table of every job with its peers, all measured in this run.
#
# Usage: bench/table.sh [BUILD_DIR]   (default build/native, with exports_bench and kvox built;
#        REPETITIONS=5 for exports_bench, RUNS=3 for kvox against sox)
#
# - Through the exports: one hour of 8 kHz audio coded by the built library (open, every 16384-byte block,
#   close, on a real file) against libsndfile on the same job (its raw A-law, mu-law and 4-bit VOX ADPCM),
#   CPU time, the best of REPETITIONS, the two interleaved at random.
# - kvox against sox: bench/kvox_vs_sox.sh, the whole command on an hour of pink noise and of speech, wall
#   time, the best of RUNS.
# Every figure is milliseconds per hour of audio; a ratio is the peer's time over ours.
set -euo pipefail

cd "$(dirname "$0")/.."
build=${1:-build/native}
repetitions=${REPETITIONS:-5}
for program in "$build/bench/exports_bench" "$build/host/kvox"; do
  [ -x "$program" ] || { echo "table: $program is missing; build the native preset first" >&2; exit 1; }
done

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
exports=$(mktemp)
peers=$(mktemp)
trap 'rm -f "$exports" "$peers"' EXIT
"$build/bench/exports_bench" --benchmark_filter='/(exports|libsndfile)$' --benchmark_repetitions="$repetitions" \
  --benchmark_enable_random_interleaving=true --benchmark_format=csv 2>/dev/null >"$exports"
bench/kvox_vs_sox.sh "$build/host/kvox" >"$peers"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "$(nproc) x $cpu; load average $load_before before, $load_after after"
echo "ms per hour of 8 kHz audio (lower is better); x = the peer's time over ours"
echo

awk -F'\t' -v exports="$exports" -v peers="$peers" -v repetitions="$repetitions" -v runs="${RUNS:-3}" '
  function name(coding) { return coding == "alaw" ? "A-law" : coding == "ulaw" ? "mu-law" : "ADPCM" }
  function ratio(peer, ours) { return ours > 0 ? sprintf("%.2fx", peer / ours) : "-" }
  function verdict(value, floor, goal) {
    if (floor == "") return ""
    if (goal == "") return sprintf("%sx: %s", floor, value >= floor ? "met" : "missed")
    return sprintf("%sx: %s, %sx: %s", floor, value >= floor ? "met" : "missed", goal, value >= goal ? "met" : "missed")
  }
  function row(job, ours, libsndfile, sox, against, floor, goal,   shown_l, shown_s, r) {
    shown_l = libsndfile == "" ? "" : sprintf("%.1f", libsndfile)
    shown_s = sox == "" ? "" : sprintf("%.1f", sox)
    r = against == "libsndfile" ? libsndfile / ours : sox / ours
    printf "| %-38s | %9.1f | %15s | %8s | %12s | %6s | %-22s |\n", job, ours, shown_l, shown_s,
      libsndfile == "" ? "" : ratio(libsndfile, ours), sox == "" ? "" : ratio(sox, ours), verdict(r, floor, goal)
  }
  BEGIN {
    # exports_bench CSV: the best CPU time of each job over its repetitions (aggregate rows end in _mean etc.).
    while ((getline line < exports) > 0) {
      if (line !~ /^"(decode|encode)\//) continue
      split(line, field, ",")
      gsub(/"/, "", field[1])
      if (field[1] ~ /_(mean|median|stddev|cv)$/) continue
      if (!(field[1] in best) || field[4] + 0 < best[field[1]]) best[field[1]] = field[4] + 0
    }
    print "| Job                                    | Ours (ms) | libsndfile (ms) | sox (ms) | x libsndfile |  x sox | Target                 |"
    print "|----------------------------------------|-----------|-----------------|----------|--------------|--------|------------------------|"
    split("decode encode", directions, " ")
    split("alaw ulaw adpcm", codings, " ")
    for (d = 1; d <= 2; ++d) {
      for (c = 1; c <= 3; ++c) {
        job = directions[d] "/" codings[c]
        floor = directions[d] == "encode" ? (codings[c] == "adpcm" ? 4 : 2) : (codings[c] == "adpcm" ? 2.5 : "")
        row(name(codings[c]) " " directions[d] ", exports", best[job "/exports"], best[job "/libsndfile"], "",
            "libsndfile", floor, "")
      }
    }
    while ((getline line < peers) > 0) {
      split(line, f, "\t")
      signal = f[3] == "pink" ? "pink noise" : "speech"
      row(name(f[1]) " " f[2] ", kvox, " signal, 1000 * f[4], "", 1000 * f[5], "sox", 3, 5)
    }
    print ""
    print "exports: CPU time, best of " repetitions " interleaved with libsndfile; kvox and sox: wall time, best of " runs "."
  }'
