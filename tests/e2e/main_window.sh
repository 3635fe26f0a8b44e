#!/usr/bin/env bash
# The built program on an X server: its window appears with the application title, at the
# layout's size, and Ctrl+X (then, in a second run, Alt+X, and in a third SIGTERM, as at the end of
# a session) ends the process, leaving no folder of its own in the temporary folder.
#   main_window.sh PROGRAM ARTIFACT_DIR      (run under xvfb-run -a)
# On failure the screenshot and the program's output stay in ARTIFACT_DIR.
set -euo pipefail
program=$(realpath "$1")
artifacts=$2
mkdir -p "$artifacts"
. "$(dirname "$0")/lib.sh"

# Starts the program in an empty folder; sets pid and wid (its window).
start() {
    (cd "$work" && exec env TUNEDECK_OUTPUT=null TMPDIR="$work/tmp" "$program" >"$work/$1.log" 2>&1) &
    pid=$!
    stop_at_exit "$pid"
    wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name 'Tunedeck' | sed -n 1p) \
        || fail "$1: the main window did not appear"
    [ -n "$wid" ] || fail "$1: the main window did not appear"
}

# Waits for the program to end (no polling: tail returns when the process is gone).
expect_end() {
    timeout 20 tail --pid="$pid" -f /dev/null || fail "$1: the program did not end"
    wait "$pid" || fail "$1: the program ended with status $?"
    pid=""
}

mkdir "$work/tmp"
start ctrl_x
title=$(xdotool getwindowname "$wid")
[ "$title" = "Tunedeck " ] || fail "title is '$title', expected 'Tunedeck ' with its trailing blank"
size=$(xdotool getwindowgeometry "$wid" | sed -n 's/.*Geometry: //p')
# The client area is 456 x 305; the painted title bar stands above it.
width=${size%x*}
height=${size#*x}
[ "$width" = 456 ] && [ "$height" -gt 305 ] && [ "$height" -lt 345 ] \
    || fail "window is $size, expected 456 wide and 305 plus a title bar high"
import -window "$wid" "$work/main_window.png" || fail "no screenshot"
xdotool windowfocus --sync "$wid"
xdotool key --clearmodifiers ctrl+x
expect_end ctrl_x
cp "$work/main_window.png" "$artifacts/main_window.png"

start alt_x
xdotool windowfocus --sync "$wid"
xdotool key --clearmodifiers alt+x
expect_end alt_x

start sigterm
kill -TERM "$pid"
expect_end sigterm
left=$(cd "$work/tmp" && echo tunedeck-*)
[ "$left" = "tunedeck-*" ] || fail "the program left $left in its temporary folder"
echo "main window: title, size, Ctrl+X, Alt+X and SIGTERM as expected"
