#!/usr/bin/env bash
# CPU while one MIDI song plays in real time through a private PulseAudio server (null sink):
# tdplay and the whole player (display timer included) against `fluidsynth -a pulseaudio` on the
# same song and soundfont, side by side; then Open -> first sound at the server.
#   bench/play_cpu.sh [build-folder] [song]  (default build/bench; examples/ode_to_joy.mid)
# Budgets: tdplay and the player at most 0.8x fluidsynth's CPU; Open -> first sound 100 ms.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build/bench}")
song=$(realpath "${2:-$here/examples/ode_to_joy.mid}")

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a "$0" "$build" "$song"
fi
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DTUNEDECK_BENCH=ON >/dev/null
fi
cmake --build "$build" -j2 --target tunedeck tdplay soundserverbench >/dev/null

soundfont=${TUNEDECK_SOUNDFONT:-}
for candidate in /usr/share/sounds/sf2/default-GM.sf2 /usr/share/sounds/sf2/TimGM6mb.sf2 \
    /usr/share/sounds/sf2/FluidR3_GM.sf2; do
    if [ -z "$soundfont" ] && [ -f "$candidate" ]; then soundfont=$candidate; fi
done
export TUNEDECK_SOUNDFONT=$soundfont

# The private server: its own runtime folder and home, no autospawn, and every client of this
# script (SDL, fluidsynth, pactl) pointed at it.
work=$(mktemp -d)
pid=""
cleanup() {
    [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
    [ -f "$work/runtime/pulse/pid" ] && kill "$(cat "$work/runtime/pulse/pid")" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
mkdir -p "$work/runtime" "$work/home" "$work/songs"
echo "autospawn = no" >"$work/client.conf"
export HOME="$work/home" XDG_RUNTIME_DIR="$work/runtime" PULSE_CLIENTCONFIG="$work/client.conf"
export PULSE_SERVER="unix:$work/runtime/pulse/native" SDL_AUDIODRIVER=pulseaudio
unset TUNEDECK_OUTPUT
pulseaudio --daemonize=yes -n --exit-idle-time=-1 --system=false --disallow-exit \
    --log-target=file:"$work/pulse.log" \
    -L module-null-sink -L 'module-native-protocol-unix auth-anonymous=1'
cp "$song" "$work/songs/"
tick=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
seconds() { awk -v t="$1" -v hz="$tick" 'BEGIN { printf "%.2f", t / hz }'; }

# A command run to its end: CPU seconds (user + system) and wall seconds.
measure() {
    /usr/bin/time -f '%U %S %e' -o "$work/time" "$@" >/dev/null 2>&1 </dev/null
    awk '{ printf "%.2f %.2f\n", $1 + $2, $3 }' "$work/time"
}

read -r td_cpu td_wall < <(measure "$build/bin/tdplay" --output sdl "$song")
read -r fs_cpu fs_wall < <(measure fluidsynth -n -i -q -a pulseaudio "$soundfont" "$song")

# The player: Add all, Play, and count its CPU time from "Playing" to "Stopped".
log="$work/player.log"
: >"$log"
(cd "$work/songs" && exec env QT_LOGGING_RULES="tunedeck.sequencer.debug=true" \
    "$build/bin/tunedeck" >"$log" 2>&1) &
pid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name Tunedeck | sed -n 1p)
xdotool windowfocus --sync "$wid"
xdotool key --clearmodifiers alt+l alt+p
# grep ends at the first match; tail ends with the program.
timeout 30 grep -q -m1 'status Playing' < <(tail --pid="$pid" -n +1 -f "$log")
cpu0=$(cpu_ticks "$pid"); wall0=$(date +%s%N)
timeout 3600 grep -q -m1 'status Stopped' < <(tail --pid="$pid" -n +1 -f "$log")
cpu1=$(cpu_ticks "$pid"); wall1=$(date +%s%N)
kill "$pid"; wait "$pid" 2>/dev/null || true; pid=""
pl_cpu=$(seconds "$((cpu1 - cpu0))")
pl_wall=$(awk -v ns="$((wall1 - wall0))" 'BEGIN { printf "%.2f", ns / 1e9 }')

echo "soundfont: $soundfont; song: $(basename "$song"); server: private pulseaudio, null sink"
printf '%-12s %8s %8s %8s %14s\n' program cpu-s wall-s cpu-% "vs fluidsynth"
row() {
    printf '%-12s %8s %8s %8s %14s\n' "$1" "$2" "$3" \
        "$(awk -v c="$2" -v w="$3" 'BEGIN { printf "%.1f", 100 * c / w }')" "$4"
}
ratio() { awk -v a="$1" -v b="$fs_cpu" 'BEGIN { printf "%.2fx (<= 0.8x)", (b > 0 ? a / b : 0) }'; }
row tdplay "$td_cpu" "$td_wall" "$(ratio "$td_cpu")"
row tunedeck "$pl_cpu" "$pl_wall" "$(ratio "$pl_cpu")"
row fluidsynth "$fs_cpu" "$fs_wall" "1.00x"

echo
echo "open -> first sound at the server (budget 100 ms):"
"$build/bin/soundserverbench" "$song" 5
