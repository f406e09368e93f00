#!/bin/sh
# Builds the Python package of a native tree that make-deb.sh has packaged: the wheel
# kvox-VERSION-cp311-cp311-linux_x86_64.whl (Debian's python3-build, no isolation: nothing is fetched) and
# python3-kvox_VERSION-1_ARCH.deb, which holds the wheel's files under /usr/lib/python3/dist-packages and
# depends on libkvox1 (through its symbols file), python3-numpy and the libraries the extension needs. The
# extension is compiled with Debian's hardening flags and the build folders mapped to ".", and every time
# is SOURCE_DATE_EPOCH, so the same inputs give the same bytes.
# Usage: packaging/make-python.sh VERSION BUILD_DIR SOURCE_DIR OUTPUT_DIR MAINTAINER
set -eu
version=$1 maintainer=$5
mkdir -p "$4"
build=$(cd "$2" && pwd) source=$(cd "$3" && pwd) output=$(cd "$4" && pwd)
: "${SOURCE_DATE_EPOCH:=$(git -C "$source" log -1 --format=%ct)}"
export SOURCE_DATE_EPOCH
umask 022
python=/usr/bin/python3
package=python3-kvox
full_version=$version-1
arch=$(dpkg --print-architecture)
work=$build/python-dist
rm -rf "$work"
mkdir -p "$work"

# The wheel, from a copy of python/ so that the source tree gets no build folders; its extension is
# stripped (-s), as wheels are shipped.
cp -R "$source/python" "$work/src"
rm -rf "$work/src/build" "$work/src"/*.egg-info
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
maps="-ffile-prefix-map=$work/src=. -ffile-prefix-map=$source=."
(
  cd "$work/src"
  CFLAGS="$(dpkg-buildflags --get CXXFLAGS) $maps" CPPFLAGS="$(dpkg-buildflags --get CPPFLAGS)" \
    LDFLAGS="$(dpkg-buildflags --get LDFLAGS) -s" KVOX_VERSION=$version KVOX_INCLUDE_DIR="$source/libkvox" \
    KVOX_LIBRARY_DIR="$build/libkvox" \
    $python -m build --wheel --no-isolation --outdir "$work/wheel" . >"$work/build.log" 2>&1 ||
    { cat "$work/build.log" >&2; exit 1; }
)
tag=$($python -c 'import sys; print(f"cp{sys.version_info[0]}{sys.version_info[1]}")')
wheel=kvox-$version-$tag-$tag-linux_$(uname -m).whl
[ -f "$work/wheel/$wheel" ] || { echo "make-python: no $wheel in $work/wheel" >&2; exit 1; }
cp "$work/wheel/$wheel" "$output/$wheel"
echo "make-python: $output/$wheel"

# The Debian package: the wheel's files where Debian's Python finds them, without pip's RECORD (dpkg owns
# the files, and stripping changes their hashes).
root=$work/debian/$package
site=$root/usr/lib/python3/dist-packages
mkdir -p "$site" "$root/DEBIAN"
(cd "$site" && unzip -q "$work/wheel/$wheel")
rm -f "$site"/kvox-"$version".dist-info/RECORD
printf 'debian\n' >"$site/kvox-$version.dist-info/INSTALLER"
extension=$(cd "$root" && find usr -name '_kvox.*.so')
strip --remove-section=.comment --remove-section=.note --strip-unneeded "$root/$extension"
find "$root/usr" -type f -exec chmod 0644 {} +

doc=$root/usr/share/doc/$package
mkdir -p "$doc"
cp "$source/python/copyright" "$doc/copyright"
gzip -9n -c "$source/CHANGELOG.md" >"$doc/changelog.gz"
mkdir -p "$work/debian"
cat >"$work/debian/changelog" <<CHANGELOG
kestrovan-vox ($full_version) unstable; urgency=medium

  * Release $version; its changes are listed in changelog.gz.

 -- $maintainer  $(LC_ALL=C date -u -R -d "@$SOURCE_DATE_EPOCH")
CHANGELOG
gzip -9n -c "$work/debian/changelog" >"$doc/changelog.Debian.gz"

# Byte-compiled on the machine it is installed on and cleaned before removal, as Debian's Python packages do.
cat >"$root/DEBIAN/postinst" <<'SCRIPT'
#!/bin/sh
set -e
if command -v py3compile >/dev/null 2>&1; then
	py3compile -p python3-kvox
fi
SCRIPT
cat >"$root/DEBIAN/prerm" <<'SCRIPT'
#!/bin/sh
set -e
if command -v py3clean >/dev/null 2>&1; then
	py3clean -p python3-kvox
fi
SCRIPT
chmod 0755 "$root/DEBIAN/postinst" "$root/DEBIAN/prerm"

python_version=$($python -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1]}")')
next_version=$($python -c 'import sys; print(f"{sys.version_info[0]}.{sys.version_info[1] + 1}")')
sed "s/^Maintainer: MAINTAINER$/Maintainer: $maintainer/" >"$work/debian/control" <<CONTROL
Source: kestrovan-vox
Section: python
Priority: optional
Maintainer: MAINTAINER
Rules-Requires-Root: no

Package: $package
Architecture: any
Depends: \${shlibs:Depends}, \${misc:Depends}, python3 (>= $python_version~), python3 (<< $next_version), python3-numpy
Suggests: python3-distributed
Description: Python module for Kestrovan VOX telephony voice files
 The module kvox reads and writes Kestrovan VOX files (G.711 A-law and
 mu-law at 64 and 48 kbit/s, 4-bit ADPCM at 32 and 24 kbit/s, tagged or raw)
 as numpy arrays, through libkvox, with the code of the file-format plug-in
 a Windows audio editor loads: the same samples and bytes as the kvox tool.
 It tells a raw file's coding from its content, codes streams in chunks,
 converts files to and from other audio types, and converts whole archives
 on a Dask cluster (with python3-distributed).
CONTROL

(
  cd "$work"
  # libkvox1's symbols file (from make-deb.sh) gives the dependency on it, with the version its exports need.
  mkdir -p debian/libkvox1/DEBIAN
  cp "$build/deb/debian/libkvox1/DEBIAN/symbols" debian/libkvox1/DEBIAN/symbols
  libdir=$(cd "$build/deb/debian/libkvox1" && dirname "$(find usr/lib -name libkvox.so.1)")
  dpkg-shlibdeps -Tdebian/$package.substvars -l"$build/deb/debian/libkvox1/$libdir" "debian/$package/$extension"
  dpkg-gencontrol -p$package -Pdebian/$package -Tdebian/$package.substvars
)

(cd "$root" && find usr -type f | LC_ALL=C sort | xargs md5sum >DEBIAN/md5sums)
find "$root" -exec touch -h -d "@$SOURCE_DATE_EPOCH" {} +
deb=$output/${package}_${full_version}_$arch.deb
dpkg-deb --root-owner-group -Zxz --build "$root" "$deb" >/dev/null
echo "make-python: $deb"
