#!/bin/bash
# make bench: one table of every job with its peers, all measured in this run.
#
# Usage: bench/table.sh [BUILD_DIR]   (default build/native, with exports_bench and kvox built;
#        REPETITIONS=5 for exports_bench, RUNS=3 for kvox against sox)
#
# - Through the exports: one hour of 8 kHz audio coded by the built library (open, every 16384-byte block,
#   close, on a real file) against libsndfile on the same job (its raw A-law, mu-law and 4-bit VOX ADPCM),
#   CPU time, the best of REPETITIONS, the two interleaved at random.
# - libkvox (libkvox_bench), every coding, in the same run as the plug-in's exports and libsndfile doing the
#   same job: the stream codecs on an hour in memory beside the exports and libsndfile on files in /dev/shm,
#   and kvox_open + kvox_read of an hour beside the exports block by block (kvox's path before libkvox). CPU
#   time, the best of REPETITIONS, every row interleaved at random.
# - kvox against sox: bench/kvox_vs_sox.sh, the whole command on an hour of pink noise and of speech, wall
#   time, the best of RUNS.
# Every figure is milliseconds per hour of audio; a ratio is the peer's time over ours.
set -euo pipefail

cd "$(dirname "$0")/.."
build=${1:-build/native}
repetitions=${REPETITIONS:-5}
for program in "$build/bench/exports_bench" "$build/bench/libkvox_bench" "$build/host/kvox"; do
  [ -x "$program" ] || { echo "table: $program is missing; build the native preset first" >&2; exit 1; }
done

load_before=$(cut -d' ' -f1-3 /proc/loadavg)
exports=$(mktemp)
library=$(mktemp)
peers=$(mktemp)
trap 'rm -f "$exports" "$library" "$peers"' EXIT
"$build/bench/exports_bench" --benchmark_filter='/(exports|libsndfile)$' --benchmark_repetitions="$repetitions" \
  --benchmark_enable_random_interleaving=true --benchmark_format=csv 2>/dev/null >"$exports"
"$build/bench/libkvox_bench" --benchmark_repetitions="$repetitions" --benchmark_enable_random_interleaving=true \
  --benchmark_format=csv 2>/dev/null >"$library"
bench/kvox_vs_sox.sh "$build/host/kvox" >"$peers"
load_after=$(cut -d' ' -f1-3 /proc/loadavg)

cpu=$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')
echo "$(nproc) x $cpu; load average $load_before before, $load_after after"
echo "ms per hour of audio, 8 kHz (6 kHz for the 48 and 24 kbit/s codings; lower is better); x = the peer's time over ours"
echo

awk -F'\t' -v exports="$exports" -v library="$library" -v peers="$peers" -v repetitions="$repetitions" -v runs="${RUNS:-3}" '
  function name(coding) { return coding == "alaw" ? "A-law" : coding == "ulaw" ? "mu-law" : "ADPCM" }
  function ratio(peer, ours) { return ours > 0 ? sprintf("%.2fx", peer / ours) : "-" }
  function verdict(value, floor, goal) {
    if (floor == "") return ""
    if (goal == "") return sprintf("%sx: %s", floor, value >= floor ? "met" : "missed")
    return sprintf("%sx: %s, %sx: %s", floor, value >= floor ? "met" : "missed", goal, value >= goal ? "met" : "missed")
  }
  function shown(ms) { return ms == "" ? "" : sprintf("%.1f", ms) }
  function line_of(job, ours, exports_ms, libsndfile, sox, target) {
    printf "| %-40s | %9.1f | %12s | %15s | %8s | %9s | %12s | %6s | %-28s |\n", job, ours, shown(exports_ms),
      shown(libsndfile), shown(sox), exports_ms == "" ? "" : ratio(exports_ms, ours),
      libsndfile == "" ? "" : ratio(libsndfile, ours), sox == "" ? "" : ratio(sox, ours), target
  }
  function row(job, ours, libsndfile, sox, against, floor, goal,   r) {
    r = against == "libsndfile" ? libsndfile / ours : sox / ours
    line_of(job, ours, "", libsndfile, sox, verdict(r, floor, goal))
  }
  # The best CPU time of each job of a Google Benchmark CSV over its repetitions (aggregate rows end in _mean
  # etc.).
  function read_best(file, pattern,   line, field) {
    while ((getline line < file) > 0) {
      if (line !~ pattern) continue
      split(line, field, ",")
      gsub(/"/, "", field[1])
      if (field[1] ~ /_(mean|median|stddev|cv)$/) continue
      if (!(field[1] in best) || field[4] + 0 < best[field[1]]) best[field[1]] = field[4] + 0
    }
  }
  function alias_name(alias) {
    if (alias ~ /^alaw/) return alias == "alaw" ? "A-law" : "A-law 48"
    if (alias ~ /^ulaw/) return alias == "ulaw" ? "mu-law" : "mu-law 48"
    return alias == "adpcm" ? "ADPCM" : "ADPCM 24"
  }
  BEGIN {
    read_best(exports, "^\"(decode|encode)/")
    read_best(library, "^\"(stream|file)/")
    print "| Job                                      | Ours (ms) | Exports (ms) | libsndfile (ms) | sox (ms) | x exports | x libsndfile |  x sox | Target                       |"
    print "|------------------------------------------|-----------|--------------|-----------------|----------|-----------|--------------|--------|------------------------------|"
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
    # libkvox: the stream codecs at least as fast as the exports on the same hour; files read within 1.1x of
    # the exports block by block.
    split("alaw alaw48 ulaw ulaw48 adpcm adpcm24", aliases, " ")
    for (d = 1; d <= 2; ++d) {
      for (c = 1; c <= 6; ++c) {
        job = "stream/" directions[d] "/" aliases[c]
        ours = best[job "/libkvox"]
        if (ours == "") continue
        line_of(alias_name(aliases[c]) " " directions[d] ", stream codec", ours, best[job "/exports"],
                best[job "/libsndfile"], "", sprintf("1x exports: %s", best[job "/exports"] >= ours ? "met" : "missed"))
      }
    }
    for (c = 1; c <= 6; ++c) {
      job = "file/decode/" aliases[c]
      ours = best[job "/libkvox"]
      if (ours == "") continue
      line_of(alias_name(aliases[c]) " decode, kvox_open + kvox_read", ours, best[job "/exports"], "", "",
              sprintf("within 1.1x exports: %s", ours <= 1.1 * best[job "/exports"] ? "met" : "missed"))
    }
    while ((getline line < peers) > 0) {
      split(line, f, "\t")
      signal = f[3] == "pink" ? "pink noise" : "speech"
      row(name(f[1]) " " f[2] ", kvox, " signal, 1000 * f[4], "", 1000 * f[5], "sox", 3, 5)
    }
    print ""
    print "exports and libkvox: CPU time, best of " repetitions ", interleaved with their peers; kvox and sox: wall time, best of " runs "."
  }'
