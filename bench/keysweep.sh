#!/usr/bin/env bash
# Deleting a 10 000-key tree from a 50 MB hive with keysweep, against reading and writing the
# same file once (dd with fsync, which is the least any rewrite costs). Prints both times and
# their ratio; the target is a ratio of at most 3. Each figure is the best of a few runs, every
# run on a fresh copy of the hive.
#   bench/keysweep.sh [path/to/keysweep]     (default: build/release/bin/keysweep, built if missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
keysweep=${1:-$root/build/release/bin/keysweep}
runs=${KEYSWEEP_BENCH_RUNS:-3}
if [ ! -x "$keysweep" ]; then
    cmake --preset release -S "$root" >/dev/null
    cmake --build "$root/build/release" --target keysweep -j 2 >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/keysweep-bench-XXXXXX")
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/prefix" "$work/tmp"

# A user.reg of about 50 MB: filler keys with values all around, and in the middle a tree of
# 10 000 keys (10 x 10 x 100 leaves) under Software\Bench\Target.
python3 - "$work/hive.reg" <<'PY'
import sys
out = open(sys.argv[1], "w", newline="\n")
out.write("WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n")
blob = ",".join("%02x" % (i % 256) for i in range(200))
lines = []
while blob:
    lines.append(blob[:75]); blob = blob[75:]
value = '"data"=hex:' + ",\\\n  ".join(l.rstrip(",") + "," if i < len(lines) - 1 else l for i, l in enumerate(lines)) + "\n"
def section(path, n):
    out.write("\n[%s] 1796688663\n#time=1dd86a89d154be4\n\"name\"=\"filler %d\"\n%s" % (path, n, value))
def filler(prefix, count):
    for i in range(count):
        section("Software\\\\%s\\\\Group %04d\\\\Key %d" % (prefix, i // 50, i % 50), i)
filler("Aardvark", 35000)
for a in range(10):
    for b in range(10):
        for c in range(100):
            out.write("\n[Software\\\\Bench\\\\Target\\\\Level %d\\\\Sub %d\\\\Key %03d] 1796688663\n#time=1dd86a89d154be4\n\"v\"=dword:%08x\n" % (a, b, c, c))
filler("Zebra", 35000)
out.close()
PY
size=$(stat -c %s "$work/hive.reg")
keys=$(grep -c '^\[Software\\\\Bench\\\\Target' "$work/hive.reg")

# Wall time is what the target is about; CPU time (user + system) is printed beside it because
# on a busy shared machine the wall time mostly measures waiting for a core.
TIMEFORMAT='%R %U %S'
measure() {  # prints "wall_ms cpu_ms" of the command
    local out
    out=$( { time "$@" >/dev/null; } 2>&1 | tail -1 )
    awk -v t="$out" 'BEGIN { split(t, f, " "); printf "%d %d\n", f[1] * 1000, (f[2] + f[3]) * 1000 }'
}
best_copy=""; best_copy_cpu=""
best_sweep=""; best_sweep_cpu=""
for _ in $(seq "$runs"); do
    cp "$work/hive.reg" "$work/prefix/user.reg"
    sync
    read -r wall cpu < <(measure dd if="$work/prefix/user.reg" of="$work/copy.reg" bs=1M conv=fsync status=none)
    if [ -z "$best_copy" ] || [ "$wall" -lt "$best_copy" ]; then best_copy=$wall; fi
    if [ -z "$best_copy_cpu" ] || [ "$cpu" -lt "$best_copy_cpu" ]; then best_copy_cpu=$cpu; fi
    rm -f "$work/copy.reg"

    read -r wall cpu < <(measure env WINEPREFIX="$work/prefix" TMPDIR="$work/tmp" "$keysweep" -C 'Software\Bench\Target')
    if [ -z "$best_sweep" ] || [ "$wall" -lt "$best_sweep" ]; then best_sweep=$wall; fi
    if [ -z "$best_sweep_cpu" ] || [ "$cpu" -lt "$best_sweep_cpu" ]; then best_sweep_cpu=$cpu; fi
done

left=$(grep -c '^\[Software\\\\Bench\\\\Target' "$work/prefix/user.reg" || true)
if [ "$left" -ne 0 ]; then
    echo "keysweep left $left sections of the tree behind" >&2
    exit 1
fi
awk -v size="$size" -v keys="$keys" -v runs="$runs" -v copy="$best_copy" -v sweep="$best_sweep" \
    -v copycpu="$best_copy_cpu" -v sweepcpu="$best_sweep_cpu" 'BEGIN {
    printf "hive: %.1f MB, tree: %d keys; best of %d runs (ms)\n", size / 1e6, keys, runs
    printf "%-36s %8s %8s\n", "", "wall", "cpu"
    printf "%-36s %8d %8d\n", "read + write + fsync once (dd)", copy, copycpu
    printf "%-36s %8d %8d\n", "keysweep -C Software\\Bench\\Target", sweep, sweepcpu
    printf "ratio: %.2f wall (target <= 3), %.2f cpu\n", sweep / (copy > 0 ? copy : 1), sweepcpu / (copycpu > 0 ? copycpu : 1)
}'
