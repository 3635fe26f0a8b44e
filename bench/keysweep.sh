#!/usr/bin/env bash
# keysweep deleting trees of a 100 MB user.reg, each figure beside its budget (at most 2 s, and
# faster than `wine reg delete` on the same prefix). Where Wine is installed, `wine reg delete`
# runs on the same hive side by side: from the server's start (it loads the hive) to its exit
# (it writes the hive back), which is what keysweep's figure covers too. Each keysweep figure is
# the best of a few runs, each on a fresh copy of the hive.
#   bench/keysweep.sh [path/to/keysweep]     (default: build/release/bin/keysweep, built if missing)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
keysweep=${1:-$root/build/release/bin/keysweep}
runs=${KEYSWEEP_BENCH_RUNS:-3}
budget_ms=2000
if [ ! -x "$keysweep" ]; then
    cmake --preset release -S "$root" >/dev/null
    cmake --build "$root/build/release" --target keysweep -j 2 >/dev/null
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/keysweep-bench-XXXXXX")
# A home of its own: wineboot's menu builder writes below $HOME and the XDG folders.
export HOME="$work/home" TMPDIR="$work/tmp" WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY XDG_CONFIG_HOME XDG_DATA_HOME XDG_CACHE_HOME
mkdir -p "$work/prefix" "$TMPDIR" "$HOME"
have_wine=0
if command -v wine >/dev/null 2>&1 && command -v wineserver >/dev/null 2>&1; then have_wine=1; fi
cleanup() {
    if [ "$have_wine" -eq 1 ]; then WINEPREFIX="$work/prefix" wineserver -k >/dev/null 2>&1 || true; fi
    rm -rf "$work"
}
trap cleanup EXIT

# With Wine the hive is a real prefix's user.reg with the bench's sections after Wine's own;
# without it, the same sections after a bare hive header.
if [ "$have_wine" -eq 1 ]; then
    WINEPREFIX="$work/prefix" wineboot -i >/dev/null 2>&1
    WINEPREFIX="$work/prefix" wineserver -w
    cp "$work/prefix/user.reg" "$work/hive.reg"
else
    printf 'WINE REGISTRY Version 2\n;; All keys relative to REGISTRY\\\\User\\\\S-1-5-21-0-0-0-1000\n\n#arch=win64\n' >"$work/hive.reg"
fi

# About 100 MB: 140 000 filler keys with values around a tree of 10 000 keys (10 x 10 x 100
# leaves) under Software\Bench\Target.
python3 - "$work/hive.reg" <<'PY'
import sys
out = open(sys.argv[1], "a", newline="\n")
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
filler("Aardvark", 70000)
for a in range(10):
    for b in range(10):
        for c in range(100):
            out.write("\n[Software\\\\Bench\\\\Target\\\\Level %d\\\\Sub %d\\\\Key %03d] 1796688663\n#time=1dd86a89d154be4\n\"v\"=dword:%08x\n" % (a, b, c, c))
filler("Zebra", 70000)
out.close()
PY
size=$(stat -c %s "$work/hive.reg")

TIMEFORMAT='%R'
wall_ms() {  # the wall time of the command in ms
    local t
    t=$( { time "$@" >/dev/null 2>&1; } 2>&1 | tail -1 )
    awk -v t="$t" 'BEGIN { printf "%d\n", t * 1000 }'
}
sweep() { WINEPREFIX="$work/prefix" "$keysweep" -C "$1"; }
wine_delete() {
    WINEPREFIX="$work/prefix" wineserver -p0
    WINEPREFIX="$work/prefix" wine reg delete "HKCU\\$1" /f
    WINEPREFIX="$work/prefix" wineserver -w
}
count_sections() { grep -c "^\[$(printf '%s' "$1" | sed 's/\\/\\\\\\\\/g')\(\]\|\\\\\)" "$work/prefix/user.reg" || true; }

printf 'hive: %.1f MB; keysweep best of %d runs; budget: <= %d ms and faster than wine reg delete\n' \
    "$(echo "$size / 1000000" | bc -l)" "$runs" "$budget_ms"
printf '%-34s %8s %8s %10s %6s\n' "tree deleted" "keys" "ms" "wine ms" "met"
failed=0
for tree in 'Software\Bench\Target' 'Software\Aardvark' 'Software\Zebra\Group 1399\Key 49'; do
    cp "$work/hive.reg" "$work/prefix/user.reg"
    keys=$(count_sections "$tree")
    best=""
    for _ in $(seq "$runs"); do
        cp "$work/hive.reg" "$work/prefix/user.reg"
        sync
        ms=$(wall_ms sweep "$tree")
        if [ -z "$best" ] || [ "$ms" -lt "$best" ]; then best=$ms; fi
    done
    if [ "$(count_sections "$tree")" -ne 0 ]; then
        echo "keysweep left sections of $tree behind" >&2
        exit 1
    fi
    wine="-"
    met=yes
    if [ "$have_wine" -eq 1 ]; then
        cp "$work/hive.reg" "$work/prefix/user.reg"
        sync
        wine=$(wall_ms wine_delete "$tree")
        if [ "$best" -ge "$wine" ]; then met=no; fi
    fi
    if [ "$best" -gt "$budget_ms" ]; then met=no; fi
    if [ "$met" = no ]; then failed=1; fi
    printf '%-34s %8d %8d %10s %6s\n' "$tree" "$keys" "$best" "$wine" "$met"
done
if [ "$have_wine" -eq 0 ]; then echo "(wine is not installed: no side-by-side figures)"; fi
exit "$failed"
