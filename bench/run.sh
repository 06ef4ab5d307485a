#!/usr/bin/env bash
# Builds the benchmarks in Release and prints their figures. Pass benchmark names (for example
# `./bench/run.sh request_bench think_bench`) to run only those; the soak benchmark runs only
# when named, since it sends 100,000 requests.
set -euo pipefail
cd "$(dirname "$0")/.."
tools/ensure-packages.sh
cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build-bench -j "$(nproc)"
if [ $# -gt 0 ]; then
  names=("$@")
else
  names=()
  for f in bench/*_bench.cpp; do
    n=$(basename "$f" .cpp)
    [ "$n" = soak_bench ] || names+=("$n")
  done
fi
for n in "${names[@]}"; do
  echo "== $n"
  "build-bench/bench/$n" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
done
