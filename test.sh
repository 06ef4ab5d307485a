#!/usr/bin/env bash
# Builds Zelka and runs every test: a normal build, then the whole suite again under
# AddressSanitizer and UndefinedBehaviorSanitizer, then the thread tests under ThreadSanitizer.
set -euo pipefail
cd "$(dirname "$0")"
# Node and npm run the SHIORI/3.0 differential test; Debian's packages when they are missing.
node_packages=()
command -v node >/dev/null || node_packages+=(nodejs)
command -v npm >/dev/null || node_packages+=(npm)
tools/ensure-packages.sh "${node_packages[@]}"
jobs=$(nproc)

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs"
(cd build && ctest --output-on-failure -j "$jobs" --timeout 300)

cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELKA_SANITIZE=ON -DZELKA_BENCH=OFF >/dev/null
cmake --build build-asan -j "$jobs"
(cd build-asan && ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
   ctest --output-on-failure -j "$jobs" --timeout 600)

cmake -S . -B build-tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DZELKA_TSAN=ON -DZELKA_BENCH=OFF >/dev/null
# Only the executables that hold the think-thread and periodic-save suites are built under
# ThreadSanitizer.
cmake --build build-tsan -j "$jobs" --target zelka_learning_tests zelka_shiori_tests zelka_module_tests
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1 ctest --output-on-failure -j "$jobs" --timeout 600 -R 'Think|Autosave')
