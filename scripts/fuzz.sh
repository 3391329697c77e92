#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, address and undefined-behaviour
# sanitizers) and runs each for a given time: en_fuzz_blob (any bytes as a
# blob) and en_fuzz_json (any bytes as a JSON message text).  Exits non-zero
# if one finds a crash, a leak, a sanitizer report or a slow input.
#
#   scripts/fuzz.sh [--seconds N] [--smoke] [--merge]
#
#   --seconds N        run time of each target (default 600)
#   --smoke            start from the kept corpus and the seeds in a scratch
#                      folder and keep nothing (the test command's stage)
#   --merge            afterwards, minimize each working corpus into
#                      fuzz/corpus/<target> (the corpus kept in the repository)
#
# Seeds: blob from fuzz/corpus/blob and the golden messages tests/golden/blobs,
# with the dictionary fuzz/blob.dict; json from fuzz/corpus/json, the example
# messages (examples/) and each line of tests/conformance/cases.jsonl as a
# file of its own (in a scratch folder), with the dictionary fuzz/json.dict.
#
# The working corpora grow in build-fuzz/corpus/<target> from run to run;
# crash inputs land in build-fuzz/artifacts/<target>.  Keep each one that was
# found as a regression case in fuzz/regressions/<target>/ once it is fixed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

seconds=600
smoke=0
merge=0
while [ $# -gt 0 ]; do
  case "$1" in
    --seconds) seconds=$2; shift 2 ;;
    --smoke) smoke=1; shift ;;
    --merge) merge=1; shift ;;
    *) echo "usage: $0 [--seconds N] [--smoke] [--merge]" >&2; exit 2 ;;
  esac
done
jobs=$(nproc 2>/dev/null || echo 2)

build=$root/build-fuzz
echo "-- building the fuzz targets in $build"
mkdir -p "$build"
if ! { CC=clang CXX=clang++ cmake -S . -B "$build" -DEN_BUILD_FUZZERS=ON -DEN_SANITIZE=address,undefined \
         -DEN_BUILD_TESTS=OFF -DEN_BUILD_TOOLS=OFF -DEN_BUILD_BENCHMARKS=OFF &&
       cmake --build "$build" -j"$jobs" --target en_fuzz_blob en_fuzz_json; } >"$build/build.log" 2>&1; then
  tail -n 40 "$build/build.log" >&2
  exit 1
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/en-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
work=$build/corpus
[ $smoke = 1 ] && work=$scratch/corpus
# The JSON seeds: the examples and the reference cases, one file a line.
mkdir -p "$scratch/seeds-json"
find examples -name '*.json' -exec cp --backup=numbered -t "$scratch/seeds-json" {} +
split -l 1 -a 4 tests/conformance/cases.jsonl "$scratch/seeds-json/case-"
seeds_blob=(tests/golden/blobs)
seeds_json=("$scratch/seeds-json")

failed=0
for target in blob json; do
  corpus=$work/$target
  artifacts=$build/artifacts/$target
  mkdir -p "$corpus" "$artifacts"
  seeds=seeds_$target[@]
  inputs=("$corpus" "${!seeds}")
  [ -d "fuzz/corpus/$target" ] && inputs+=("fuzz/corpus/$target")
  log=$build/fuzz-$target.log
  echo "-- en_fuzz_$target for ${seconds}s (log: $log)"
  set +e
  # The first folder receives new inputs; the others are read only.
  ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=0 UBSAN_OPTIONS=print_stacktrace=1 \
    "$build/bin/en_fuzz_$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$artifacts/" -dict="fuzz/$target.dict" "${inputs[@]}" >"$log" 2>&1
  rc=$?
  set -e
  grep -E "^#[0-9]+[[:space:]]+(INITED|DONE)" "$log" | tail -n 2 | sed 's/^/   /' || true
  grep -E "^stat::(number_of_executed_units|average_exec_per_sec|new_units_added|peak_rss_mb)" "$log" |
    sed 's/^/   /' || true
  if [ $rc -ne 0 ]; then
    echo "!! en_fuzz_$target failed (exit $rc); the report:"
    grep -E "ERROR|SUMMARY|runtime error|hardening check failed|Test unit written" "$log" | head -n 20 | sed 's/^/   /'
    failed=1
  fi
  if [ $merge = 1 ]; then
    mkdir -p "fuzz/corpus/$target"
    merged=$(mktemp -d "${TMPDIR:-/tmp}/en-merge.XXXXXX")
    "$build/bin/en_fuzz_$target" -merge=1 "$merged" "fuzz/corpus/$target" "$corpus" >"$build/merge-$target.log" 2>&1
    rm -rf "fuzz/corpus/$target"
    mv "$merged" "fuzz/corpus/$target"
    chmod 755 "fuzz/corpus/$target"
    echo "   kept corpus: $(ls "fuzz/corpus/$target" | wc -l) inputs in fuzz/corpus/$target"
  fi
done
exit $failed
