#!/usr/bin/env bash
# Times the tip dialog's reading of a large tip file: the count on opening and one "Next >>".
#   bench/orvkit_tip.sh [build-folder] [lines] [bytes-per-line]
#   (default build/bench, Release; 65535 lines of 80 bytes)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/bench}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTUNEDECK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target orvkit_tip_bench >/dev/null
QT_QPA_PLATFORM=offscreen "$build/bin/orvkit_tip_bench" "${2:-65535}" "${3:-80}"
