#!/usr/bin/env bash
# Builds and runs every test: x86_64 (warnings as errors) and i386 builds,
# then the hardening stages, then the x86_64 suite, ending with ctest's summary.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc 2>/dev/null || echo 2)

"$root/scripts/deps.sh"

echo "== i386 build and tests"
cmake -S . -B build-i386 -DCMAKE_TOOLCHAIN_FILE="$root/cmake/i386-toolchain.cmake" -DEN_WERROR=ON \
      -DEN_GTEST_SOURCE_DIR=/usr/src/googletest >/dev/null
cmake --build build-i386 -j"$jobs"
if ! ctest --test-dir build-i386 --output-on-failure -j"$jobs" >build-i386/ctest.log 2>&1; then
  tail -n 150 build-i386/ctest.log
  exit 1
fi
grep -E 'tests passed' build-i386/ctest.log

echo "== x86_64 build"
cmake -S . -B build -DEN_WERROR=ON -DEN_BUILD_BENCHMARKS=ON >/dev/null
cmake --build build -j"$jobs"

echo "== benchmarks, briefly (verdicts checked, no timing asserted)"
"$root/scripts/bench" --quick --build-dir build

for stage in "$root"/scripts/stages/*.sh; do
  [ -e "$stage" ] || continue
  echo "== stage $(basename "$stage" .sh)"
  "$stage"
done

echo "== x86_64 tests"
ctest --test-dir build --output-on-failure -j"$jobs"
