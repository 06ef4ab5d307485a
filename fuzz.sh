#!/usr/bin/env bash
# Builds the fuzz targets of fuzz/ (clang, libFuzzer, AddressSanitizer, UndefinedBehavior-
# Sanitizer) and runs each for the given number of seconds (30 by default), one after the
# other, starting from a scratch copy of its committed seed corpus, with its dictionary.
# A crash, a hang (a single input running over 3 seconds), a leak or memory beyond 2 GB
# fails the run; the input that did it is kept under fuzz/build/artifacts/<target>/.
# Under the sanitizers an input takes at most a few tenths of a second (a store file, or a
# script or request that runs into the script engine's budgets), so 3 seconds flags work that
# has lost its bound long before the host would notice.
# The mutations follow a fixed seed, so that a run repeats the last one (ZELKA_FUZZ_SEED
# chooses another; 0 takes one from the clock).
#   ./fuzz.sh [SECONDS] [TARGET...]
set -euo pipefail
cd "$(dirname "$0")"
seconds=${1:-30}
seed=${ZELKA_FUZZ_SEED:-1}
shift || true
tools/ensure-packages.sh clang libclang-rt-14-dev

build=fuzz/build
start=$(date +%s)
cmake -S fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build" -j "$(nproc)"
echo "fuzz targets built in $(( $(date +%s) - start )) s"

if [ $# -gt 0 ]; then
  targets=("$@")
else
  targets=()
  for f in fuzz/*_fuzzer.cpp; do
    name=$(basename "$f" _fuzzer.cpp)
    targets+=("$name")
  done
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zelka-fuzz-run-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
failed=()
summary=()
for t in "${targets[@]}"; do
  corpus="$scratch/$t"
  mkdir -p "$corpus" "$build/artifacts/$t"
  cp fuzz/corpus/"$t"/* "$corpus"/
  log="$build/artifacts/$t/run.log"
  echo "== $t: ${seconds} s"
  status=0
  "$build/${t}_fuzzer" -max_total_time="$seconds" -timeout=3 -rss_limit_mb=2048 \
    -dict="fuzz/dict/$t.dict" -artifact_prefix="$build/artifacts/$t/" -print_final_stats=1 -seed="$seed" \
    "$corpus" >"$log" 2>&1 || status=$?
  done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true)
  runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}' || true)
  summary+=("$(printf '%-16s runs %-9s %s' "$t" "${runs:-?}" "${done_line#*DONE}")")
  if [ "$status" -ne 0 ]; then
    failed+=("$t")
    echo "$t FAILED (exit $status); last lines of $log:"
    tail -40 "$log"
  fi
done

echo
echo "fuzz summary (${seconds} s per target):"
printf '  %s\n' "${summary[@]}"
echo "total time $(( $(date +%s) - start )) s"
if [ ${#failed[@]} -gt 0 ]; then
  echo "failed targets: ${failed[*]}"
  exit 1
fi
echo "fuzzing: all ${#targets[@]} targets ran clean"
