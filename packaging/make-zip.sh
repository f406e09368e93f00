#!/bin/sh
# Builds kestrovan-vox-VERSION-win32.zip for editor users: the .flt, README.txt, LICENSE.txt and
# THIRD-PARTY-NOTICES.txt in one folder, text files with CRLF line ends. The same inputs always give the
# same bytes: fixed order, modes and times (SOURCE_DATE_EPOCH, else the last commit), no extra fields.
# Usage: packaging/make-zip.sh VERSION FLT README SOURCE_DIR WORK_DIR OUTPUT_DIR
set -eu
version=$1 flt=$2 readme=$3 source=$4 work=$5 output=$6
: "${SOURCE_DATE_EPOCH:=$(git -C "$source" log -1 --format=%ct)}"

name=kestrovan-vox-$version-win32
folder=$work/$name
rm -rf "$work"
mkdir -p "$folder" "$output"

crlf() { sed 's/\r*$/\r/'; }
cp "$flt" "$folder/kestrovan_vox.flt"
crlf <"$readme" >"$folder/README.txt"
crlf <"$source/LICENSE" >"$folder/LICENSE.txt"
"$source/packaging/third-party-notices.sh" "$version" | crlf >"$folder/THIRD-PARTY-NOTICES.txt"

files="kestrovan_vox.flt README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt"
for file in $files; do
  chmod 0644 "$folder/$file"
  touch -d "@$SOURCE_DATE_EPOCH" "$folder/$file"
done
rm -f "$output/$name.zip"
# Zip keeps local time: UTC makes the times the same wherever it runs.
(cd "$work" && TZ=UTC zip -q -X -D -9 "$output/$name.zip" $(for file in $files; do echo "$name/$file"; done))
echo "make-zip: $output/$name.zip"
