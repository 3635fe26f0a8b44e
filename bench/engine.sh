#!/usr/bin/env bash
# Engine figures, side by side in one run:
#   - offline render time of tdplay --render against fluidsynth -ni -F on the same song, soundfont
#     and rate (ratio; target <= 1.0)
#   - Open -> first audio block and seek latency on the null output (targets 30 ms and 20 ms)
#   - CPU while a song plays in real time on the null output
# Usage: bench/engine.sh [SONG.mid]   (BUILD_DIR=... to reuse a build; RUNS=n render runs)
# Builds tdplay and enginebench in Release into build/bench-engine unless BUILD_DIR names a build.
set -euo pipefail

root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build/bench-engine}"
runs="${RUNS:-3}"
media="${TUNEDECK_MEDIA_DIR:-$root/../shared/media}"
song="${1:-$media/debian/mma/deep-river.mid}"

if [ ! -f "$song" ]; then
    echo "engine.sh: no song at $song (give one as the argument)" >&2
    exit 1
fi
if [ -z "${BUILD_DIR:-}" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTUNEDECK_TESTS=OFF -DTUNEDECK_BENCH=ON >/dev/null
fi
cmake --build "$build" -j2 --target tdplay enginebench >/dev/null

soundfont="${TUNEDECK_SOUNDFONT:-}"
if [ -z "$soundfont" ]; then
    for candidate in /usr/share/sounds/sf2/default-GM.sf2 /usr/share/sounds/sf2/TimGM6mb.sf2 \
                     /usr/share/sounds/sf2/FluidR3_GM.sf2; do
        if [ -f "$candidate" ]; then soundfont="$candidate"; break; fi
    done
fi
export TUNEDECK_SOUNDFONT="$soundfont"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

# Best of $runs wall-clock seconds of a command.
best_of() {
    local best=""
    for _ in $(seq "$runs"); do
        local start end
        start=$(date +%s.%N)
        "$@" >/dev/null 2>&1
        end=$(date +%s.%N)
        local took
        took=$(awk -v a="$end" -v b="$start" 'BEGIN { printf "%.3f", a - b }')
        if [ -z "$best" ] || awk -v t="$took" -v b="$best" 'BEGIN { exit !(t < b) }'; then best=$took; fi
    done
    echo "$best"
}

echo "song:      $song ($("$build/bin/tdplay" --info "$song" | cut -f3) ms)"
echo "soundfont: $soundfont"
echo "cores:     $(nproc), best of $runs runs"
echo
ours=$(best_of "$build/bin/tdplay" --render "$work/ours.wav" "$song")
if command -v fluidsynth >/dev/null; then
    theirs=$(best_of fluidsynth -ni -q -F "$work/theirs.wav" -r 44100 "$soundfont" "$song")
    printf '%-34s %7.3f s\n' "offline render, tdplay --render" "$ours"
    printf '%-34s %7.3f s\n' "offline render, fluidsynth -ni -F" "$theirs"
    printf '%-34s %7.3f   (target <= 1.0)\n' "ratio tdplay / fluidsynth" "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print a / b }')"
else
    printf '%-34s %7.3f s   (fluidsynth not installed: no comparison)\n' "offline render, tdplay --render" "$ours"
fi
echo
"$build/bin/enginebench" "$song" "${CPU_SECONDS:-10}"
