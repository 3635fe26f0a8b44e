#!/usr/bin/env bash
# The about window under a window manager (openbox), read back through the window manager's
# own properties: the window asks for a title and border without minimise, maximise or close;
# openbox offers no maximise for it; minimised anyway (openbox keeps its minimise box whatever
# the hints say), it comes straight back, and so does the main window it blocks; its outer frame
# stands centred on the screen; Enter still closes it. The maker's about box takes the focus.
#   about_window.sh PROGRAM ARTIFACT_DIR      (run under xvfb-run -a)
set -euo pipefail
program=$(realpath "$1")
artifacts=$2
mkdir -p "$artifacts"
. "$(dirname "$0")/lib.sh"

command -v openbox >/dev/null || { echo "SKIP: openbox is not installed"; exit 0; }

openbox >"$work/openbox.log" 2>&1 &
wm=$!
stop_at_exit "$wm"
await bash -c "xprop -root _NET_SUPPORTED | grep -q _NET_ACTIVE_WINDOW" || fail "the window manager did not start"

(cd "$work" && exec env TUNEDECK_OUTPUT=null "$program" >"$work/tunedeck.log" 2>&1) &
pid=$!
stop_at_exit "$pid"
main=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name 'Tunedeck' | sed -n 1p) \
    || fail "the main window did not appear"
xdotool windowactivate --sync "$main"
xdotool key --clearmodifiers ctrl+a
about=$(timeout 10 xdotool search --sync --onlyvisible --name '^About Tunedeck$' | sed -n 1p) \
    || fail "the about window did not appear"
await bash -c "xprop -id $about _NET_FRAME_EXTENTS | grep -q '= '" || fail "openbox did not frame the about window"

# The request: Motif hints with the functions field set and neither minimise (8), maximise (16)
# nor close (32) among them.
read -r mwmFlags mwmFunctions < <(xprop -id "$about" _MOTIF_WM_HINTS \
    | sed -n 's/.*= \([^,]*\), \([^,]*\),.*/\1 \2/p')
[ -n "$mwmFlags" ] || fail "the about window sets no Motif hints"
(( mwmFlags & 1 )) || fail "the Motif hints leave the window's functions to the window manager"
(( (mwmFunctions & (8 | 16 | 32)) == 0 )) || fail "the Motif hints ask for functions $mwmFunctions"

# What openbox made of it: no maximise for a window of fixed size.
actions=$(xprop -id "$about" _NET_WM_ALLOWED_ACTIONS)
case "$actions" in
*MAXIMIZE*) fail "openbox offers to maximise the about window: $actions" ;;
esac

# Centred by its outer frame, the window manager's title bar and border included.
read -r left right top bottom < <(xprop -id "$about" _NET_FRAME_EXTENTS \
    | sed -n 's/.*= \([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\).*/\1 \2 \3 \4/p')
# geometry WINDOW FIELD: one field of xwininfo's report; WINDOW "-root" for the screen.
geometry() {
    local which=(-id "$1")
    [ "$1" = -root ] && which=(-root)
    xwininfo "${which[@]}" | sed -n "s/^ *$2: *\(-\?[0-9]*\).*/\1/p"
}
screenW=$(geometry -root Width)
screenH=$(geometry -root Height)
check_centred() {
    local x y w h
    x=$(( $(geometry "$about" 'Absolute upper-left X') - left ))
    y=$(( $(geometry "$about" 'Absolute upper-left Y') - top ))
    w=$(( $(geometry "$about" Width) + left + right ))
    h=$(( $(geometry "$about" Height) + top + bottom ))
    [ "$x" = $(( (screenW - w) / 2 )) ] && [ "$y" = $(( (screenH - h) / 2 )) ]
}
await check_centred || fail "the about window's frame is not centred: $(xwininfo -id "$about" | grep Absolute | tr -s ' ' | tr '\n' ' ') with frame $left $right $top $bottom on ${screenW}x$screenH"

# Minimised the way openbox's minimise box does it: it comes back, and the blocked main window
# with it.
xdotool windowminimize "$about"
await bash -c "xprop -id $about WM_STATE | grep -q 'window state: Normal' \
    && ! xprop -id $about _NET_WM_STATE | grep -q HIDDEN \
    && xwininfo -id $about | grep -q IsViewable" \
    || fail "the minimised about window did not come back ($(xprop -id "$about" WM_STATE _NET_WM_STATE | tr '\n' ' '))"
await bash -c "xprop -id $main WM_STATE | grep -q 'window state: Normal'" \
    || fail "the main window stayed minimised behind the about window"

# Enter presses OK, which closes the window; the program goes on and ends with Ctrl+X.
xdotool windowactivate --sync "$about"
xdotool key --clearmodifiers Return
await bash -c "! xwininfo -id $about 2>/dev/null | grep -q IsViewable" || fail "Enter did not close the about window"
# The maker's about box (Help, About Orvane Labs) takes the focus as it opens, on its OK
# button: Enter closes it.
xdotool windowactivate --sync "$main"
xdotool key --clearmodifiers alt+h o
orvane=$(timeout 10 xdotool search --sync --onlyvisible --name '^About Orvane Labs' | sed -n 1p) \
    || fail "the maker's about box did not appear"
await bash -c "[ \"\$(xdotool getactivewindow)\" = $orvane ]" \
    || fail "the maker's about box did not take the focus"
xdotool key --clearmodifiers Return
await bash -c "! xwininfo -id $orvane 2>/dev/null | grep -q IsViewable" \
    || fail "Enter did not close the maker's about box"
xdotool windowactivate --sync "$main"
xdotool key --clearmodifiers ctrl+x
timeout 20 tail --pid="$pid" -f /dev/null || fail "the program did not end"
wait "$pid" || fail "the program ended with status $?"
echo "about window: hints, no maximise, centred frame, comes back from minimise, Enter closes it"
