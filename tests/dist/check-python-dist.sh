#!/bin/bash
# Checks the Python artefacts `make dist` wrote: what the wheel and python3-kvox hold, their versions and
# Depends, that lintian finds no error in the package, that a second build gave the same bytes, and that
# both run: the package unpacked beside an unpacked libkvox1, the wheel installed with pip --no-deps into
# a fresh venv that sees Debian's numpy.
# Usage: tests/dist/check-python-dist.sh DIST_DIR SECOND_DIST_DIR
set -u
dist=$(cd "$1" && pwd) again=$(cd "$2" && pwd)
arch=$(dpkg --print-architecture)
deb=$(cd "$dist" && ls python3-kvox_*-1_"$arch".deb)
version=${deb#python3-kvox_}
version=${version%-1_"$arch".deb}
wheel=kvox-$version-cp311-cp311-linux_x86_64.whl
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
dpkg-deb -x "$dist/$deb" "$scratch/root"
dpkg-deb -x "$dist/libkvox1_$version-1_$arch.deb" "$scratch/root"
libdir=$(dirname "$(find "$scratch/root/usr/lib" -name libkvox.so.1)")

fail() {
  echo "$*"
  exit 1
}

# A short job with the module: write, read back, the versions.
smoke='import kvox, numpy, sys
kvox.write("a.vox", numpy.arange(-900, 900, dtype=numpy.int16), "adpcm")
data, rate = kvox.read("a.vox")
assert rate == 8000 and len(data) == 1800
assert kvox.__version__ == kvox.library_version() == sys.argv[1], (kvox.__version__, kvox.library_version())
print(kvox.__file__)'

wheel_holds_the_package() {
  local listed
  [ -f "$dist/$wheel" ] || fail "no $wheel"
  listed=$(unzip -Z1 "$dist/$wheel" | sort)
  for name in kvox/__init__.py kvox/__init__.pyi kvox/_errors.py kvox/dask.py kvox/dask.pyi kvox/py.typed \
    kvox/_kvox.cpython-311-x86_64-linux-gnu.so "kvox-$version.dist-info/METADATA"; do
    grep -qxF "$name" <<<"$listed" || fail "wheel lacks $name"
  done
  unzip -p "$dist/$wheel" "kvox-$version.dist-info/METADATA" | grep -qx "Version: $version" || fail "wheel version"
}

deb_holds_the_module_and_real_depends() {
  local depends site=$scratch/root/usr/lib/python3/dist-packages
  [ -f "$site/kvox/_kvox.cpython-311-x86_64-linux-gnu.so" ] && [ -f "$site/kvox/py.typed" ] || fail "module missing"
  [ -f "$scratch/root/usr/share/doc/python3-kvox/copyright" ] || fail "no copyright file"
  grep -q pybind11 "$scratch/root/usr/share/doc/python3-kvox/copyright" || fail "copyright omits pybind11"
  depends=$(dpkg-deb -f "$dist/$deb" Depends)
  for package in libkvox1 python3-numpy libsndfile1 "python3 (>= 3.11~)" "python3 (<< 3.12)"; do
    [[ ", $depends" == *", $package"* ]] || fail "Depends lacks $package: $depends"
  done
  [ "$(dpkg-deb -f "$dist/$deb" Version)" = "$version-1" ] || fail "Version field"
}

unpacked_deb_runs() {
  cd "$scratch" || fail "no scratch"
  env -i PATH=/usr/bin:/bin PYTHONPATH="$scratch/root/usr/lib/python3/dist-packages" LD_LIBRARY_PATH="$libdir" \
    /usr/bin/python3 -c "$smoke" "$version" | grep -q "^$scratch/root/" || fail "module not taken from the package"
}

wheel_installs_into_a_fresh_venv() {
  cd "$scratch" || fail "no scratch"
  /usr/bin/python3 -m venv --system-site-packages venv || fail "venv"
  venv/bin/pip install -q --no-deps --no-index "$dist/$wheel" || fail "pip install"
  env -i PATH=/usr/bin:/bin LD_LIBRARY_PATH="$libdir" venv/bin/python -c "$smoke" "$version" |
    grep -q "^$scratch/venv/" || fail "module not taken from the venv"
}

lintian_reports_no_errors() {
  local findings status=0
  findings=$(lintian --fail-on error "$dist/$deb" 2>&1) || status=$?
  grep -v 'root privileges' <<<"$findings"
  return $status
}

artefacts_are_reproducible() {
  for name in "$wheel" "$deb"; do
    cmp "$dist/$name" "$again/$name" || fail "$name differs between two builds"
  done
  grep -qF "  $wheel" "$dist/SHA256SUMS" && grep -qF "  $deb" "$dist/SHA256SUMS" || fail "not in SHA256SUMS"
}

passed=0 failed=0
for check in wheel_holds_the_package deb_holds_the_module_and_real_depends unpacked_deb_runs \
  wheel_installs_into_a_fresh_venv lintian_reports_no_errors artefacts_are_reproducible; do
  if output=$( ($check) 2>&1); then
    passed=$((passed + 1))
    echo "ok: $check"
  else
    failed=$((failed + 1))
    echo "FAILED: $check"
  fi
  [ -n "$output" ] && sed 's/^/  /' <<<"$output"
done
echo "python dist: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
