#!/usr/bin/env bash
# Builds Zelka and plays a short session with the sample ghost, printing its talk readably.
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure-packages.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

# The session runs on a fresh copy of the sample ghost, so what it learns stays out of the
# sources (and every run starts from the same ghost).
session=build/sample-session
rm -rf "$session"
mkdir -p "$session"
cp -R ghost/sample "$session/ghost"

echo "== zelka-host --play ghost/sample-session.play $session/ghost"
(cd "$session" && ../zelka-host --play ../../ghost/sample-session.play --stats \
  --names "ミナ,クロ" ghost)
