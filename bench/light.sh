#!/usr/bin/env bash
# How light the program is, each figure beside its budget and its peer measured in the same run:
#   - launch to mapped window (median of RUNS) and resident memory 3 s later: Tunedeck with
#     FluidR3 as the soundfont, a bare Qt Widgets window built the same way (barewindow), and
#     Audacious where it is installed (scripts/deps.sh bench); budgets 1.3 x the bare window and
#     no slower than Audacious, bare window + 10 MB
#   - context switches of every thread over 10 s at rest, Tunedeck beside the bare window
#   - peak memory and time of rendering a minute of a General MIDI band (and the shared media's
#     deep-river.mid when present) with FluidR3: tdplay --render beside fluidsynth -ni -F
#     (budgets 0.35 x its memory, 1.0 x its time), and fluidsynth with its own dynamic loading
#   - Open -> first block, the song's instruments in memory and for the first song after the
#     soundfont was prepared (budget 30 ms), and for a first song queued while stopped, read ahead
#     as the window does (budget 30 ms); the end of a song -> the next song's first block,
#     with the next song read ahead (budget 30 ms) and without; memory at rest early and late in
#     200 queued plays (budget: no growth beyond 1 MB); the worst UI-thread call over the hostile set
#     (budget 50 ms, from enginehostilebench)
# Usage: bench/light.sh [build-folder]   (default build/bench-light, Release)   RUNS=7
#        FLUIDR3=file  the FluidR3 soundfont, when it is not where Debian installs it
#        STARTUP_ONLY=1  only the start-up figures
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
build=$(realpath -m "${1:-$here/build/bench-light}")
runs=${RUNS:-7}
if [ -z "${DISPLAY:-}" ]; then
    exec xvfb-run -a -s "-screen 0 1280x1024x24" "$0" "$build"
fi
if [ ! -f "$build/build.ninja" ]; then
    cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DTUNEDECK_BENCH=ON >/dev/null
fi
cmake --build "$build" -j2 --target tunedeck tdplay barewindow lightbench enginehostilebench >/dev/null
bin="$build/bin"
fluidr3=${FLUIDR3:-/usr/share/sounds/sf2/FluidR3_GM.sf2}
[ -f "$fluidr3" ] || { echo "FluidR3 ($fluidr3) is not installed: apt install fluid-soundfont-gm (or name the file in FLUIDR3)"; exit 1; }

work=$(mktemp -d)
mkdir -p "$work/home"
xev_pid=""
stop_all() {
    [ -n "$xev_pid" ] && kill "$xev_pid" 2>/dev/null
    rm -rf "$work"
}
trap stop_all EXIT
export HOME="$work/home" XDG_CONFIG_HOME="$work/home/.config" XDG_DATA_HOME="$work/home/.local"
export SDL_AUDIODRIVER=dummy TUNEDECK_OUTPUT=null TUNEDECK_SOUNDFONT="$fluidr3"

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
verdict() { awk -v a="$1" -v b="$2" 'BEGIN { print (a <= b) ? "ok" : "OVER" }'; }
threads_switches() { cat /proc/"$1"/task/*/status 2>/dev/null | awk '/ctxt_switches/ { n += $2 } END { print n + 0 }'; }

# Map notices of top-level windows, one line each, as they happen.
stdbuf -oL xev -root -event substructure >"$work/xev.log" 2>/dev/null &
xev_pid=$!

# launch NAME COMMAND...: appends "ms rss_kB" of one launch to $work/NAME; the first launch also
# writes the context switches of 10 s at rest to $work/NAME.wake.
launch() {
    local name="$1"
    shift
    local lines start mapped pid
    lines=$(wc -l <"$work/xev.log")
    start=$(date +%s%3N)
    (cd "$work" && exec "$@" >/dev/null 2>&1) &
    pid=$!
    timeout 30 grep -m1 -q MapNotify < <(tail -n +$((lines + 1)) -f "$work/xev.log") || true
    mapped=$(date +%s%3N)
    sleep 3
    echo "$((mapped - start)) $(awk '/VmRSS/ { print $2 }' /proc/$pid/status)" >>"$work/$name"
    if [ ! -f "$work/$name.wake" ]; then
        local before
        before=$(threads_switches "$pid")
        sleep 10
        echo $(( $(threads_switches "$pid") - before )) >"$work/$name.wake"
    fi
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null || true
}

peers=(bare tunedeck)
audacious=$(command -v audacious || true)
[ -n "$audacious" ] && peers+=(audacious)
for run in $(seq "$runs"); do
    launch bare "$bin/barewindow"
    launch tunedeck "$bin/tunedeck"
    [ -n "$audacious" ] && launch audacious "$audacious"
done
declare -A map rss wake
for p in "${peers[@]}"; do
    map[$p]=$(awk '{ print $1 }' "$work/$p" | median)
    rss[$p]=$(awk '{ print $2 / 1024 }' "$work/$p" | median)
    wake[$p]=$(cat "$work/$p.wake")
done
echo "start-up, medians of $runs (Xvfb, silent output, FluidR3):"
printf '  %-28s %8s %10s %12s\n' program mapped-ms idle-RSS-MB switches/10s
for p in "${peers[@]}"; do
    printf '  %-28s %8s %10.1f %12s\n' "$p" "${map[$p]}" "${rss[$p]}" "${wake[$p]}"
done
[ -n "$audacious" ] || echo "  audacious                    not installed (scripts/deps.sh bench installs it)"
map_budget=$(awk -v b="${map[bare]}" 'BEGIN { print b * 1.3 }')
printf '  tunedeck to mapped window %s ms, budget %s ms (1.3 x bare window) %s\n' \
    "${map[tunedeck]}" "$map_budget" "$(verdict "${map[tunedeck]}" "$map_budget")"
if [ -n "$audacious" ]; then
    printf '  tunedeck to mapped window %s ms, budget %s ms (audacious) %s\n' \
        "${map[tunedeck]}" "${map[audacious]}" "$(verdict "${map[tunedeck]}" "${map[audacious]}")"
fi
rss_budget=$(awk -v b="${rss[bare]}" 'BEGIN { print b + 10 }')
printf '  tunedeck idle RSS %.1f MB, budget %.1f MB (bare window + 10 MB) %s\n' \
    "${rss[tunedeck]}" "$rss_budget" "$(verdict "${rss[tunedeck]}" "$rss_budget")"

[ -n "${STARTUP_ONLY:-}" ] && exit 0

echo "playing with FluidR3 (peak RSS MB, seconds):"
"$bin/lightbench" gmsong "$work/band.mid"
songs=("$work/band.mid")
media="${TUNEDECK_MEDIA_DIR:-$here/../shared/media}"
[ -f "$media/debian/mma/deep-river.mid" ] && songs+=("$media/debian/mma/deep-river.mid")
measure() { # measure COMMAND...: "peak_MB seconds"
    /usr/bin/time -f "%M %e" -o "$work/time" "$@" >/dev/null 2>&1 || true
    awk '{ printf "%.1f %s\n", $1 / 1024, $2 }' "$work/time"
}
for song in "${songs[@]}"; do
    read -r td_mb td_s < <(measure "$bin/tdplay" --render "$work/out.wav" "$song")
    read -r fs_mb fs_s < <(measure fluidsynth -ni -F "$work/fs.wav" -r 44100 "$fluidr3" "$song")
    read -r fd_mb fd_s < <(measure fluidsynth -ni -o synth.dynamic-sample-loading=1 \
        -F "$work/fs.wav" -r 44100 "$fluidr3" "$song")
    mem_budget=$(awk -v f="$fs_mb" 'BEGIN { print f * 0.35 }')
    echo "  $(basename "$song"): tdplay --render $td_mb MB $td_s s; fluidsynth -F $fs_mb MB $fs_s s;" \
        "fluidsynth -F with dynamic loading $fd_mb MB $fd_s s"
    printf '    peak RSS %s MB, budget %s MB (0.35 x fluidsynth -F) %s\n' "$td_mb" "$mem_budget" \
        "$(verdict "$td_mb" "$mem_budget")"
    printf '    render time %s s, budget %s s (1.0 x fluidsynth -F) %s\n' "$td_s" "$fs_s" \
        "$(verdict "$td_s" "$fs_s")"
done

echo "the device:"
"$bin/lightbench" gmsong "$work/a.mid" 2 0 50000
"$bin/lightbench" gmsong "$work/b.mid" 2 7 50000
# A process has one first song: the figures are medians over RUNS processes.
: >"$work/first"
for _ in $(seq "$runs"); do
    "$bin/lightbench" firstblock "$work/band.mid" "$work/a.mid" >>"$work/first"
done
first=$(awk '{ print $1 }' "$work/first" | median)
ready=$(awk '{ print $2 }' "$work/first" | median)
pages=$(awk '{ print $3 }' "$work/first" | median)
page_us=$(awk '{ print $4 }' "$work/first" | median)
printf '  open -> first block, the song'"'"'s instruments in memory: %s ms, budget 30 ms %s\n' \
    "$ready" "$(verdict "$ready" 30)"
printf '  open -> first block, first song, soundfont prepared (synthesiser made and instruments\n'
printf '    read at the open), median of %s processes: %s ms, budget 30 ms %s\n' "$runs" "$first" \
    "$(verdict "$first" 30)"
printf '    of which %s pages of memory touched for the first time (synthesiser, samples, code), at\n' \
    "$pages"
printf '    %s us each (a first write to a fresh page on this machine): %s ms\n' "$page_us" \
    "$(awk -v n="$pages" -v us="$page_us" 'BEGIN { printf "%.1f", n * us / 1000 }')"
: >"$work/queued"
for _ in $(seq "$runs"); do
    "$bin/lightbench" queued "$work/band.mid" >>"$work/queued"
done
queued=$(awk '{ print $1 }' "$work/queued" | median)
held=$(awk '{ print $2 }' "$work/queued" | median)
printf '  open -> first block, first song queued while stopped (read ahead, as the window does with\n'
printf '    the play list'"'"'s first entry), median of %s processes: %s ms, budget 30 ms %s; held at\n' \
    "$runs" "$queued" "$(verdict "$queued" 30)"
printf '    rest for it: %s kB\n' "$held"
"$bin/lightbench" gmsong "$work/c.mid" 4 0 500000
"$bin/lightbench" gmsong "$work/d.mid" 4 7 500000
read -r cold ahead < <("$bin/lightbench" change "$work/c.mid" "$work/d.mid")
printf '  end of a song -> first block of the next, read ahead: %s ms, budget 30 ms %s (not read\n' \
    "$ahead" "$(verdict "$ahead" 30)"
printf '  ahead: %s ms)\n' "$cold"
read -r early late < <("$bin/lightbench" plays 200 "$work/a.mid" "$work/b.mid")
growth=$(awk -v a="$early" -v b="$late" 'BEGIN { printf "%.2f", (b - a) / 1024 }')
printf '  RSS at rest, median of plays 10-50 %d kB, of plays 160-200 %d kB: growth %s MB, budget\n' \
    "$early" "$late" "$growth"
printf '    1 MB %s\n' "$(verdict "$growth" 1)"
"$bin/enginehostilebench" latency "$work/set" | grep -E "worst|OVER" | sed 's/^ */  /'

