#!/bin/sh
# Installs what a fresh Debian 12 machine lacks for building and testing, as root. Idempotent: when
# everything is present it changes nothing and asks no network.
set -eu
cd "$(dirname "$0")/.."

packages="cmake make g++ pkg-config git
  g++-mingw-w64-i686 binutils-mingw-w64-i686 wine wine32:i386 fonts-wine
  googletest libgtest-dev libbenchmark-dev
  libsndfile1-dev libsoxr-dev libcli11-dev libkissfft-dev
  clang libclang-rt-14-dev valgrind sox espeak-ng
  emscripten dpkg-dev chromium"
# The page's tests run on Node and npm; a machine that has them from elsewhere keeps its own.
command -v node >/dev/null 2>&1 || packages="$packages nodejs"
command -v npm >/dev/null 2>&1 || packages="$packages npm"
# make dist and its checks: Debian's package tools, lintian, zip.
packages="$packages lintian zip unzip"
# The Python package (python/): built against Debian's Python, numpy and pybind11 with Debian's build
# front end (PyPI is not reached), tested with pytest (its stubs with mypy), on Dask's distributed and beside
# python-soundfile.
packages="$packages python3-dev python3-numpy pybind11-dev python3-pybind11 python3-pytest python3-build
  python3-setuptools python3-wheel python3-venv python3-pip python3-distributed python3-soundfile python3-mypy"

missing=""
for package in $packages; do
  status=$(dpkg-query -W -f='${db:Status-Status}' "$package" 2>/dev/null || true)
  [ "$status" = "installed" ] || missing="$missing $package"
done

# The page compiles kissfft from Debian's source package (make web fetches it), which needs deb-src entries.
need_sources=no
apt-cache showsrc kissfft 2>/dev/null | grep -q '^Package: kissfft' || need_sources=yes

if [ -n "$missing" ] || [ "$need_sources" = yes ]; then
  if [ "$(id -u)" -ne 0 ]; then
    echo "install-deps: missing packages:$missing; deb-src entries needed: $need_sources (run as root)" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  if [ "$need_sources" = yes ]; then
    echo "install-deps: adding deb-src entries beside the deb ones"
    if [ -f /etc/apt/sources.list.d/debian.sources ]; then
      sed 's/^Types:.*/Types: deb-src/' /etc/apt/sources.list.d/debian.sources >/etc/apt/sources.list.d/kvox-deb-src.sources
    else
      grep -h '^deb ' /etc/apt/sources.list /etc/apt/sources.list.d/*.list 2>/dev/null | grep -i debian |
        sed 's/^deb /deb-src /' >/etc/apt/sources.list.d/kvox-deb-src.list
    fi
  fi
  if [ -n "$missing" ]; then
    echo "install-deps: installing$missing"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
      dpkg --add-architecture i386
    fi
  fi
  # A mirror caught mid-sync fails one index for a minute or so; the install below still finds packages in
  # the indexes that did arrive, and says so plainly if one is missing.
  indexes_complete=yes
  for attempt in 1 2 3; do
    apt-get -o DPkg::Lock::Timeout=900 update -qq && break
    if [ "$attempt" = 3 ]; then
      indexes_complete=no
      echo "install-deps: apt-get update failed three times; going on with the indexes it has" >&2
    else sleep 20; fi
  done
  if [ -n "$missing" ]; then
    install="apt-get -o DPkg::Lock::Timeout=900 install -y -qq"
    if ! $install $missing >/dev/null; then
      # Wine's 32-bit libraries must match their 64-bit twins version for version. When one architecture's
      # security index is missing, the 64-bit side's candidates are security versions the 32-bit side cannot
      # follow; the point release's versions are in every architecture's index, so take those.
      codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
      [ "$indexes_complete" = no ] && [ -n "$codename" ] || exit 1
      echo "install-deps: trying again with the versions of $codename's point release, which every architecture's index has" >&2
      $install -t "$codename" $missing >/dev/null
    fi
  fi
fi

# puppeteer-core for the page's tests, and the JavaScript G.711 package the npm package's benchmark runs
# beside it, exactly as the committed lock files name them.
for folder in tests/web bench/node; do
  if ! cmp -s "$folder/package-lock.json" "$folder/node_modules/.kvox-installed-lock"; then
    echo "install-deps: npm ci in $folder"
    (cd "$folder" && npm ci --no-audit --no-fund --loglevel=error && cp package-lock.json node_modules/.kvox-installed-lock)
  fi
done
