#!/usr/bin/env bash
# The play list plays as a queue in the real program: the bundled examples are added with
# "Add all" and played with Play; the status goes Playing -> Stopped as the queue empties, and
# SDL's disk audio driver captures the sound, which must not be silent and must last about the
# summed lengths of the songs.
#   play_queue.sh PROGRAM EXAMPLES_DIR ARTIFACT_DIR      (run under xvfb-run -a)
# On failure the screenshots, the program's log and the analysis stay in ARTIFACT_DIR.
set -euo pipefail
program=$(realpath "$1")
examples=$(realpath "$2")
artifacts=$3
mkdir -p "$artifacts"
work=$(mktemp -d)
pid=""
cleanup() {
    if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then kill "$pid"; fi
    rm -rf "$work"
}
trap cleanup EXIT

fail() {
    echo "FAIL: $*" >&2
    import -window root "$artifacts/play_queue-failure.png" 2>/dev/null || true
    cp "$work"/*.png "$work"/*.log "$artifacts/" 2>/dev/null || true
    exit 1
}

# Waits until the program's log has a line matching $1: grep ends at the first match, and tail,
# which follows the file as it grows, ends with the program.
await_log() {
    timeout "$2" grep -q -m1 -- "$1" < <(tail --pid="$pid" -n +1 -f "$work/program.log") \
        || fail "no '$1' in the program's log within $2 s"
}

# Short songs of every kind; the long ones would only make the test slow.
mkdir "$work/songs"
for f in "$examples"/*; do
    case "$f" in *.mid | *.rmi | *.wav) cp "$f" "$work/songs/" ;; esac
done
count=$(ls "$work/songs" | wc -l)
[ "$count" -ge 2 ] || fail "fewer than two example songs in $examples"

: >"$work/program.log"
(cd "$work/songs" && exec env SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/capture.raw" \
    QT_LOGGING_RULES="tunedeck.sequencer.debug=true" "$program" >"$work/program.log" 2>&1) &
pid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name 'Tunedeck' | head -1) \
    || fail "the main window did not appear"
[ -n "$wid" ] || fail "the main window did not appear"
xdotool windowfocus --sync "$wid"
xdotool key --clearmodifiers alt+l   # Add all
xdotool key --clearmodifiers alt+p   # Play
await_log "status Playing" 20
import -window "$wid" "$work/playing.png" || true

await_log "status Stopped" 600
import -window "$wid" "$work/stopped.png" || true
xdotool key --clearmodifiers ctrl+x
timeout 20 tail --pid="$pid" -f /dev/null || fail "the program did not end"
wait "$pid" || fail "the program ended with status $?"
pid=""

started=$(grep -c 'start ' "$work/program.log" || true)
[ "$started" -eq "$count" ] || fail "$started songs started, expected $count"
total_ms=$(sed -n 's/.*length \([0-9]*\) ms.*/\1/p' "$work/program.log" | awk '{ s += $1 } END { print s + 0 }')

# The capture: 32-bit float stereo at 44.1 kHz. The audible span runs from the first to the
# last sample above the noise floor; between songs the output is silent for a moment, and a
# MIDI song's last notes ring on after its length, hence the tolerance.
python3 - "$work/capture.raw" "$total_ms" >"$work/analysis.log" <<'PY' || fail "$(cat "$work/analysis.log")"
import array, sys
samples = array.array("f")
with open(sys.argv[1], "rb") as capture:
    samples.frombytes(capture.read())
expected_s = int(sys.argv[2]) / 1000
rate, channels, floor = 44100, 2, 1e-3
loud = [i for i in range(0, len(samples), channels * 64) if abs(samples[i]) > floor or abs(samples[i + 1]) > floor]
if not loud:
    sys.exit("the captured audio is silent")
span_s = (loud[-1] - loud[0]) / channels / rate
peak = max(abs(x) for x in samples)
print(f"captured {len(samples) / channels / rate:.2f} s, audible span {span_s:.2f} s, "
      f"songs {expected_s:.2f} s, peak {peak:.3f}")
if abs(span_s - expected_s) > 3.0:
    sys.exit(f"audible span {span_s:.2f} s is not the songs' {expected_s:.2f} s")
PY
cat "$work/analysis.log"
cp "$work/playing.png" "$work/stopped.png" "$artifacts/" 2>/dev/null || true
echo "play queue: $count songs played in turn and stopped"
