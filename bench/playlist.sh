#!/usr/bin/env bash
# Save and load of a 100 000-entry play list against plain write/read of the same bytes.
#   bench/playlist.sh [entries] [processes]     (builds in build/bench, configured RelWithDebInfo)
# Each process takes the best of 15 runs of every figure. Where a process's buffers land in
# memory moves its figures by up to a third on some processors, so several processes run and
# the median of their ratios is printed last.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build/bench"
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
cmake --build "$build" -j2 --target playlist_bench >/dev/null
entries=${1:-100000}
processes=${2:-5}
out=$(mktemp)
trap 'rm -f "$out"' EXIT
for _ in $(seq "$processes"); do
    "$build/bin/playlist_bench" "$entries" | tee -a "$out"
    echo
done
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
echo "median over $processes processes:"
echo "  save  $(grep '^save ' "$out" | awk '{ print $2 }' | median) ms"
echo "  save / plain write+fsync  $(grep '^plain write+fsync' "$out" | awk '{ print $7 }' | median)"
echo "  save / plain write        $(grep '^plain write  ' "$out" | awk '{ print $7 }' | median)"
echo "  load  $(grep '^load ' "$out" | awk '{ print $2 }' | median) ms"
echo "  load / plain read         $(grep '^plain read' "$out" | awk '{ print $7 }' | median)"
