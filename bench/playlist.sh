#!/usr/bin/env bash
# Save and load of a 100 000-entry play list against plain write/read of the same bytes.
#   bench/playlist.sh [entries]
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench"
cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target playlist_bench >/dev/null
"$build/bin/playlist_bench" "${1:-100000}"
