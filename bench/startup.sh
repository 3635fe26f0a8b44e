#!/usr/bin/env bash
# Start-up of the player: milliseconds from launching the program to the first paint of its main
# window, and the idle program's peak memory (VmHWM) a few seconds later, over several runs on
# an X server (Xvfb is started when there is no display).
#   bench/startup.sh [build-folder] [runs]     (default build/bench, configured RelWithDebInfo; 5)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build/bench}")
runs=${2:-5}

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a "$0" "$build" "$runs"
fi
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target tunedeck >/dev/null

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
echo "run  first-paint-ms  idle-peak-rss-kB   (output: ${TUNEDECK_OUTPUT:-auto}, folder: empty)"
for run in $(seq "$runs"); do
    log="$work/run$run.log"
    : >"$log"
    start_ms=$(date +%s%3N)
    (cd "$work" && exec env QT_LOGGING_RULES="tunedeck.startup.debug=true" \
        "$build/bin/tunedeck" >"$log" 2>&1) &
    pid=$!
    # grep ends at the first match; tail ends with the program.
    timeout 30 grep -q -m1 'first paint at' < <(tail --pid="$pid" -n +1 -f "$log")
    paint_ms=$(sed -n 's/.*first paint at \([0-9]*\) ms.*/\1/p' "$log" | sed -n 1p)
    sleep 3 # Idle: the display timer ticks, nothing plays.
    rss=$(awk '/VmHWM/ { print $2 }' "/proc/$pid/status")
    kill "$pid"
    wait "$pid" 2>/dev/null || true
    printf '%3d  %14d  %16d\n' "$run" $((paint_ms - start_ms)) "$rss"
done
