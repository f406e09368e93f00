#!/bin/bash
# The shared library exports exactly the symbols its Debian symbols file lists, each with its version
# node, so a name added or lost shows before a release does.
# Usage: check-symbols.sh LIBRARY SYMBOLS_FILE
set -eu
exported=$(nm -D --defined-only "$1" | awk '{print $3}' | sed 's/@@/@/; s/^KVOX_1$/KVOX_1@KVOX_1/' | LC_ALL=C sort)
listed=$(sed -n 's/^ \([^ ]*\) .*/\1/p' "$2" | LC_ALL=C sort)
if [ "$exported" != "$listed" ]; then
  echo "check-symbols: $1 and $2 differ (< exported, > listed):" >&2
  diff <(echo "$exported") <(echo "$listed") >&2 || true
  exit 1
fi
echo "check-symbols: $(echo "$exported" | wc -l) symbols, as listed"
