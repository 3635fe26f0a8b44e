#!/usr/bin/env bash
# The painted title bar on an X server: dragging the caption moves the window; then, with a
# window manager (openbox), the minimise box iconifies it, the caption looks different while another
# window is active, and the close box ends the program. Keeps screenshots of the active and
# the inactive caption.
#   caption.sh PROGRAM ARTIFACT_DIR      (run under xvfb-run -a)
set -euo pipefail
program=$(realpath "$1")
artifacts=$2
mkdir -p "$artifacts"
. "$(dirname "$0")/lib.sh"

geometry() { eval "$(xdotool getwindowgeometry --shell "$wid")"; }
# The colour of one pixel of a screenshot, as "r,g,b".
pixel() { convert "$1" -format "%[fx:int(255*u.r)],%[fx:int(255*u.g)],%[fx:int(255*u.b)]" -crop "1x1+$2+$3" info:; }

(cd "$work" && exec env TUNEDECK_OUTPUT=null "$program" >"$work/tunedeck.log" 2>&1) &
pid=$!
stop_at_exit "$pid"
wid=$(timeout 30 xdotool search --sync --onlyvisible --pid "$pid" --name 'Tunedeck' | sed -n 1p) \
    || fail "the main window did not appear"

# Dragging the caption moves the window. This runs before the window manager starts: the
# program then follows the pointer itself. (Under openbox the platform's system move takes
# over, and it does not follow the synthetic pointer motion xdotool makes.)
geometry
startX=$X
startY=$Y
xdotool mousemove --sync $((X + 120)) $((Y + 8)) mousedown 1
for step in 1 2 3 4 5; do
    xdotool mousemove --sync $((startX + 120 + step * 20)) $((startY + 8 + step * 10))
done
xdotool mouseup 1
await bash -c "[ \"\$(xdotool getwindowgeometry --shell $wid | sed -n 's/^X=//p')\" -gt $((startX + 50)) ]" \
    || fail "dragging the caption did not move the window"

openbox >"$work/openbox.log" 2>&1 &
wm=$!
stop_at_exit "$wm"
await bash -c "xprop -root _NET_SUPPORTED | grep -q _NET_ACTIVE_WINDOW" || fail "the window manager did not start"

# Active: the caption runs to the active end colour.
xdotool windowactivate --sync "$wid"
geometry
import -window "$wid" "$work/caption-active.png" || fail "no screenshot"
activeEnd=$(pixel "$work/caption-active.png" $((WIDTH - 70)) 2)

# Another window takes the focus: the caption turns to its inactive look.
xmessage -geometry +0+400 "another window" &
other=$!
stop_at_exit "$other"
otherWid=$(timeout 10 xdotool search --sync --onlyvisible --class Xmessage | sed -n 1p) || fail "no second window"
xdotool windowactivate --sync "$otherWid"
await bash -c "[ \"\$(xdotool getactivewindow)\" = $otherWid ]" || fail "the other window did not become active"
import -window "$wid" "$work/caption-inactive.png" || fail "no screenshot"
inactiveEnd=$(pixel "$work/caption-inactive.png" $((WIDTH - 70)) 2)
[ "$activeEnd" != "$inactiveEnd" ] || fail "active and inactive captions look the same ($activeEnd)"
kill "$other"

# The minimise box iconifies the window.
xdotool windowactivate --sync "$wid"
geometry
xdotool mousemove --sync $((X + WIDTH - 45)) $((Y + 8)) click 1
await bash -c "xprop -id $wid WM_STATE | grep -q Iconic" || fail "the minimise box did not iconify the window"

# Back again, the close box ends the program.
xdotool windowmap --sync "$wid"
xdotool windowactivate --sync "$wid"
geometry
xdotool mousemove --sync $((X + WIDTH - 6)) $((Y + 8)) click 1
timeout 20 tail --pid="$pid" -f /dev/null || fail "the close box did not end the program"
wait "$pid" || fail "the program ended with status $?"

cp "$work/caption-active.png" "$work/caption-inactive.png" "$artifacts/"
echo "caption: drag, inactive look ($activeEnd -> $inactiveEnd), minimise and close as expected"
