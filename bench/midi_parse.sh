#!/usr/bin/env bash
# Parse + tempo map time of a 1 MB MIDI song (Release build).
#   bench/midi_parse.sh [bytes] [runs]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target midi_parse_bench >/dev/null
"$build/bin/midi_parse_bench" "${1:-1048576}" "${2:-30}"
