#!/bin/sh
# Builds kvox_VERSION-1_ARCH.deb from a configured and built native tree: what `cmake --install` puts under
# /usr, stripped as Debian's helpers strip, the man page compressed, the copyright file and the changelogs;
# Depends from the libraries the binaries really need (dpkg-shlibdeps). The same inputs always give the same
# bytes: sorted entries owned by root, every time SOURCE_DATE_EPOCH (else the last commit's).
# Usage: packaging/make-deb.sh VERSION BUILD_DIR SOURCE_DIR OUTPUT_DIR MAINTAINER
set -eu
version=$1 build=$2 source=$3 output=$4 maintainer=$5
: "${SOURCE_DATE_EPOCH:=$(git -C "$source" log -1 --format=%ct)}"
export SOURCE_DATE_EPOCH
umask 022

package=kvox
full_version=$version-1
work=$build/deb
root=$work/debian/$package
rm -rf "$work"
mkdir -p "$root/DEBIAN" "$output"

DESTDIR=$root cmake --install "$build" >/dev/null
library=$(cd "$root" && find usr/lib -name libkestrovan_vox.so)
[ -n "$library" ] || { echo "make-deb: the plug-in library was not installed" >&2; exit 1; }
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$root/$library"
strip --remove-section=.comment --remove-section=.note "$root/usr/bin/kvox"
gzip -9n "$root/usr/share/man/man1/kvox.1"

doc=$root/usr/share/doc/$package
mkdir -p "$doc"
cp "$source/packaging/copyright" "$doc/copyright"
gzip -9n -c "$source/CHANGELOG.md" >"$doc/changelog.gz"
cat >"$work/debian/changelog" <<CHANGELOG
kestrovan-vox ($full_version) unstable; urgency=medium

  * Release $version; its changes are listed in changelog.gz.

 -- $maintainer  $(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")
CHANGELOG
gzip -9n -c "$work/debian/changelog" >"$doc/changelog.Debian.gz"

cat >"$work/debian/control" <<'CONTROL'
Source: kestrovan-vox
Section: sound
Priority: optional
Maintainer: MAINTAINER
Rules-Requires-Root: no

Package: kvox
Architecture: any
Depends: ${shlibs:Depends}
Description: command-line tool for Kestrovan VOX telephony voice files
 kvox inspects, decodes, encodes and batch-converts Kestrovan VOX files
 (G.711 A-law and mu-law at 64 and 48 kbit/s, 4-bit ADPCM at 32 and
 24 kbit/s, tagged or raw). It handles them only through the file-format
 plug-in that a Windows audio editor loads, built here as a Linux library,
 so scripts on a server get exactly what the editor gets. Other audio
 files are read and written with libsndfile, rates converted with libsoxr.
 .
 A raw file does not say how it is coded: kvox tells the coding from the
 content, and the rate from telephone tones, when these settle it.
CONTROL
sed -i "s/^Maintainer: MAINTAINER$/Maintainer: $maintainer/" "$work/debian/control"

(
  cd "$work"
  dpkg-shlibdeps -Tdebian/$package.substvars "debian/$package/usr/bin/kvox" "debian/$package/$library"
  dpkg-gencontrol -p$package -Pdebian/$package -Tdebian/$package.substvars
)

(cd "$root" && find usr -type f | LC_ALL=C sort | xargs md5sum >DEBIAN/md5sums)
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
deb=$output/${package}_${full_version}_$(dpkg --print-architecture).deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "make-deb: $deb"
