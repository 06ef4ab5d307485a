#!/usr/bin/env bash
# Builds Zelka and plays a short session with the sample ghost, printing its talk readably,
# then shows what the ghost learned, in words and as a picture.
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure-packages.sh
echo "== Building the module and zelka-host (a few minutes on a fresh machine)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# Only what this script runs: ./test.sh builds the tests and benchmarks.
cmake --build build -j "$(nproc)" --target zelka zelka-host

# The session runs on a fresh copy of the sample ghost, so what it learns stays out of the
# sources (and every run starts from the same ghost).
session=build/sample-session
rm -rf "$session"
mkdir -p "$session"
cp -R ghost/sample "$session/ghost"
# A first load imports the dictionary; a snapshot of what the ghost knows then lets the report
# at the end show what the session itself taught her. Its variables go, so that the session
# starts as her first meeting.
(cd "$session" && echo :quit | ../zelka-host --play - --no-boot ghost >/dev/null)
build/zelka-host learned --save-snapshot "$session/before-session.snapshot" "$session/ghost" \
  >/dev/null
rm -f "$session/ghost/_learning/reflex.txt"

echo
echo "== zelka-host --play ghost/sample-session.play $session/ghost"
echo "   (lines after > are what the host sends, # lines explain them; the ghost speaks Japanese)"
(cd "$session" && ../zelka-host --play ../../ghost/sample-session.play --comments --stats \
  --names "ミナ,クロ" ghost)

echo
echo "== zelka-host learned --limit 5 --since $session/before-session.snapshot $session/ghost"
echo "   (the dictionary came with the first load; the end of the report shows what the session added)"
build/zelka-host learned --limit 5 --since "$session/before-session.snapshot" "$session/ghost"

picture=build/sample-learned.svg
echo
echo "== zelka-host graph $session/ghost -o $picture"
build/zelka-host graph "$session/ghost" -o "$picture"
echo "The picture of what the ghost learned is $(pwd)/$picture: open it in a web browser."
