#!/usr/bin/env bash
# The program started with files, as a file manager starts it: milliseconds from the process's
# start until Play has opened a.mid and started the device (from the program's own log; the
# first block follows within one output period), milliseconds from launching `tunedeck a.mid
# b.wav` until the first audio block of a.mid has been rendered as seen from outside (the
# position on the bus has moved past 0; each question costs a gdbus start, so this includes up
# to one question's delay), and the milliseconds a second start `tunedeck c.mid`
# takes to hand its file over and end. A private session bus and Xvfb when there is no display.
#   bench/desktop.sh [build-folder] [runs]     (default build/bench, configured RelWithDebInfo; 5)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build/bench}")
runs=${2:-5}
budget_first_block_ms=1000
budget_hand_over_ms=300
# The silent real-time output unless a sound output is asked for: with no sound device the
# program would stop at its "Unable to play" box instead.
export TUNEDECK_OUTPUT=${TUNEDECK_OUTPUT-null}

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a "$0" "$build" "$runs"
fi
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target tunedeck >/dev/null

work=$(mktemp -d)
bus_pid=""
trap '[ -n "$bus_pid" ] && kill "$bus_pid"; rm -rf "$work"' EXIT
exec 3>"$work/bus.address" 4>"$work/bus.pid"
dbus-daemon --session --fork --print-address=3 --print-pid=4
exec 3>&- 4>&-
export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus.address")
bus_pid=$(head -1 "$work/bus.pid")
cp "$here/examples/ode_to_joy.mid" "$work/a.mid"
cp "$here/examples/westminster_chimes.wav" "$work/b.wav"
cp "$here/examples/twinkle_twinkle.mid" "$work/c.mid"

position() {
    gdbus call --session --dest org.mpris.MediaPlayer2.tunedeck --object-path /org/mpris/MediaPlayer2 \
        --method org.freedesktop.DBus.Properties.Get org.mpris.MediaPlayer2.Player Position \
        2>/dev/null | sed -n 's/.*int64 \([0-9]*\).*/\1/p'
}

echo "run  play-started-ms  first-block-seen-ms (budget $budget_first_block_ms)  hand-over-ms (budget $budget_hand_over_ms)   output: ${TUNEDECK_OUTPUT:-auto}"
for run in $(seq "$runs"); do
    start_ms=$(date +%s%3N)
    (cd "$work" && exec env QT_LOGGING_RULES="tunedeck.sequencer.debug=true" \
        QT_MESSAGE_PATTERN="%{time process} %{message}" \
        "$build/bin/tunedeck" a.mid b.wav >"$work/run$run.log" 2>&1) &
    pid=$!
    first=""
    for _ in $(seq 2000); do
        p=$(position || true)
        if [ -n "$p" ] && [ "$p" -gt 0 ]; then first=$(( $(date +%s%3N) - start_ms )); break; fi
    done
    hand_start=$(date +%s%3N)
    (cd "$work" && "$build/bin/tunedeck" c.mid)
    hand=$(( $(date +%s%3N) - hand_start ))
    gdbus call --session --dest org.mpris.MediaPlayer2.tunedeck --object-path /org/mpris/MediaPlayer2 \
        --method org.mpris.MediaPlayer2.Quit >/dev/null 2>&1 || kill "$pid"
    wait "$pid" || true
    started=$(awk '/ start / { printf "%d", $1 * 1000; exit }' "$work/run$run.log")
    printf '%3d  %15s  %37s  %28s\n' "$run" "${started:-none}" "${first:-none}" "$hand"
done
