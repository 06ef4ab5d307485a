#!/usr/bin/env bash
# Builds Zelka and runs the sample ghost through a short session.
set -euo pipefail
cd "$(dirname "$0")"
tools/ensure-packages.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
echo "(the sample session is not written yet)"
