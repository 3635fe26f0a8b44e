#!/usr/bin/env bash
# The program as a desktop starts it, on a session bus of the test's own: `tunedeck a.mid b.wav`
# plays a.mid; a second `tunedeck c.mid` ends at once with 0 and c.mid joins the first window's
# play list; PlayPause over the bus pauses it; the open dialog leaves nothing in the home folder;
# Quit over the bus ends the program while a box is up; two starts at once make one window.
#   desktop.sh PROGRAM EXAMPLES_DIR ARTIFACT_DIR      (run under xvfb-run -a)
set -euo pipefail
program=$(realpath "$1")
examples=$(realpath "$2")
artifacts=$3
mkdir -p "$artifacts"
command -v dbus-daemon >/dev/null || { echo "SKIP: dbus-daemon is not installed (scripts/deps.sh)"; exit 0; }
. "$(dirname "$0")/lib.sh"
mpris() {
    dbus-send --session --print-reply --dest=org.mpris.MediaPlayer2.tunedeck /org/mpris/MediaPlayer2 "$@"
}

start_session_bus
mkdir "$work/home" "$work/songs"
export HOME="$work/home"
unset XDG_CONFIG_HOME XDG_CACHE_HOME XDG_DATA_HOME
cp "$examples/ode_to_joy.mid" "$work/songs/a.mid"
cp "$examples/westminster_chimes.wav" "$work/songs/b.wav"
cp "$examples/twinkle_twinkle.mid" "$work/songs/c.mid"

: >"$work/program.log"
(cd "$work/songs" && exec env TUNEDECK_OUTPUT=null \
    QT_LOGGING_RULES="tunedeck.sequencer.debug=true;tunedeck.desktop.debug=true" \
    "$program" a.mid b.wav >"$work/program.log" 2>&1) &
pid=$!
stop_at_exit "$pid"
await_log "start .*/a.mid" 30
await_log "status Playing" 10
wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name 'Tunedeck' | sed -n 1p) \
    || fail "the main window did not appear"

# After --, a name is a name even where the toolkit has an option of that name (-session takes
# the next argument as its value); here an empty folder, which adds nothing.
mkdir "$work/songs/-session"
(cd "$work/songs" && timeout 20 "$program" -- -session c.mid >"$work/second.log" 2>&1) \
    || fail "the second start ended with status $? (or did not end)"
await_log "appended c.mid" 10
grep -q "start .*/c.mid" "$work/program.log" && fail "c.mid started instead of joining the queue"
# A start in a folder that is gone hands over no relative name (the window would take it from
# its own folder, where a c.mid is): it says so and ends with 1.
mkdir "$work/gone"
(cd "$work/gone" && rmdir "$work/gone" && exec "$program" c.mid >"$work/gone.log" 2>&1) \
    && fail "a start in a folder that is gone ended with 0"
grep -q "folder is gone" "$work/gone.log" || fail "a start in a folder that is gone said: $(cat "$work/gone.log")"
[ "$(grep -c "appended c.mid" "$work/program.log")" = 1 ] || fail "a name from a folder that is gone was appended"

mpris org.mpris.MediaPlayer2.Player.PlayPause >/dev/null || fail "PlayPause over the bus failed"
await_log "status Paused" 10
mpris org.freedesktop.DBus.Properties.Get string:org.mpris.MediaPlayer2.Player \
    string:PlaybackStatus | grep '"Paused"' >/dev/null || fail "the bus does not say Paused"
import -window "$wid" "$work/paused.png" 2>/dev/null || true

# The open dialog, opened and cancelled, must not leave its settings in the home folder.
# Without a window manager the first key can go astray while focus settles: up to three tries.
dialog=""
for _ in 1 2 3; do
    xdotool windowfocus --sync "$wid"
    xdotool key --clearmodifiers ctrl+o
    dialog=$(timeout 5 xdotool search --sync --onlyvisible --pid "$pid" --name 'Open|Play' \
        | grep -v "^$wid$" | sed -n 1p) && [ -n "$dialog" ] && break
done
[ -n "$dialog" ] || fail "the open dialog did not appear"
xdotool windowfocus --sync "$dialog" key Escape
timeout 20 bash -c "while xdotool search --onlyvisible --pid $pid --name 'Open|Play' | grep -qv '^$wid\$'; do sleep 0.1; done" \
    || fail "the open dialog did not close"
# Quit over the bus ends the program even while a box is up: here the report of a missing file.
mpris org.mpris.MediaPlayer2.Player.OpenUri "string:file://$work/songs/missing.mid" >/dev/null \
    || fail "OpenUri over the bus failed"
timeout 20 bash -c "until xdotool search --onlyvisible --pid $pid --name . | grep -qv '^$wid\$'; do sleep 0.1; done" \
    || fail "no box reported the missing file"
mpris org.mpris.MediaPlayer2.Quit >/dev/null || fail "Quit over the bus failed"
timeout 20 tail --pid="$pid" -f /dev/null || fail "the program did not end with a box up"
wait "$pid" || fail "the program ended with status $?"
if find "$HOME" -name 'QtProject.conf' | grep . >/dev/null; then
    fail "the program wrote $(find "$HOME" -name QtProject.conf)"
fi

# Two starts at once, before either has a window: one hands its file over to the other and ends
# with 0; the one left holds the bus name (Quit over the bus ends it).
starts=()
for song in a.mid c.mid; do
    (cd "$work/songs" && exec env TUNEDECK_OUTPUT=null "$program" "$song" >>"$work/race.log" 2>&1) &
    starts+=("$!")
done
stop_at_exit "${starts[@]}"
ended=""
for _ in $(seq 200); do
    for p in "${starts[@]}"; do kill -0 "$p" 2>/dev/null || ended=$p; done
    [ -n "$ended" ] && break
    xdotool sleep 0.1
done
[ -n "$ended" ] || fail "two starts at once each opened a window"
wait "$ended" || fail "the start that handed its file over ended with status $?"
mpris org.mpris.MediaPlayer2.Quit >/dev/null || fail "the window left does not answer on the bus"
for p in "${starts[@]}"; do
    timeout 20 tail --pid="$p" -f /dev/null || fail "the window left did not quit"
done
cp "$work/paused.png" "$artifacts/desktop-paused.png" 2>/dev/null || true
echo "desktop: files from the command line, a second start handed over (also at once), PlayPause paused"
