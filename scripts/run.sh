#!/usr/bin/env bash
# The main job: installs what is missing, builds, and validates a sample
# message through the C interface.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh
cmake -S . -B build >/dev/null
cmake --build build -j"$(nproc 2>/dev/null || echo 2)" >/dev/null
./build/bin/en_c_interface_test
