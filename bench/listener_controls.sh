#!/usr/bin/env bash
# Offline render cost with the listener's settings: CPU time of tdplay --render with --transpose 3
# --tempo 150 against the plain render of the same song (target: ratio <= 1.05). Also per second
# of sound written, where the faster tempo puts 1.5 times the song into each second.
# Usage: bench/listener_controls.sh [SONG.mid]   (BUILD_DIR=... to reuse a build; RUNS=n)
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build/bench-engine}"
runs="${RUNS:-5}"
media="${TUNEDECK_MEDIA_DIR:-$root/../shared/media}"
song="${1:-$media/debian/mma/deep-river.mid}"
[ -f "$song" ] || song="$root/examples/ode_to_joy.mid"

if [ -z "${BUILD_DIR:-}" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTUNEDECK_TESTS=OFF -DTUNEDECK_BENCH=ON >/dev/null
fi
cmake --build "$build" -j2 --target tdplay >/dev/null
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Best of $runs CPU seconds (user + system) of a command: on a shared machine the wall clock
# measures the other programs as much as this one.
best_of() {
    local best="" took
    for _ in $(seq "$runs"); do
        took=$( { TIMEFORMAT='%3U %3S'; time "$@" >/dev/null 2>&1; } 2>&1 | awk '{ printf "%.3f", $1 + $2 }')
        if [ -z "$best" ] || awk -v t="$took" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$took; fi
    done
    echo "$best"
}

# Seconds of sound in a wave file tdplay wrote (44-byte header's data size / 8 bytes a frame).
seconds_of() {
    local bytes
    bytes=$(stat -c %s "$1")
    awk -v b="$bytes" 'BEGIN { printf "%.3f", (b - 44) / 8 / 44100 }'
}

echo "song:  $song ($("$build/bin/tdplay" --info "$song" | cut -f3) ms)"
echo "cores: $(nproc), best of $runs runs"
plain=$(best_of "$build/bin/tdplay" --render "$work/plain.wav" "$song")
set_=$(best_of "$build/bin/tdplay" --render "$work/set.wav" --transpose 3 --tempo 150 "$song")
plain_s=$(seconds_of "$work/plain.wav")
set_s=$(seconds_of "$work/set.wav")
printf '%-44s %7.3f s CPU for %7.3f s of sound\n' "plain render" "$plain" "$plain_s"
printf '%-44s %7.3f s CPU for %7.3f s of sound\n' "render with --transpose 3 --tempo 150" "$set_" "$set_s"
printf '%-44s %7.3f   (target <= 1.05)\n' "ratio, whole song" "$(awk -v a="$set_" -v b="$plain" 'BEGIN { print a / b }')"
printf '%-44s %7.3f   (1.5 times the song a second; for information)\n' "ratio, per second of sound" \
    "$(awk -v a="$set_" -v as="$set_s" -v b="$plain" -v bs="$plain_s" 'BEGIN { print (a / as) / (b / bs) }')"
