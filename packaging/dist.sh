#!/bin/sh
# make dist: builds the release artefacts in trees of their own and writes them to OUTPUT_DIR with their
# SHA256SUMS: kestrovan-vox-VERSION-win32.zip (the win32 preset's .flt); libkvox1_, libkvox-dev_ and
# kvox_VERSION-1_ARCH.deb (a native build with Debian's hardening flags, installed under /usr);
# kvox-VERSION.html (the page, the web preset's kvox.html: the file `make web` makes in build/web); and
# kestrovan-vox-VERSION.tgz (the npm package, `npm pack` of the web preset's build/web/npm). Two runs from
# one commit give the same bytes,
# whatever the trees are called: times come from SOURCE_DATE_EPOCH (the commit's, unless set), and the
# compilers are told to write the source and build folders as ".".
# Usage: packaging/dist.sh BUILD_ROOT OUTPUT_DIR
set -eu
source=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$1" "$2"
build=$(cd "$1" && pwd)
output=$(cd "$2" && pwd)
if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
  SOURCE_DATE_EPOCH=$(git -C "$source" log -1 --format=%ct 2>/dev/null || stat -c %Y "$source/CHANGELOG.md")
fi
export SOURCE_DATE_EPOCH
jobs=${JOBS:-$(nproc)}
rm -f "$output"/kestrovan-vox-*-win32.zip "$output"/kvox_*.deb "$output"/libkvox*.deb "$output"/kvox-*.html \
  "$output"/kestrovan-vox-*.tgz "$output"/python3-kvox_*.deb "$output"/kvox-*.whl "$output/SHA256SUMS"

prefix_maps() { echo "-ffile-prefix-map=$source=. -ffile-prefix-map=$1=."; }

# The Windows download: the win32 preset's release build, in a tree of its own.
cmake --preset win32 -B "$build/win32" -DKVOX_DIST_DIR="$output" \
  -DCMAKE_C_FLAGS="$(prefix_maps "$build/win32")" -DCMAKE_CXX_FLAGS="$(prefix_maps "$build/win32")" >/dev/null
cmake --build "$build/win32" -j"$jobs" --target win32-zip

# The Debian packages: libkvox1, libkvox-dev and kvox, with the flags Debian builds packages with.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
native_flags() { echo "$(dpkg-buildflags --get CPPFLAGS) $(dpkg-buildflags --get "$1") $(prefix_maps "$build/native")"; }
# kvox is linked with its installed RUNPATH at once: a build tree's path would change its bytes.
cmake --preset native -B "$build/native" -DKVOX_DIST_DIR="$output" -DKVOX_BUILD_BENCH=OFF \
  -DCMAKE_INSTALL_PREFIX=/usr -DCMAKE_BUILD_WITH_INSTALL_RPATH=ON -DCMAKE_C_FLAGS="$(native_flags CFLAGS)" -DCMAKE_CXX_FLAGS="$(native_flags CXXFLAGS)" \
  -DCMAKE_EXE_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" \
  -DCMAKE_SHARED_LINKER_FLAGS="$(dpkg-buildflags --get LDFLAGS)" >/dev/null
cmake --build "$build/native" -j"$jobs" --target deb

# The page, one self-contained HTML file, and the npm package: the web preset's module (Debian's emscripten,
# in a tree of its own; its build fetches kissfft's source package there), the package packed as npm packs
# it. em++ finds its acorn module through NODE_PATH.
export NODE_PATH=/usr/share/nodejs
cmake --preset web -B "$build/web" -DCMAKE_C_FLAGS="$(prefix_maps "$build/web")" \
  -DCMAKE_CXX_FLAGS="-fwasm-exceptions $(prefix_maps "$build/web")" >/dev/null
cmake --build "$build/web" -j"$jobs" --target kvox_page kvox_npm
npm pack --silent --pack-destination "$output" "$build/web/npm" >/dev/null

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/native/CMakeCache.txt")
cp "$build/web/kvox.html" "$output/kvox-$version.html"
# The Python package on the libkvox just built: the wheel and python3-kvox.
"$source/packaging/make-python.sh" "$version" "$build/native" "$source" "$output" \
  "$(sed -n 's/^KVOX_PACKAGE_MAINTAINER:STRING=//p' "$build/native/CMakeCache.txt")"
cd "$output"
sha256sum "kestrovan-vox-$version-win32.zip" libkvox1_"$version"-1_*.deb libkvox-dev_"$version"-1_*.deb \
  kvox_"$version"-1_*.deb python3-kvox_"$version"-1_*.deb kvox-"$version"-*.whl "kvox-$version.html" \
  "kestrovan-vox-$version.tgz" >SHA256SUMS
echo "dist: $output"
cat SHA256SUMS
