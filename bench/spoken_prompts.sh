#!/bin/bash
# Raw-file detection through kvox on spoken prompts: 300 prompts of random IVR phrases spoken by espeak-ng,
# coded raw at 8000 Hz, 100 in each of A-law, mu-law and ADPCM. For each kvox given, and each set of 100, prints
# the CPU time of `kvox info --json` over the set (user + system, best of RUNS), the files claimed at 0.9 or
# more, and the claims at 0.9 or more that name the wrong coding.
#
#   bench/spoken_prompts.sh KVOX [KVOX ...]
#
# WORK (build/bench-prompts) keeps the corpus between runs; it is made with the first kvox, the same for a
# given SEED (20261208).
set -euo pipefail
[ $# -ge 1 ] || { echo "usage: $0 KVOX [KVOX ...]" >&2; exit 2; }
work=${WORK:-build/bench-prompts}
runs=${RUNS:-3}
formats=(alaw ulaw adpcm)  # as kvox encode names them
codings=(alaw mulaw adpcm)  # as kvox info names them

if [ ! -f "$work/done" ]; then
  mkdir -p "$work/spoken" "$work/raw"
  RANDOM=${SEED:-20261208}
  words=(please enter your account number followed by the pound key thank you for calling our office hours are
    monday through friday press one for sales two for support to repeat this menu press star the number you
    have dialled is not in service your call is important to us all of our agents are busy please hold)
  for i in $(seq 0 299); do
    text=""
    for _ in $(seq $((2 + RANDOM % 10))); do text="$text ${words[RANDOM % ${#words[@]}]}"; done
    espeak-ng -s $((140 + RANDOM % 60)) -p $((30 + RANDOM % 40)) -w "$work/spoken/p$i.wav" "$text"
    "$1" encode "$work/spoken/p$i.wav" "$work/raw/p$i.vox" --format "${formats[i % 3]}" --no-header >/dev/null
  done
  touch "$work/done"
fi

printf 'kvox\tcoding\tcpu_s\tclaimed\twrong\n'
for kvox in "$@"; do
  for c in 0 1 2; do
    files=()
    for i in $(seq $c 3 299); do files+=("$work/raw/p$i.vox"); done
    best=""
    for _ in $(seq "$runs"); do
      cpu=$({ /usr/bin/time -f '%U %S' "$kvox" info --json "${files[@]}" >"$work/info.json"; } 2>&1 | tail -1 |
        awk '{print $1 + $2}')
      best=$(awk -v a="$cpu" -v b="${best:-$cpu}" 'BEGIN {print (a < b ? a : b)}')
    done
    counts=$(python3 -c '
import json, sys
claimed = wrong = 0
for entry in json.load(open(sys.argv[1])):
    found = entry.get("detected") or {}
    if (found.get("confidence") or 0) >= 0.9:
        claimed += 1
        wrong += found.get("coding") != sys.argv[2]
print(f"{claimed}\t{wrong}")' "$work/info.json" "${codings[c]}")
    printf '%s\t%s\t%s\t%s\n' "$kvox" "${codings[c]}" "$best" "$counts"
  done
done
