#!/usr/bin/env bash
# Times the tip dialog's reading of a large tip file: the count on opening and one "Next >>";
# then shows the dialog on a file whose first line is huge and prints the repaint time and the
# peak resident memory while it shows, each beside its budget.
#   bench/orvkit_tip.sh [build-folder] [lines] [bytes-per-line] [MiB-of-the-huge-line]
#   (default build/bench, RelWithDebInfo; 65535 lines of 80 bytes; a 200 MiB line)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/bench}

if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target orvkit_tip_bench >/dev/null
QT_QPA_PLATFORM=offscreen "$build/bin/orvkit_tip_bench" "${2:-65535}" "${3:-80}"
echo
QT_QPA_PLATFORM=offscreen "$build/bin/orvkit_tip_bench" --huge-line "${4:-200}"
