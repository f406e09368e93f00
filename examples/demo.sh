#!/bin/bash
# The kvox demo: codes examples/speech.wav in all six VOX codings and decodes each back, then prints a
# table of coding, file size, bit rate and signal-to-noise ratio against the source at the coding's rate.
# Usage: examples/demo.sh KVOX OUTPUT_FOLDER
set -euo pipefail

kvox=${1:?usage: demo.sh KVOX OUTPUT_FOLDER}
out=${2:?usage: demo.sh KVOX OUTPUT_FOLDER}
source_wav="$(dirname "$0")/speech.wav"
mkdir -p "$out"

# RMS amplitude of a WAV file, or of the difference of two (sox mixes them with opposite signs).
rms() { sox "$@" -n stat 2>&1 | awk '/^RMS +amplitude/ { print $3 }'; }

printf '%-5s %-8s %-22s %8s %8s %8s\n' TAG ALIAS "DISPLAY NAME" BYTES KBIT/S SNR_DB
"$kvox" formats | tail -n +2 | while read -r tag alias rate _kbit name; do
  vox="$out/speech-$alias.vox"
  decoded="$out/speech-$alias.wav"
  reference="$out/reference-$rate.wav"
  "$kvox" encode "$source_wav" "$vox" --format "$alias"
  "$kvox" decode "$vox" "$decoded"
  # The source at the coding's rate, through the same kind of high-quality resampler kvox uses.
  [ -f "$reference" ] || sox "$source_wav" -r "$rate" "$reference"

  bytes=$(stat -c %s "$vox")
  seconds=$("$kvox" info --json "$vox" | sed -n 's/.*"duration_s": \([0-9.]*\).*/\1/p')
  signal=$(rms "$reference")
  noise=$(rms -m -v 1 "$reference" -v -1 "$decoded")
  awk -v tag="$tag" -v alias="$alias" -v name="$name" -v bytes="$bytes" -v seconds="$seconds" \
      -v signal="$signal" -v noise="$noise" 'BEGIN {
        # The four tag bytes carry no audio.
        kbit = (bytes - 4) * 8 / seconds / 1000
        snr = noise > 0 ? 20 * log(signal / noise) / log(10) : 999
        printf "%-5s %-8s %-22s %8d %8.1f %8.1f\n", tag, alias, name, bytes, kbit, snr
      }'
done
echo
echo "Source: $source_wav ($(soxi -D "$source_wav") s, $(soxi -r "$source_wav") Hz)."
echo "Files for listening are in $out: speech-ALIAS.vox (coded), speech-ALIAS.wav (decoded back),"
echo "reference-RATE.wav (the source at each coding's rate)."
