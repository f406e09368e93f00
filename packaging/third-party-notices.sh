#!/bin/sh
# Writes THIRD-PARTY-NOTICES.txt for the .flt to standard output: the runtime code of the cross compiler
# that is linked statically into it, with the copyright notices and licences that Debian's copyright files
# of the toolchain packages installed here give for that code.
# Usage: packaging/third-party-notices.sh VERSION
set -eu
version=$1
doc=/usr/share/doc
mingw_package=mingw-w64-i686-dev
gcc_packages="gcc-mingw-w64-i686-posix g++-mingw-w64-i686-posix"

package_version() { dpkg-query -W -f='${Version}' "$1"; }

# The paragraphs of a machine-readable copyright file that cover the runtime (the C runtime start-up and
# support code, winpthreads), and the licence paragraphs they name. Tools, headers, tests and profiling
# code are not linked into the .flt and are left out.
runtime_paragraphs() {
  awk '
    function runtime_files(files,    count, names, i, kept) {
      count = split(files, names, /[ \t\n]+/)
      kept = 0
      for (i = 1; i <= count; i++) {
        if (names[i] == "*") kept = 1
        if (names[i] ~ /^mingw-w64-crt\// && names[i] !~ /^mingw-w64-crt\/profile\//) kept = 1
        if (names[i] ~ /^mingw-w64-libraries\/winpthreads\// && names[i] !~ /tests_pthread/) kept = 1
      }
      return kept
    }
    function field(paragraph, name,    text) {
      if (!match(paragraph, "(^|\n)" name ":[^\n]*(\n[ \t][^\n]*)*")) return ""
      text = substr(paragraph, RSTART, RLENGTH)
      sub("^\n?" name ":[ \t]*", "", text)
      return text
    }
    BEGIN { RS = "" }
    # First pass: the Files paragraphs kept, and the licences they name.
    FNR == NR {
      if ($0 ~ /^Files:/ && runtime_files(field($0, "Files"))) {
        kept[FNR] = 1
        licence = field($0, "License")
        sub(/\n.*/, "", licence)
        count = split(licence, names, / (and|or) /)
        for (i = 1; i <= count; i++) wanted[names[i]] = 1
      }
      next
    }
    # Second pass: those paragraphs, then the stand-alone licence paragraphs they need.
    kept[FNR] { print $0 "\n" }
    /^License:/ {
      licence = field($0, "License")
      sub(/\n.*/, "", licence)
      if (licence in wanted) print $0 "\n"
    }
  ' "$1" "$1"
}

# The part of GCC's copyright file on its runtime libraries: the copyright statement, the list of libraries
# under the GCC Runtime Library Exception, and the text of the exception.
gcc_runtime_terms() {
  sed -n -e '/^GCC is Copyright/,/^ - libvtv$/p' "$1"
  echo
  sed -n -e '/^GCC RUNTIME LIBRARY EXCEPTION$/,/^requirements of the license of GCC\.$/p' "$1"
}

mingw_copyright=$doc/$mingw_package/copyright
gcc_copyright=$doc/${gcc_packages%% *}/copyright
for file in "$mingw_copyright" "$gcc_copyright" /usr/share/common-licenses/GPL-3; do
  [ -s "$file" ] || { echo "third-party-notices: $file is missing" >&2; exit 1; }
done
mingw_terms=$(runtime_paragraphs "$mingw_copyright")
gcc_terms=$(gcc_runtime_terms "$gcc_copyright")
case "$mingw_terms" in *ZPL-2.1*) ;; *) echo "third-party-notices: no runtime terms in $mingw_copyright" >&2; exit 1 ;; esac
case "$gcc_terms" in *"Grant of Additional Permission"*"requirements of the license of GCC.") ;; *) echo "third-party-notices: no exception in $gcc_copyright" >&2; exit 1 ;; esac

title="Third-party notices for kestrovan_vox.flt $version"
cat <<NOTICE
$title
$(echo "$title" | sed 's/./=/g')

kestrovan-vox's own code is under the MIT licence (LICENSE.txt). The .flt is
linked statically against the runtime libraries of the compiler that built it
(Debian's mingw-w64 cross toolchain for 32-bit Windows), so that it needs no
DLL beyond those of Windows. It therefore holds code of:

1. the mingw-w64 runtime: the C runtime start-up and support code (crt,
   libmingw32, libmingwex) and winpthreads, the threads library the C++
   runtime uses (Debian package $mingw_package $(package_version "$mingw_package"));

2. the GCC runtime libraries: libgcc and libstdc++ (Debian packages
   $(echo $gcc_packages | sed 's/ / and /'), version $(package_version "${gcc_packages%% *}")).
   They are under the GNU General Public License, version 3 or later, with
   version 3.1 of the GCC Runtime Library Exception, which permits programs
   compiled with GCC to include them under terms of their own choosing.

Their copyright notices and licences follow, as Debian's copyright files for
those packages give them.


1. mingw-w64 runtime and winpthreads
------------------------------------

$mingw_terms


2. GCC runtime libraries (libgcc, libstdc++)
--------------------------------------------

$gcc_terms


The GNU General Public License, version 3, to which the exception above refers:

NOTICE
cat /usr/share/common-licenses/GPL-3
