#!/usr/bin/env bash
# The play list plays as a queue in the real program: one bundled example of each kind (MIDI,
# RMID, wave) is added with "Add all" and played with Play; the status goes Playing -> Stopped as
# the queue empties, and the sound goes to a private PulseAudio server with a null sink, whose
# monitor parec records: it must not be silent, and the sound heard must last about the summed
# lengths of the songs.
#   play_queue.sh PROGRAM EXAMPLES_DIR ARTIFACT_DIR      (run under xvfb-run -a)
# On failure the screenshots, the program's log and the analysis stay in ARTIFACT_DIR.
set -euo pipefail
program=$(realpath "$1")
examples=$(realpath "$2")
artifacts=$3
mkdir -p "$artifacts"
. "$(dirname "$0")/lib.sh"

# Waits until the program's log has a line matching $1: grep ends at the first match, and tail,
# which follows the file as it grows, ends with the program.

# One song of each kind: the test plays in real time, and it runs alone (more songs would only
# make the whole suite slower).
mkdir "$work/songs"
for kind in mid rmi wav; do
    for f in "$examples"/*."$kind"; do
        [ -f "$f" ] && cp "$f" "$work/songs/" && break
    done
done
count=$(ls "$work/songs" | wc -l)
[ "$count" -ge 2 ] || fail "fewer than two example songs in $examples"

# The private server: its own runtime folder and home, no autospawn; the program and parec find
# it through the environment.
for tool in pulseaudio pactl parec; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed (scripts/deps.sh installs it)"
        exit 0
    fi
done
mkdir -p "$work/runtime" "$work/home"
echo "autospawn = no" >"$work/client.conf"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" PULSE_CLIENTCONFIG="$work/client.conf"
export PULSE_SERVER="unix:$work/runtime/pulse/native" SDL_AUDIODRIVER=pulseaudio
unset TUNEDECK_OUTPUT
if ! pulseaudio --daemonize=yes -n --exit-idle-time=-1 --system=false --disallow-exit \
    --log-target=file:"$work/pulse.log" \
    -L module-null-sink -L 'module-native-protocol-unix auth-anonymous=1'; then
    echo "SKIP: no private PulseAudio server could start: $(tail -3 "$work/pulse.log")"
    exit 0
fi
stop_at_exit "$(cat "$work/runtime/pulse/pid")"
parec -d null.monitor --raw --format=float32le --rate=44100 --channels=2 --latency-msec=20 \
    >"$work/capture.raw" &
recorder=$!
stop_at_exit "$recorder"
# Recording has begun once the server lists parec's stream (it announces this only by its state).
for _ in $(seq 500); do
    [ -n "$(pactl list short source-outputs)" ] && break
    sleep 0.02
done
[ -n "$(pactl list short source-outputs)" ] || fail "parec did not start recording"

: >"$work/program.log"
(cd "$work/songs" && exec env QT_LOGGING_RULES="tunedeck.sequencer.debug=true" \
    "$program" >"$work/program.log" 2>&1) &
pid=$!
stop_at_exit "$pid"
wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name 'Tunedeck' | sed -n 1p) \
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
kill -INT "$recorder"
wait "$recorder" || true

started=$(grep -c 'start ' "$work/program.log" || true)
[ "$started" -eq "$count" ] || fail "$started songs started, expected $count"
total_ms=$(sed -n 's/.*length \([0-9]*\) ms.*/\1/p' "$work/program.log" | awk '{ s += $1 } END { print s + 0 }')

# The capture: 32-bit float stereo at 44.1 kHz. The audible span runs from the first to the
# last sample above the noise floor; a MIDI song's last notes ring on after its length, hence
# the tolerance.
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
# Within the span, digital silence (both channels exactly 0) of 5 ms or more is what the null
# sink plays where no stream is (the change of song) or where a stream ran dry because the
# server ran late on a busy machine: it is not counted, so the figure is how much sound came
# out. One such silence over 1.5 s would be a queue that stalls between songs.
silent_frames, longest, run = 0, 0, 0
for i in range(loud[0], loud[-1] + channels, channels):
    if i < loud[-1] and samples[i] == 0.0 and samples[i + 1] == 0.0:
        run += 1
        continue
    if run >= rate // 200:
        silent_frames += run
        longest = max(longest, run)
    run = 0
heard_s = span_s - silent_frames / rate
print(f"captured {len(samples) / channels / rate:.2f} s, audible span {span_s:.2f} s, "
      f"heard {heard_s:.2f} s (longest silence {longest / rate:.2f} s), "
      f"songs {expected_s:.2f} s, peak {peak:.3f}")
if abs(heard_s - expected_s) > 3.0:
    sys.exit(f"{heard_s:.2f} s of sound heard, not the songs' {expected_s:.2f} s")
if longest > 1.5 * rate:
    sys.exit(f"the queue fell silent for {longest / rate:.2f} s")
PY
cat "$work/analysis.log"
cp "$work/playing.png" "$work/stopped.png" "$artifacts/" 2>/dev/null || true
echo "play queue: $count songs played in turn and stopped"
