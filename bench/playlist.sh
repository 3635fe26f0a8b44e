#!/usr/bin/env bash
# Save, and load and show, of a 100 000-entry play list, each beside its budget of 200 ms.
#   bench/playlist.sh [entries]     (builds in build/bench, configured Release)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTUNEDECK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target playlist_bench >/dev/null
QT_QPA_PLATFORM=offscreen "$build/bin/playlist_bench" "${1:-100000}"
