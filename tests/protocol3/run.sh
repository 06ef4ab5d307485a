#!/usr/bin/env bash
# Runs the SHIORI/3.0 differential test (differential.js). The two npm packages it checks
# against are installed from package-lock.json into the build tree the first time; when npm
# cannot install them the test is skipped (exit 77) and says why.
# usage: run.sh BUILD_DIR
set -uo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$1"
dest="$build/protocol3"
if ! command -v node >/dev/null || ! command -v npm >/dev/null; then
  echo "SKIPPED: node and npm are not installed (./test.sh installs Debian's nodejs and npm)"
  exit 77
fi
if [ ! -f "$dest/node_modules/shiori_converter/package.json" ] ||
   [ ! -f "$dest/node_modules/shiorijk/package.json" ] ||
   ! cmp -s "$here/package-lock.json" "$dest/package-lock.json"; then
  mkdir -p "$dest"
  cp "$here/package.json" "$here/package-lock.json" "$dest/"
  if ! (cd "$dest" && npm ci --no-audit --no-fund --loglevel=error >npm.log 2>&1); then
    echo "SKIPPED: npm could not install shiori_converter and shiorijk:"
    tail -5 "$dest/npm.log"
    exit 77
  fi
fi
exec node "$here/differential.js" "$dest/node_modules" "$build/zelka-host" "$build/zelka.so"
