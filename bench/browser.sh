#!/usr/bin/env bash
# Times the browser on a folder of 100 000 files, half of them playable: listing it (budget 1 s),
# and Add all, Remove of 50 000 of 100 000 and Remove all on the play list (budget 200 ms each).
#   bench/browser.sh [build-folder]     (default build/bench, configured Release)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$here/build/bench}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTUNEDECK_BENCH=ON >/dev/null
cmake --build "$build" -j2 --target browser_bench >/dev/null

folder=${TMPDIR:-/tmp}/tunedeck-bench-100k
if [ ! -f "$folder/.complete" ]; then
    rm -rf "$folder"
    mkdir -p "$folder"
    python3 - "$folder" <<'PY'
import os, sys
folder = sys.argv[1]
for i in range(50000):
    open(os.path.join(folder, f"song{i:05d}.mid"), "w").close()
    open(os.path.join(folder, f"notes{i:05d}.txt"), "w").close()
PY
    touch "$folder/.complete"
fi

echo "== warm cache, locale ${LANG:-C}"
QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy TUNEDECK_OUTPUT=null "$build/bin/browser_bench" "$folder"
# Qt collates with ICU's own data, so a real locale's order is measured even where the C
# library has no such locale installed.
echo "== warm cache, locale en_US.UTF-8"
LANG=en_US.UTF-8 QT_QPA_PLATFORM=offscreen SDL_AUDIODRIVER=dummy TUNEDECK_OUTPUT=null "$build/bin/browser_bench" "$folder"
