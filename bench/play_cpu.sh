#!/usr/bin/env bash
# CPU use of the whole player while it plays (display timer included) against the fluidsynth
# command line playing the same MIDI files in real time with the same soundfont. Both write to
# SDL's disk audio driver, which paces output in real time, so neither needs a sound card.
#   bench/play_cpu.sh [build-folder] [song...]  (default build/bench; the bundled MIDI examples)
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build/bench}")
shift || true
songs=("$@")
if [ ${#songs[@]} -eq 0 ]; then
    songs=("$here"/examples/*.mid "$here"/examples/*.rmi)
fi

if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a "$0" "$build" "${songs[@]}"
fi
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target tunedeck >/dev/null

soundfont=${TUNEDECK_SOUNDFONT:-}
for candidate in /usr/share/sounds/sf2/default-GM.sf2 /usr/share/sounds/sf2/TimGM6mb.sf2 \
    /usr/share/sounds/sf2/FluidR3_GM.sf2; do
    if [ -z "$soundfont" ] && [ -f "$candidate" ]; then soundfont=$candidate; fi
done
export TUNEDECK_SOUNDFONT=$soundfont

work=$(mktemp -d)
pid=""
trap '[ -n "$pid" ] && kill "$pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir "$work/songs"
cp "${songs[@]}" "$work/songs/"
tick=$(getconf CLK_TCK)
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# The player: Add all, Play, and count its CPU time from "Playing" to "Stopped".
log="$work/player.log"
: >"$log"
(cd "$work/songs" && exec env SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/player.raw" \
    QT_LOGGING_RULES="tunedeck.sequencer.debug=true" "$build/bin/tunedeck" >"$log" 2>&1) &
pid=$!
wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name Tunedeck | head -1)
xdotool windowfocus --sync "$wid"
xdotool key --clearmodifiers alt+l alt+p
# grep ends at the first match; tail ends with the program.
timeout 30 grep -q -m1 'status Playing' < <(tail --pid="$pid" -n +1 -f "$log")
cpu0=$(cpu_ticks "$pid"); wall0=$(date +%s%N)
timeout 3600 grep -q -m1 'status Stopped' < <(tail --pid="$pid" -n +1 -f "$log")
cpu1=$(cpu_ticks "$pid"); wall1=$(date +%s%N)
kill "$pid"; wait "$pid" 2>/dev/null || true; pid=""
player_cpu=$(awk -v t="$((cpu1 - cpu0))" -v hz="$tick" 'BEGIN { printf "%.2f", t / hz }')
player_wall=$(awk -v ns="$((wall1 - wall0))" 'BEGIN { printf "%.2f", ns / 1e9 }')

# fluidsynth playing the same files one after the other, then quitting.
(cd "$work/songs" && exec env SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE="$work/fluidsynth.raw" \
    fluidsynth -n -i -q -a sdl2 "$soundfont" $(ls "$work/songs" | grep -i -E '\.(mid|rmi)$') \
    >"$work/fluidsynth.log" 2>&1) &
pid=$!
wall0=$(date +%s%N)
cpu_last=0
while kill -0 "$pid" 2>/dev/null; do
    cpu_last=$(cpu_ticks "$pid" 2>/dev/null || echo "$cpu_last")
    sleep 0.2 # Sampling the process's CPU counter until it ends; not synchronisation.
done
wall1=$(date +%s%N)
wait "$pid" 2>/dev/null || true; pid=""
fs_cpu=$(awk -v t="$cpu_last" -v hz="$tick" 'BEGIN { printf "%.2f", t / hz }')
fs_wall=$(awk -v ns="$((wall1 - wall0))" 'BEGIN { printf "%.2f", ns / 1e9 }')

echo "soundfont: $soundfont; songs: $(ls "$work/songs" | tr '\n' ' ')"
printf '%-12s %10s %10s %8s\n' program cpu-s wall-s cpu-%
printf '%-12s %10s %10s %8s\n' tunedeck "$player_cpu" "$player_wall" \
    "$(awk -v c="$player_cpu" -v w="$player_wall" 'BEGIN { printf "%.1f", 100 * c / w }')"
printf '%-12s %10s %10s %8s\n' fluidsynth "$fs_cpu" "$fs_wall" \
    "$(awk -v c="$fs_cpu" -v w="$fs_wall" 'BEGIN { printf "%.1f", 100 * c / w }')"
