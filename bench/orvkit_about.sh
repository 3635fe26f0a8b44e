#!/usr/bin/env bash
# Times the maker's about box: opening, composing frames, the export call and closing.
#   bench/orvkit_about.sh [build-folder] [frames]   (default build/bench, RelWithDebInfo; 2000)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/bench}
frames=${2:-2000}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target orvkit_about_bench >/dev/null
QT_QPA_PLATFORM=offscreen "$build/bin/orvkit_about_bench" "$frames"
