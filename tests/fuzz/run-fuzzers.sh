#!/bin/sh
# Runs libFuzzer targets one after another, each for a given time, on a working corpus kept in the build
# tree, then minimises the working corpus together with the committed one and puts the result back in
# tests/fuzz/corpus/<target>. A finding stops the run; its input is left in <build>/artifacts.
#
#   tests/fuzz/run-fuzzers.sh BUILD_DIR SECONDS TARGET...
set -eu
build=$1
seconds=$2
shift 2
source_dir=$(cd "$(dirname "$0")" && pwd)
mkdir -p "$build/fuzz-work" "$build/artifacts"
# A smaller quarantine keeps two fuzzers side by side within a few hundred MB each.
export ASAN_OPTIONS="${ASAN_OPTIONS:-quarantine_size_mb=64:detect_leaks=1}"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:-print_stacktrace=1}"

for target in "$@"; do
  fuzzer=$build/tests/fuzz/${target}_fuzzer
  corpus=$source_dir/corpus/$target
  work=$build/fuzz-work/$target
  mkdir -p "$work" "$corpus"
  # Reading needs files longer than one block; the other inputs are small.
  case $target in
    reading) max_len=24576 ;;
    writing) max_len=8192 ;;
    *) max_len=1024 ;;
  esac
  echo "== $target: $seconds s"
  "$fuzzer" -max_total_time="$seconds" -max_len="$max_len" -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$build/artifacts/$target-" "$work" "$corpus" 2>"$build/fuzz-$target.log" || {
    tail -n 40 "$build/fuzz-$target.log"
    echo "$target: finding saved in $build/artifacts" >&2
    exit 1
  }
  grep -E '^#[0-9]+[[:space:]]+DONE|stat::(number_of_executed_units|average_exec_per_sec|new_units_added)' \
    "$build/fuzz-$target.log" || true

  # Minimise on edge coverage alone, so the committed corpus stays at tens of files. The hand-made seeds
  # (seed_*) and the inputs of past findings (regression_*) are always kept.
  minimised=$build/fuzz-work/$target.minimised
  rm -rf "$minimised" && mkdir -p "$minimised"
  for kept in "$corpus"/seed_* "$corpus"/regression_*; do
    if [ -f "$kept" ]; then cp "$kept" "$minimised"/; fi
  done
  "$fuzzer" -merge=1 -use_counters=0 -max_len="$max_len" "$minimised" "$corpus" "$work" \
    2>"$build/fuzz-$target-merge.log"
  rm -f "$corpus"/*
  cp "$minimised"/* "$corpus"/
  echo "$target: committed corpus now $(ls "$corpus" | wc -l) files, $(cat "$corpus"/* | wc -c) bytes"
done
