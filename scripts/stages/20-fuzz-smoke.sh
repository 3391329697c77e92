#!/usr/bin/env bash
# Each libFuzzer target briefly (clang, address and undefined-behaviour
# sanitizers), from its kept corpus and its seeds; fails on any crash, leak or sanitizer report.  The kept
# crash inputs are replayed by ctest (FuzzReplay.*) in every build.
set -euo pipefail
cd "$(dirname "$0")/../.."
start=$SECONDS
scripts/fuzz.sh --smoke --seconds "${EN_FUZZ_SMOKE_SECONDS:-25}"
echo "   $((SECONDS - start))s"
