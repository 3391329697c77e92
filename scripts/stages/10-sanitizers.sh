#!/usr/bin/env bash
# The whole test suite under the address and undefined-behaviour
# sanitizers (build-asan), and the threaded tests under the thread
# sanitizer (build-tsan), both with gcc.
set -euo pipefail
cd "$(dirname "$0")/../.."
. scripts/stages/lib/common.sh

start=$SECONDS
section "address + undefined-behaviour sanitizers: build-asan"
configure build-asan -DEN_SANITIZE=address,undefined -DEN_GTEST_SOURCE_DIR=/usr/src/googletest -DEN_WERROR=ON
build build-asan
# Installing and linking an uninstrumented program against the instrumented
# library cannot work; every other test runs.
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1 \
UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
  run_ctest build-asan -E '^InstallAndUse$'
echo "   $((SECONDS - start))s"

start=$SECONDS
section "thread sanitizer: build-tsan"
configure build-tsan -DEN_SANITIZE=thread -DEN_GTEST_SOURCE_DIR=/usr/src/googletest -DEN_WERROR=ON
build build-tsan en_threads_test en_edges_test en-validate
# Several runs, several interleavings.
for run in 1 2 3; do
  TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 build-tsan/bin/en_threads_test >build-tsan/threads-$run.log 2>&1 ||
    fail "thread sanitizer run $run" build-tsan/threads-$run.log
done
TSAN_OPTIONS=halt_on_error=1 build-tsan/bin/en_edges_test >build-tsan/edges.log 2>&1 ||
  fail "thread sanitizer, edge tests" build-tsan/edges.log
# The tool's threads over chunks of lines: the reference cases three times,
# from a file and from a pipe that pauses, against one thread's output.
tool=build-tsan/bin/en-validate
for copy in 1 2 3; do cat tests/conformance/cases.jsonl; done >build-tsan/cases3.jsonl
TSAN_OPTIONS=halt_on_error=1 "$tool" --jsonl -j 1 build-tsan/cases3.jsonl >build-tsan/jsonl-1.out 2>build-tsan/jsonl.log ||
  [ $? -eq 1 ] || fail "thread sanitizer, --jsonl -j 1" build-tsan/jsonl.log
for jobs in 2 3; do
  TSAN_OPTIONS=halt_on_error=1 "$tool" --jsonl --all -j "$jobs" build-tsan/cases3.jsonl >/dev/null 2>build-tsan/jsonl.log ||
    [ $? -eq 1 ] || fail "thread sanitizer, --jsonl --all -j $jobs" build-tsan/jsonl.log
  { head -c 300000 build-tsan/cases3.jsonl; sleep 0.2; tail -c +300001 build-tsan/cases3.jsonl; } |
    TSAN_OPTIONS=halt_on_error=1 "$tool" --jsonl -j "$jobs" >build-tsan/jsonl-$jobs.out 2>build-tsan/jsonl.log ||
    [ $? -eq 1 ] || fail "thread sanitizer, --jsonl -j $jobs from a pipe" build-tsan/jsonl.log
  cmp -s build-tsan/jsonl-1.out build-tsan/jsonl-$jobs.out ||
    { echo "--jsonl -j $jobs differs from -j 1" >build-tsan/jsonl.log; fail "thread sanitizer, --jsonl -j $jobs" build-tsan/jsonl.log; }
done
echo "   3 runs of the threads test, the edge tests and the tool's --jsonl threads clean; $((SECONDS - start))s"
