#!/usr/bin/env bash
# Times the maker's about box: opening, composing frames, the export call and closing.
#   bench/orvkit_about.sh [build-folder] [frames]   (default build/bench, Release; 2000)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/bench}
frames=${2:-2000}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTUNEDECK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target orvkit_about_bench >/dev/null
QT_QPA_PLATFORM=offscreen "$build/bin/orvkit_about_bench" "$frames"
