#!/bin/sh
# Unpacks Debian's kissfft source package into DEST, once: the version of the installed libkissfft-dev, so
# the page's FFT is built from the very sources of the native one. Needs deb-src entries (install-deps.sh
# adds them) and dpkg-dev.
set -eu
dest=$1
[ -f "$dest/kiss_fftr.c" ] && exit 0
version=$(dpkg-query -W -f='${source:Version}' libkissfft-dev 2>/dev/null || true)
mkdir -p "$(dirname "$dest")"
work=$(mktemp -d "$dest.fetch-XXXXXX")
trap 'rm -rf "$work"' EXIT
if ! (cd "$work" && apt-get source -qq "kissfft${version:+=$version}" >"$work/log" 2>&1); then
  cat "$work/log" >&2
  exit 1
fi
rm -rf "$dest"
mv "$work"/kissfft-*/ "$dest"
