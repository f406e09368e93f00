#!/bin/sh
# Installs the npm package's tarball into an empty folder as its users do (`npm install ./NAME.tgz`), and
# runs there the Node.js example of the README the tarball holds; prints what the example prints.
# Usage: tests/npm/try-tarball.sh TARBALL
set -eu
tarball=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
folder=$(mktemp -d)
trap 'rm -rf "$folder"' EXIT
cd "$folder"
cp "$tarball" .
# The package has no dependencies: nothing is fetched.
npm install --offline --no-audit --no-fund --loglevel=error "./$(basename "$tarball")" >/dev/null
tar -xzf "$tarball" -O package/README.md |
  awk '/^## Node\.js/ { found = 1 } found && /^```js$/ { code = 1; next } code && /^```$/ { exit } code' >example.mjs
[ -s example.mjs ] || { echo "try-tarball: the README has no Node.js example" >&2; exit 1; }
node example.mjs
