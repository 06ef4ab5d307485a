#!/usr/bin/env bash
# Builds Zelka and runs the sample ghost through a short session.
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure-packages.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"

# The session runs on a copy of the sample ghost, so what it learns stays out of the sources.
session=build/sample-session
rm -rf "$session"
mkdir -p "$session"
cp -R ghost/sample "$session/ghost"

echo "== zelka-host --pipe $session/ghost"
printf '%s\r\n' \
  "GET Version SHIORI/2.0" "Sender: run.sh" "" \
  "NOTIFY OwnerGhostName SHIORI/2.3" "Sender: run.sh" "Ghost: Sample" "" \
  "NOTIFY OtherGhostName SHIORI/2.3" "Sender: run.sh" "Ghost: Sample" "GhostEx: Guest" "" \
  "GET Status SHIORI/2.0" "Sender: run.sh" "" |
  (cd "$session" && ../zelka-host --pipe ghost) | tr -d '\r'
