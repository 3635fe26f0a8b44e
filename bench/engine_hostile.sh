#!/usr/bin/env bash
# The engine under hostile and huge files, side by side with other players:
#   - peak RSS and wall time of `tdplay --info` and of playing 5 s (null output) on a 60 MB song
#     of 10.5 M notes at one tick (budgets: 3 x file + 40 MB and 4 x file + 60 MB) and on a
#     2 h 10 min wave (sparse file); fluidsynth playing the song (SDL's dummy driver, real
#     time), sox decoding 5 s of the wave, and paplay / play -q when a sound server answers
#   - the worst Open, Stop, Skip, Seek, Close and program-end time over the hostile set on the
#     null and SDL (dummy; and PulseAudio, when a server answers) outputs (budget 50 ms); Open ->
#     first block (30 ms) and seek -> first block (20 ms) for the 2-hour wave
# Usage: bench/engine_hostile.sh   (BUILD_DIR=... to reuse a build with tests, e.g. build/ci)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build/bench-engine-hostile}"
if [ -z "${BUILD_DIR:-}" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTUNEDECK_BENCH=ON >/dev/null
fi
cmake --build "$build" -j2 --target tdplay enginehostilebench >/dev/null
tdplay="$build/bin/tdplay"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
export SDL_AUDIODRIVER=dummy

"$build/bin/enginehostilebench" song "$work/song.mid"
"$build/bin/enginehostilebench" longwave "$work/long.wav"
song_mb=$(( $(stat -c %s "$work/song.mid") / 1000000 ))

# measure LABEL BUDGET_MB COMMAND...: peak RSS and seconds of COMMAND (run to its end or
# stopped after 5 s by timeout, which the figure includes).
measure() {
    local label="$1" budget="$2"
    shift 2
    /usr/bin/time -f "%e %M" -o "$work/time" "$@" >/dev/null 2>&1 || true
    local secs kb
    read -r secs kb < <(tail -n 1 "$work/time")
    if [ "$budget" = "-" ]; then
        printf '  %-44s %7.1f MB %7.2f s   (peer)\n' "$label" "$(echo "$kb / 1024" | bc -l)" "$secs"
    else
        local verdict=ok
        [ "$kb" -gt $(( budget * 1024 )) ] && verdict=OVER
        printf '  %-44s %7.1f MB %7.2f s   budget %d MB %s\n' "$label" \
            "$(echo "$kb / 1024" | bc -l)" "$secs" "$budget" "$verdict"
    fi
}

soundfont=/usr/share/sounds/sf2/default-GM.sf2
echo "60 MB song ($song_mb MB, 10.5 M notes at tick 0):"
measure "tdplay --info" $(( 3 * song_mb + 40 )) "$tdplay" --info "$work/song.mid"
measure "tdplay, 5 s on the null output" $(( 4 * song_mb + 60 )) \
    env TUNEDECK_OUTPUT=null timeout 5 "$tdplay" "$work/song.mid"
if command -v fluidsynth >/dev/null && [ -f "$soundfont" ]; then
    measure "fluidsynth -a sdl2 (dummy), 5 s" - \
        timeout 5 fluidsynth -ni -q -a sdl2 "$soundfont" "$work/song.mid"
fi

echo "2 h 10 min wave (16-bit stereo 44.1 kHz, $(( $(stat -c %s "$work/long.wav") / 1000000 )) MB, sparse):"
measure "tdplay --info" 60 "$tdplay" --info "$work/long.wav"
measure "tdplay, 5 s on the null output" 60 \
    env TUNEDECK_OUTPUT=null timeout 5 "$tdplay" "$work/long.wav"
measure "tdplay --render --max-seconds 5" 60 "$tdplay" --render "$work/out.wav" --max-seconds 5 \
    "$work/long.wav"
if command -v sox >/dev/null; then
    measure "sox, decode 5 s (no device)" - sox -q "$work/long.wav" -t null /dev/null trim 0 5
fi
# paplay and play -q need a sound server: the running one, else a private PulseAudio with a
# null sink in the work folder.
pulse_pid=""
if command -v pactl >/dev/null && ! pactl info >/dev/null 2>&1 && command -v pulseaudio >/dev/null
then
    mkdir -p "$work/pulse/home" "$work/pulse/run"
    HOME="$work/pulse/home" XDG_RUNTIME_DIR="$work/pulse/run" pulseaudio -n --daemonize=no \
        --exit-idle-time=-1 -L "module-null-sink sink_name=bench" \
        -L "module-native-protocol-unix socket=$work/pulse/socket auth-anonymous=1" \
        >/dev/null 2>&1 &
    pulse_pid=$!
    export PULSE_SERVER="unix:$work/pulse/socket"
    for _ in $(seq 50); do pactl info >/dev/null 2>&1 && break; sleep 0.1; done
fi
if command -v pactl >/dev/null && pactl info >/dev/null 2>&1; then
    measure "tdplay, 5 s through PulseAudio (SDL)" 60 \
        env SDL_AUDIODRIVER=pulseaudio timeout 5 "$tdplay" "$work/long.wav"
    measure "paplay, 5 s" - timeout 5 paplay "$work/long.wav"
    # The SDL rows again through the sound server, where closing a stream waits for it.
    echo "Hostile set through PulseAudio (ms; the sdl rows):"
    SDL_AUDIODRIVER=pulseaudio "$build/bin/enginehostilebench" latency "$work/set-pulse"
    if ls /usr/lib/*/sox/libsox_fmt_pulse* >/dev/null 2>&1; then
        measure "play -q, 5 s" - env AUDIODRIVER=pulseaudio timeout 5 play -q "$work/long.wav"
    else
        echo "  play -q: sox has no PulseAudio output here (libsox-fmt-pulse), not measured"
    fi
else
    echo "  paplay / play -q: no sound server can be started here, not measured"
fi
if [ -n "$pulse_pid" ]; then
    kill "$pulse_pid" 2>/dev/null || true
    wait "$pulse_pid" 2>/dev/null || true
fi

echo "Hostile set (ms):"
"$build/bin/enginehostilebench" latency "$work/set"
