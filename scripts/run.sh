#!/usr/bin/env bash
# The main job: installs what is missing, builds, validates a sample
# message through the C interface, then runs en-validate over examples/ and
# prints a table: file, message type, verdict, location, text.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
./build/bin/en_example_validate
echo
echo "== examples/ (valid/ must conform, faulty/ must not)"
status=0
(cd examples && ../build/bin/en-validate --table valid/*.json faulty/*.json) || status=$?
# 1 only says that some message does not conform, which faulty/ is for.
[ "$status" -le 1 ]
