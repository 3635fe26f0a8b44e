#!/usr/bin/env bash
# Parse + tempo map time of a 1 MB MIDI song (Release build; target <= 20 ms).
#   bench/midi_parse.sh [bytes] [runs]   (BUILD_DIR=... to reuse a build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# A build folder of its own: the bench target comes with the tests, which bench/engine.sh's
# Release folder leaves out.
build="${BUILD_DIR:-$root/build/bench-midi}"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTUNEDECK_TESTS=ON -DTUNEDECK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target midi_parse_bench >/dev/null
"$build/bin/midi_parse_bench" "${1:-1048576}" "${2:-30}"
