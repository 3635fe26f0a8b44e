#!/usr/bin/env bash
# Installs what is missing, builds everything with warnings as errors and runs every test;
# then builds again with AddressSanitizer + UndefinedBehaviorSanitizer and runs the unit tests.
#   TUNEDECK_SKIP_ASAN=1 scripts/test.sh   skips the sanitizer pass (quicker while working)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
bash scripts/deps.sh

jobs=$(nproc)
cmake --preset ci
cmake --build --preset ci -j "$jobs"
ctest --preset ci -j "$jobs" --timeout 300

if [ "${TUNEDECK_SKIP_ASAN:-0}" != 1 ]; then
    cmake --preset asan
    cmake --build --preset asan -j "$jobs"
    ctest --preset asan -j "$jobs" -L unit --timeout 600
fi
