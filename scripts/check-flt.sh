#!/bin/sh
# Checks the built .flt with objdump: a PE32 DLL whose export table has ordinal base 2 and the host's 21
# names at their ordinals, and whose imports are system DLLs only; with windres, that its version resource
# carries VERSION (CMake's project version); and that its header has no link time, so builds repeat.
# Usage: scripts/check-flt.sh OBJDUMP FLT WINDRES VERSION
set -eu
objdump=$1
flt=$2
windres=$3
version=$4
dump=$(LC_ALL=C "$objdump" -p "$flt")
fail() { echo "check-flt: $*" >&2; exit 1; }

echo "$dump" | grep -q 'file format pei-i386' || fail "not a PE32 i386 image"
characteristics=$(echo "$dump" | sed -n 's/^Characteristics 0x\([0-9a-fA-F]*\)$/\1/p')
[ -n "$characteristics" ] && [ $((0x$characteristics & 0x2000)) -ne 0 ] || fail "not a DLL"
echo "$dump" | grep -Eq '^Ordinal Base[[:space:]]+2$' || fail "ordinal base is not 2"

expected="2 QueryMirlFilter
3 OpenFilterOutput
4 CloseFilterOutput
5 WriteFilterOutput
7 CloseFilterInput
8 ReadFilterInput
9 FilterUnderstandsFormat
10 FilterCanWriteSpecial
11 FilterCanReadSpecial
12 FilterWriteSpecial
13 FilterReadSpecial
14 OpenFilterInput
15 OpenFilterInput2
16 GetSuggestedSampleType2
17 FilterOptionsString
18 FilterGetOptions
19 FilterGetFileSize
20 DIALOGMsgProc
21 FilterOptions
23 FilterSetOptions
24 FilterSetOptions2"
# The name table lists "[ordinal - base] name".
actual=$(echo "$dump" | sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^$/s/^[[:space:]]*\[[[:space:]]*\([0-9]*\)\] \([A-Za-z0-9_@]*\)$/\1 \2/p' |
  while read -r index name; do echo "$((index + 2)) $name"; done | sort -n)
[ "$actual" = "$expected" ] || fail "export table differs:
$actual"

imports=$(echo "$dump" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'a-z' 'A-Z' | sort -u)
for dll in $imports; do
  case "$dll" in
    KERNEL32.DLL|USER32.DLL|MSVCRT.DLL) ;;
    *) fail "imports a non-system DLL: $dll" ;;
  esac
done
echo "$imports" | grep -q KERNEL32.DLL || fail "no KERNEL32 import"

# The COFF header's TimeDateStamp, 8 bytes past the PE signature (whose offset is at 0x3c).
pe_offset=$(od -An -t u4 -j 60 -N 4 "$flt" | tr -d ' ')
stamp=$(od -An -t u4 -j $((pe_offset + 8)) -N 4 "$flt" | tr -d ' ')
[ "$stamp" = 0 ] || fail "the PE header carries a link time ($stamp)"

resource=$("$windres" -i "$flt" -O rc | sed -n '/VERSIONINFO/,/^END/p')
numbers=$(echo "$version.0.0.0" | cut -d. -f1-4 | sed 's/\./, /g')
for line in " FILEVERSION $numbers" " PRODUCTVERSION $numbers" \
  "      VALUE \"FileVersion\", \"$version\"" "      VALUE \"ProductVersion\", \"$version\""; do
  echo "$resource" | grep -qxF "$line" || fail "the version resource lacks '$line':
$resource"
done
echo "check-flt: PE32 DLL, ordinal base 2, 21 exports, imports: $(echo $imports), version $version, no link time"

