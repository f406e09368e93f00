#!/bin/sh
# Installs what a fresh Debian 12 machine lacks for building and testing, as root. Idempotent: when
# everything is present it changes nothing and asks no network.
set -eu

packages="cmake make g++ pkg-config git
  g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 fonts-wine
  googletest libgtest-dev libbenchmark-dev
  libsndfile1-dev libsoxr-dev libcli11-dev libkissfft-dev
  clang libclang-rt-14-dev valgrind sox espeak-ng"

missing=""
for package in $packages; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing="$missing $package"
done
[ -z "$missing" ] && exit 0

if [ "$(id -u)" -ne 0 ]; then
  echo "install-deps: missing packages:$missing (run as root to install them)" >&2
  exit 1
fi
echo "install-deps: installing$missing"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
apt-get update -qq
apt-get install -y -qq $missing >/dev/null
