#!/usr/bin/env bash
# Times the scrolling text panel: activation, one tick with its frame, a pass on the worker.
#   bench/scrolltext.sh [build-folder] [passes]   (default build/bench, Release; 3)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/bench}
passes=${2:-3}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTUNEDECK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target scrolltext_bench >/dev/null
QT_QPA_PLATFORM=offscreen "$build/bin/scrolltext_bench" "$passes"
