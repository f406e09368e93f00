#!/bin/bash
# Checks the release artefacts `make dist` wrote: what the zip, the .debs and the npm tarball hold, that the
# page is there as one self-contained file, that every version agrees with CMake's, that kvox unpacked from
# the .debs (not installed) runs and decodes, that programs build against the unpacked libkvox-dev with
# pkg-config and with CMake, that the npm tarball installs into an empty folder and its README's example runs
# there, that lintian finds no error, and that a second build in other trees gave the same bytes.
# Usage: tests/dist/check-dist.sh DIST_DIR SECOND_DIST_DIR BUILD_ROOT
set -u
source=$(cd "$(dirname "$0")/../.." && pwd)
dist=$1 again=$2 build=$3
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/native/CMakeCache.txt")
epoch=${SOURCE_DATE_EPOCH:-$(git -C "$source" log -1 --format=%ct)}
zip=kestrovan-vox-$version-win32.zip
deb=kvox_$version-1_$(dpkg --print-architecture).deb
library_deb=libkvox1_$version-1_$(dpkg --print-architecture).deb
dev_deb=libkvox-dev_$version-1_$(dpkg --print-architecture).deb
debs="$deb $library_deb $dev_deb"
page=kvox-$version.html
tgz=kestrovan-vox-$version.tgz
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
unzip -q "$dist/$zip" -d "$scratch/zip"
for package in $debs; do dpkg-deb -x "$dist/$package" "$scratch/root"; done
flt=$scratch/zip/${zip%.zip}/kestrovan_vox.flt
kvox=$scratch/root/usr/bin/kvox
library=$(find "$scratch/root/usr/lib" -name libkvox.so.1)
multiarch=$(dpkg-architecture -qDEB_HOST_MULTIARCH)
man_page=$(zcat "$scratch/root/usr/share/man/man1/kvox.1.gz")

# The subcommands and each one's long options, as kvox's own help lists them.
subcommands=$("$kvox" --help | sed -n '/^Subcommands:/,/^$/s/^  \([a-z]*\) .*/\1/p')
options_of() { "$kvox" "$1" --help | grep -o -- '--[a-z-]*' | grep -vx -- '--help' | sort -u; }

# Each check runs in a subshell of its own, so a failure ends only that check.
fail() {
  echo "$*"
  exit 1
}

zip_holds_the_plugin_and_its_texts() {
  local listed expected
  listed=$(unzip -Z1 "$dist/$zip")
  expected=$(printf '%s\n' kestrovan_vox.flt README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt | sed "s|^|${zip%.zip}/|")
  [ "$listed" = "$expected" ] || fail "zip lists: $listed"
  for text in README.txt LICENSE.txt THIRD-PARTY-NOTICES.txt; do
    grep -qv $'\r$' "$scratch/zip/${zip%.zip}/$text" && fail "$text has lines without CRLF"
  done
  diff <(tr -d '\r' <"$scratch/zip/${zip%.zip}/LICENSE.txt") "$source/LICENSE" >/dev/null || fail "LICENSE.txt differs"
  # Every display name the plug-in reports, and the dialog's header box, are explained to editor users.
  while read -r name; do
    grep -qF "$name" "$scratch/zip/${zip%.zip}/README.txt" || fail "README.txt does not name $name"
  done < <("$kvox" formats | tail -n +2 | sed 's/^[^ ]* *[^ ]* *[0-9]* *[0-9]*  //')
  grep -q "Include File Header" "$scratch/zip/${zip%.zip}/README.txt" || fail "README.txt omits the header box"
  for part in mingw-w64 winpthreads libgcc libstdc++ "GCC RUNTIME LIBRARY EXCEPTION" ZPL-2.1; do
    grep -qF "$part" "$scratch/zip/${zip%.zip}/THIRD-PARTY-NOTICES.txt" || fail "notices omit $part"
  done
  return 0
}

deb_holds_kvox_its_docs_and_real_depends() {
  local listed depends needed soname path package
  listed=$(dpkg-deb --fsys-tarfile "$dist/$deb" | tar -t | grep -v '/$' | sort)
  [ "$listed" = "$(printf '%s\n' ./usr/bin/kvox \
    ./usr/share/bash-completion/completions/kvox ./usr/share/doc/kvox/changelog.Debian.gz \
    ./usr/share/doc/kvox/changelog.gz ./usr/share/doc/kvox/copyright ./usr/share/man/man1/kvox.1.gz | sort)" ] ||
    fail "deb lists: $listed"
  head -n 1 "$scratch/root/usr/share/doc/kvox/copyright" |
    grep -qx 'Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' || fail "copyright not DEP-5"
  # Each shared library the binaries need comes from a package in Depends, and none is FFTW.
  depends=$(dpkg-deb -f "$dist/$deb" Depends)
  ldd "$kvox" | grep -q fftw && fail "links FFTW"
  [[ ", $depends" == *", libkvox1 (>= $version)"* ]] || fail "kvox does not depend on libkvox1 $version: $depends"
  # kvox's libraries come through kvox's Depends, libkvox's through libkvox1's.
  for binary in "$kvox" "$library"; do
    [ "$binary" = "$kvox" ] && depends=$(dpkg-deb -f "$dist/$deb" Depends)
    [ "$binary" = "$library" ] && depends=$(dpkg-deb -f "$dist/$library_deb" Depends)
    needed=$(objdump -p "$binary" | sed -n 's/^ *NEEDED *//p' | sort -u | grep -vx libkvox.so.1)
    for soname in $needed; do
      path=$(ldd "$binary" | sed -n "s|^[[:space:]]*$soname => \([^ ]*\) .*|\1|p")
      # dpkg knows each file under /lib or under /usr/lib, whichever its package names.
      package=$(dpkg-query -S "${path#/usr}" "/usr${path#/usr}" 2>/dev/null | head -n 1 | cut -d: -f1)
      [[ ", $depends" == *", $package "* ]] ||
        fail "${binary##*/}: $soname (from ${package:-no package}) is not in Depends: $depends"
    done
  done
  # The man page covers every subcommand and option, the exit status, examples and raw-file detection.
  for section in "EXIT STATUS" EXAMPLES "RAW FILES"; do
    grep -q "^\.SH \"*$section" <<<"$man_page" || fail "man page lacks $section"
  done
  for command in $subcommands; do
    grep -q "^\.B.* $command\b" <<<"$man_page" || fail "man page lacks $command"
    for option in $(options_of "$command") --version; do
      grep -qF -- "${option//-/\\-}" <<<"$man_page" || fail "man page lacks $option"
    done
  done
  return 0
}

completion_offers_subcommands_options_and_codes() {
  local replies
  source "$scratch/root/usr/share/bash-completion/completions/kvox"
  complete_words() {
    COMP_WORDS=("$@") COMP_CWORD=$(($# - 1)) COMPREPLY=()
    _kvox
    printf '%s\n' "${COMPREPLY[@]}" | sort
  }
  [ "$(complete_words kvox "")" = "$(echo "$subcommands" | sort)" ] || fail "subcommands: $(complete_words kvox "")"
  for command in $subcommands; do
    replies=$(complete_words kvox "$command" --)
    for option in $(options_of "$command"); do
      grep -qx -- "$option" <<<"$replies" || fail "$command: $option not offered"
    done
  done
  [ "$(complete_words kvox encode --format "" | tr '\n' ' ')" = \
    "024D 032D 048A 048U 064A 064U adpcm adpcm24 alaw alaw48 ulaw ulaw48 " ] || fail "codes after --format"
}

# The release holds exactly its downloads, and the page is the web build: one HTML file that loads
# nothing from anywhere (no script, style or image by URL) and forbids network requests.
page_is_one_self_contained_file() {
  local listed size
  listed=$(cut -d' ' -f3- "$dist/SHA256SUMS" | sort)
  [ "$listed" = "$(printf '%s\n' "$zip" $debs "$page" "$tgz" "python3-kvox_$version-1_$(dpkg --print-architecture).deb" \
    "kvox-$version-cp311-cp311-linux_x86_64.whl" | sort)" ] || fail "SHA256SUMS lists: $listed"
  cmp -s "$dist/$page" "$build/web/kvox.html" || fail "$page is not the web build's kvox.html"
  size=$(stat -c %s "$dist/$page")
  [ "$size" -gt 100000 ] && [ "$size" -lt 1048576 ] || fail "$page has $size bytes"
  head -n 1 "$dist/$page" | grep -qix '<!doctype html>' || fail "$page is not an HTML file"
  grep -q "Content-Security-Policy\" content=\"default-src 'none';" "$dist/$page" || fail "$page has no policy"
  grep -q "connect-src 'none'" "$dist/$page" || fail "$page may make requests"
  grep -Eiq '<(script|link|img|iframe)[^>]* (src|href)=' "$dist/$page" && fail "$page loads a file by URL"
  grep -q 'id="worker-source"' "$dist/$page" || fail "$page lacks its worker"
  return 0
}

versions_agree_with_cmake() {
  local reported
  [ "$(dpkg-deb -f "$dist/$deb" Version)" = "$version-1" ] || fail "deb Version field"
  reported=$("$kvox" --version) || fail "kvox --version failed"
  [ "$(sed -n 1p <<<"$reported")" = "kvox $version" ] || fail "kvox reports: $reported"
  [[ "$(sed -n 2p <<<"$reported")" == "libkvox $version ("* ]] || fail "kvox reports: $reported"
  for package in $library_deb $dev_deb; do
    [ "$(dpkg-deb -f "$dist/$package" Version)" = "$version-1" ] || fail "$package Version field"
  done
  grep -q "^\.TH KVOX 1 \"[0-9-]*\" \"kvox $version\"" <<<"$man_page" || fail "man page version"
  [ "$(grep -m 1 '^## ' "$source/CHANGELOG.md" | cut -d' ' -f2)" = "$version" ] || fail "CHANGELOG.md top entry"
  "$source/scripts/check-flt.sh" i686-w64-mingw32-objdump "$flt" i686-w64-mingw32-windres "$version"
}

unpacked_kvox_runs_and_decodes() {
  mkdir -p "$scratch/run"
  cd "$scratch/run" || fail "no scratch folder"
  # Nothing from the build tree: no library path, and the plug-in comes from the unpacked folder.
  env -i PATH=/usr/bin:/bin "$kvox" --version | grep -qF "($library)" || fail "libkvox not taken from the package"
  env -i PATH=/usr/bin:/bin "$kvox" encode "$source/examples/speech.wav" speech.vox --format adpcm || fail "encode"
  env -i PATH=/usr/bin:/bin "$kvox" decode speech.vox speech.wav || fail "decode"
  [ "$(head -c 4 speech.wav)" = RIFF ] && [ "$(stat -c %s speech.wav)" -gt 40000 ] || fail "no WAV decoded"
}

# libkvox1 holds the library alone, with its symbols and shlibs files and an ldconfig trigger; libkvox-dev
# the rest a developer needs.
library_packages_hold_the_library_and_what_builds_on_it() {
  local listed
  listed=$(dpkg-deb --fsys-tarfile "$dist/$library_deb" | tar -t | grep -v '/$' | grep -v /doc/ | sort)
  [ "$listed" = "$(printf '%s\n' "./usr/lib/$multiarch/libkvox.so.1" "./usr/lib/$multiarch/libkvox.so.$version")" ] ||
    fail "libkvox1 lists: $listed"
  dpkg-deb --ctrl-tarfile "$dist/$library_deb" | tar -t | grep -qx './symbols' || fail "libkvox1 has no symbols file"
  dpkg-deb --ctrl-tarfile "$dist/$library_deb" | tar -t | grep -qx './shlibs' || fail "libkvox1 has no shlibs file"
  dpkg-deb --ctrl-tarfile "$dist/$library_deb" | tar -xO ./symbols | grep -q ' kvox_open@KVOX_1 ' ||
    fail "symbols file lacks kvox_open"
  "$source/tests/libkvox/check-symbols.sh" "$library" "$source/packaging/libkvox1.symbols" >/dev/null ||
    fail "the packaged library's exports differ from its symbols file"
  for path in usr/include/kvox.h "usr/lib/$multiarch/libkvox.so" "usr/lib/$multiarch/pkgconfig/kvox.pc" \
    "usr/lib/$multiarch/cmake/kvox/kvoxConfig.cmake"; do
    dpkg-deb --fsys-tarfile "$dist/$dev_deb" | tar -t | grep -qx "./$path" || fail "libkvox-dev lacks $path"
  done
}

# A program of the examples (or, without them, a few lines of its own) built with `pkg-config --cflags --libs
# kvox` and with find_package(kvox) against the unpacked packages, and run.
programs_build_against_the_unpacked_packages() {
  local program=$scratch/build/kvox_check.c flags
  mkdir -p "$scratch/build" && cd "$scratch/build" || fail "no scratch folder"
  cat >"$program" <<'PROGRAM'
#include <kvox.h>
#include <stdio.h>
#include <string.h>
int main(void) {
  kvox_encoder* encoder = kvox_encoder_new(KVOX_ADPCM);
  int16_t samples[3] = {1000, -2000, 3000};
  uint8_t bytes[2];
  size_t made = kvox_encode(encoder, samples, 3, bytes);
  made += kvox_encoder_flush(encoder, bytes + made);
  kvox_encoder_free(encoder);
  printf("%s %zu\n", kvox_version(), made);
  return made == 2 && strcmp(kvox_coding_tag(KVOX_ADPCM), "032D") == 0 ? 0 : 1;
}
PROGRAM
  export PKG_CONFIG_SYSROOT_DIR=$scratch/root PKG_CONFIG_LIBDIR=$scratch/root/usr/lib/$multiarch/pkgconfig
  flags=$(pkg-config --cflags --libs kvox) || fail "pkg-config finds no kvox"
  [ "$(pkg-config --modversion kvox)" = "$version" ] || fail "kvox.pc version"
  for source_file in "$program" "$source"/examples/*.c; do
    [ -f "$source_file" ] || continue
    cc -std=c99 -Wall -Werror -o "${source_file##*/}.out" "$source_file" $flags || fail "${source_file##*/} does not build"
  done
  LD_LIBRARY_PATH=$scratch/root/usr/lib/$multiarch ./kvox_check.c.out | grep -qx "$version 2" || fail "the program ran wrong"
  mkdir -p cmake && cat >cmake/CMakeLists.txt <<'PROJECT'
cmake_minimum_required(VERSION 3.25)
project(kvox_check C)
find_package(kvox 1 REQUIRED)
add_executable(kvox_check ../kvox_check.c)
target_link_libraries(kvox_check PRIVATE kvox::kvox)
PROJECT
  cmake -S cmake -B cmake/build -DCMAKE_PREFIX_PATH="$scratch/root/usr" >/dev/null || fail "find_package(kvox) fails"
  cmake --build cmake/build >/dev/null || fail "the CMake program does not build"
  LD_LIBRARY_PATH=$scratch/root/usr/lib/$multiarch cmake/build/kvox_check | grep -qx "$version 2" ||
    fail "the CMake program ran wrong"
}

npm_tarball_holds_the_package_and_runs() {
  local listed expected output
  listed=$(tar -tzf "$dist/$tgz" | sort)
  expected=$(printf 'package/%s\n' LICENSE README.md THIRD-PARTY-NOTICES.txt index.d.ts index.js kvox-module.js package.json | sort)
  [ "$listed" = "$expected" ] || fail "tarball lists: $listed"
  [ "$(tar -xzf "$dist/$tgz" -O package/package.json | node -e 'process.stdout.write(JSON.parse(require("fs").readFileSync(0)).version)')" = "$version" ] ||
    fail "package.json version is not $version"
  tar -xzf "$dist/$tgz" -O package/LICENSE | diff - "$source/LICENSE" >/dev/null || fail "LICENSE differs"
  for part in "KISS FFT" "Emscripten" "musl"; do
    tar -xzf "$dist/$tgz" -O package/THIRD-PARTY-NOTICES.txt | grep -qF "$part" || fail "notices omit $part"
  done
  for section in "## Node.js" "bundler"; do
    tar -xzf "$dist/$tgz" -O package/README.md | grep -qF "$section" || fail "README.md lacks $section"
  done
  output=$("$source/tests/npm/try-tarball.sh" "$dist/$tgz") || fail "the README's example failed: $output"
  [ "$(tail -n 1 <<<"$output")" = "adpcm, 8000 Hz, 8000 samples, tagged: true" ] || fail "the example printed: $output"
}

# Its other findings are shown, so that new warnings are seen.
lintian_reports_no_errors() {
  local findings status=0 packages=()
  for package in $debs; do packages+=("$dist/$package"); done
  findings=$(lintian --fail-on error "${packages[@]}" 2>&1) || status=$?
  grep -v 'root privileges' <<<"$findings"
  return $status
}

artefacts_are_reproducible() {
  local name zip_time
  for name in "$zip" $debs "$page" "$tgz" SHA256SUMS; do
    cmp "$dist/$name" "$again/$name" || fail "$name differs between two builds"
  done
  (cd "$dist" && sha256sum --quiet -c SHA256SUMS) || fail "SHA256SUMS does not match"
  for binary in "$flt" "$kvox" "$library"; do
    grep -qaF "$source" "$binary" && fail "${binary##*/} holds the build path $source"
  done
  tar -xzf "$dist/$tgz" -O | grep -qaF "$source" && fail "$tgz holds the build path $source"
  # Times from the commit: zip entries (two-second resolution) and package files.
  unzip -Z -T "$dist/$zip" | awk '/^-/ {print $7}' | sort -u | while read -r zip_time; do
    zip_time=$(date -u -d "${zip_time:0:8} ${zip_time:9:2}:${zip_time:11:2}:${zip_time:13:2}" +%s)
    [ $((zip_time - epoch)) -ge -1 ] && [ $((zip_time - epoch)) -le 1 ] || fail "zip time $zip_time, not $epoch"
  done || exit 1
  for package in $debs; do
    dpkg-deb --fsys-tarfile "$dist/$package" | tar -tv --utc --full-time | awk '{print $4 " " $5}' | sort -u |
      grep -vxF "$(date -u -d "@$epoch" '+%Y-%m-%d %H:%M:%S')" && fail "$package: times differ from $epoch"
  done
  return 0
}

passed=0 failed=0
for check in zip_holds_the_plugin_and_its_texts deb_holds_kvox_its_docs_and_real_depends \
  completion_offers_subcommands_options_and_codes page_is_one_self_contained_file versions_agree_with_cmake \
  unpacked_kvox_runs_and_decodes library_packages_hold_the_library_and_what_builds_on_it \
  programs_build_against_the_unpacked_packages npm_tarball_holds_the_package_and_runs \
  lintian_reports_no_errors artefacts_are_reproducible; do
  if output=$( ($check) 2>&1); then
    passed=$((passed + 1))
    echo "ok: $check"
  else
    failed=$((failed + 1))
    echo "FAILED: $check"
  fi
  [ -n "$output" ] && sed 's/^/  /' <<<"$output"
done
echo "dist: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
