#!/bin/sh
# Builds the Debian packages of a configured and built native tree: libkvox1 (the shared library, with its
# symbols file), libkvox-dev (header, pkg-config file, CMake package, man page of the library) and kvox (the
# program, depending on libkvox1). Each holds its part of what `cmake --install` puts under /usr, stripped
# as Debian's helpers strip, man pages compressed, the copyright file and the changelogs; Depends come from
# the libraries the binaries really need (dpkg-shlibdeps, with libkvox1's symbols file). The same inputs
# always give the same bytes: sorted entries owned by root, every time SOURCE_DATE_EPOCH (else the last
# commit's).
# Usage: packaging/make-deb.sh VERSION BUILD_DIR SOURCE_DIR OUTPUT_DIR MAINTAINER
set -eu
version=$1 build=$2 source=$3 output=$4 maintainer=$5
: "${SOURCE_DATE_EPOCH:=$(git -C "$source" log -1 --format=%ct)}"
export SOURCE_DATE_EPOCH
umask 022

full_version=$version-1
arch=$(dpkg --print-architecture)
work=$build/deb
staging=$work/staging
rm -rf "$work"
mkdir -p "$staging" "$output"
DESTDIR=$staging cmake --install "$build" >/dev/null
library=$(cd "$staging" && find usr/lib -name "libkvox.so.$version")
[ -n "$library" ] || { echo "make-deb: libkvox was not installed" >&2; exit 1; }
libdir=${library%/*}

# Moves the staged paths given (files or folders) into a package's root.
take() {
  package=$1
  shift
  for path in "$@"; do
    [ -e "$staging/$path" ] || [ -L "$staging/$path" ] || { echo "make-deb: $path was not installed" >&2; exit 1; }
    mkdir -p "$work/debian/$package/${path%/*}"
    mv "$staging/$path" "$work/debian/$package/$path"
  done
}
take libkvox1 "$libdir/libkvox.so.1" "$library"
take libkvox-dev usr/include/kvox.h "$libdir/libkvox.so" "$libdir/pkgconfig" "$libdir/cmake"
[ -d "$staging/usr/share/man/man3" ] && take libkvox-dev usr/share/man/man3
take kvox usr/bin/kvox usr/share/man/man1 usr/share/bash-completion
left=$(cd "$staging" && find . -type f -o -type l)
[ -z "$left" ] || { echo "make-deb: installed but in no package: $left" >&2; exit 1; }

strip --remove-section=.comment --remove-section=.note --strip-unneeded "$work/debian/libkvox1/$library"
strip --remove-section=.comment --remove-section=.note "$work/debian/kvox/usr/bin/kvox"
find "$work/debian" -path '*/share/man/*' -type f -exec gzip -9n {} +

cat >"$work/debian/changelog" <<CHANGELOG
kestrovan-vox ($full_version) unstable; urgency=medium

  * Release $version; its changes are listed in changelog.gz.

 -- $maintainer  $(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")
CHANGELOG
for package in libkvox1 libkvox-dev kvox; do
  doc=$work/debian/$package/usr/share/doc/$package
  mkdir -p "$doc"
  cp "$source/packaging/copyright" "$doc/copyright"
  gzip -9n -c "$source/CHANGELOG.md" >"$doc/changelog.gz"
  gzip -9n -c "$work/debian/changelog" >"$doc/changelog.Debian.gz"
done

sed "s/^Maintainer: MAINTAINER$/Maintainer: $maintainer/" >"$work/debian/control" <<'CONTROL'
Source: kestrovan-vox
Section: sound
Priority: optional
Maintainer: MAINTAINER
Rules-Requires-Root: no

Package: libkvox1
Section: libs
Architecture: any
Multi-Arch: same
Depends: ${shlibs:Depends}
Description: library for Kestrovan VOX telephony voice files
 libkvox reads and writes Kestrovan VOX files (G.711 A-law and mu-law at
 64 and 48 kbit/s, 4-bit ADPCM with DC tracking at 32 and 24 kbit/s,
 tagged or raw) with the code of the file-format plug-in a Windows audio
 editor loads, so programs get exactly the editor's bytes. It codes and
 decodes streams on memory, and tells a raw file's coding from its content.

Package: libkvox-dev
Section: libdevel
Architecture: any
Multi-Arch: same
Depends: libkvox1 (= ${binary:Version})
Description: library for Kestrovan VOX telephony voice files (development files)
 libkvox reads and writes Kestrovan VOX files (G.711 and 4-bit ADPCM,
 tagged or raw), codes and decodes streams on memory, and tells a raw
 file's coding from its content.
 .
 This package holds the C header kvox.h, the pkg-config file kvox.pc, the
 CMake package kvox (target kvox::kvox) and the manual page kvox(3).

Package: kvox
Architecture: any
Depends: ${shlibs:Depends}
Description: command-line tool for Kestrovan VOX telephony voice files
 kvox inspects, decodes, encodes and batch-converts Kestrovan VOX files
 (G.711 A-law and mu-law at 64 and 48 kbit/s, 4-bit ADPCM at 32 and
 24 kbit/s, tagged or raw) through libkvox, which handles them with the
 code of the file-format plug-in that a Windows audio editor loads, so
 scripts on a server get exactly what the editor gets. Other audio files
 are read and written with libsndfile, rates converted with libsoxr.
 .
 A raw file does not say how it is coded: kvox tells the coding from the
 content, and the rate from telephone tones, when these settle it.
CONTROL

(
  cd "$work"
  # The symbols file names every export with the version that brought it; -c4 fails on any difference.
  mkdir -p debian/libkvox1/DEBIAN debian/libkvox-dev/DEBIAN debian/kvox/DEBIAN
  dpkg-gensymbols -plibkvox1 -Pdebian/libkvox1 -I"$source/packaging/libkvox1.symbols" -v"$full_version" -c4 \
    -e"debian/libkvox1/$library" >/dev/null
  echo "libkvox 1 libkvox1 (>= $version)" >debian/libkvox1/DEBIAN/shlibs
  echo "activate-noawait ldconfig" >debian/libkvox1/DEBIAN/triggers
  dpkg-shlibdeps -Tdebian/libkvox1.substvars "debian/libkvox1/$library"
  dpkg-shlibdeps -Tdebian/kvox.substvars -l"debian/libkvox1/$libdir" debian/kvox/usr/bin/kvox
  touch debian/libkvox-dev.substvars
  for package in libkvox1 libkvox-dev kvox; do
    dpkg-gencontrol -p$package -Pdebian/$package -Tdebian/$package.substvars
  done
)

for package in libkvox1 libkvox-dev kvox; do
  root=$work/debian/$package
  (cd "$root" && find usr -type f | LC_ALL=C sort | xargs md5sum >DEBIAN/md5sums)
  find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
  deb=$output/${package}_${full_version}_$arch.deb
  dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
  echo "make-deb: $deb"
done
