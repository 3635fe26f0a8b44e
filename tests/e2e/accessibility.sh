#!/usr/bin/env bash
# What a screen reader hears, through the desktop's accessibility bus (AT-SPI) on a session bus
# of the test's own: every control it can reach has a name, and while a file plays each change of
# a live text (the status panels, the "Playing:" label, the title) is announced once.
#   accessibility.sh PROGRAM EXAMPLES_DIR ARTIFACT_DIR      (run under xvfb-run -a)
set -euo pipefail
program=$(realpath "$1")
examples=$(realpath "$2")
artifacts=$3
mkdir -p "$artifacts"
launcher=/usr/libexec/at-spi-bus-launcher
[ -x "$launcher" ] || { echo "SKIP: at-spi2-core is not installed (scripts/deps.sh)"; exit 0; }
command -v dbus-daemon >/dev/null || { echo "SKIP: dbus-daemon is not installed (scripts/deps.sh)"; exit 0; }
# The system's Python, which has the accessibility bindings (python3-pyatspi).
/usr/bin/python3 -c 'import pyatspi' 2>/dev/null \
    || { echo "SKIP: python3-pyatspi is not installed (scripts/deps.sh)"; exit 0; }
. "$(dirname "$0")/lib.sh"

start_session_bus
mkdir "$work/home"
export HOME="$work/home"
"$launcher" --launch-immediately >"$work/launcher.log" 2>&1 &
stop_at_exit $!
a11y_bus_up() {
    dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.NameHasOwner string:org.a11y.Bus | grep -q 'boolean true'
}
await a11y_bus_up || fail "the accessibility bus did not start"

# Qt speaks to the accessibility bus when a screen reader asks for it; here nothing asks.
(cd "$work" && exec env TUNEDECK_OUTPUT=null QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 \
    "$program" "$examples/westminster_chimes.wav" "$examples/westminster_chimes.wav" \
    >"$work/program.log" 2>&1) &
pid=$!
stop_at_exit "$pid"

/usr/bin/python3 - >"$work/reader.log" 2>&1 <<'PYTHON' || { cat "$work/reader.log" >&2; fail "see above"; }
import sys
import pyatspi
from gi.repository import GLib

problems = []
last = {}  # the name each object announced last
positions = set()


def program():
    for application in pyatspi.Registry.getDesktop(0):
        if application is not None and application.name == "tunedeck":
            return application
    return None


def unnamed(node, path):
    found = []
    for child in node:
        if child is None:
            continue
        where = path + "/" + child.getRoleName()
        states = child.getState()
        if (states.contains(pyatspi.STATE_FOCUSABLE) and states.contains(pyatspi.STATE_SHOWING)
                and not child.name):
            found.append(where)
        found += unnamed(child, where)
    return found


def announced(event):
    name = event.source.name
    if last.get(event.source) == name:
        problems.append("announced twice: " + name)
    last[event.source] = name
    if name.startswith("Position: "):
        positions.add(name)
        if len(positions) >= 3:
            pyatspi.Registry.stop()


def look():
    application = program()
    if application is None:
        return True
    problems.extend("no name: " + where for where in unnamed(application, ""))
    pyatspi.Registry.registerEventListener(announced, "object:property-change:accessible-name")
    return False


def give_up():
    if program() is None:
        problems.append("within 30 s the program did not reach the accessibility bus")
    else:
        problems.append("within 30 s the position was announced only as: "
                        + ", ".join(sorted(positions)))
    pyatspi.Registry.stop()
    return False


GLib.timeout_add(100, look)
GLib.timeout_add_seconds(30, give_up)
pyatspi.Registry.start()
print("\n".join(problems))
sys.exit(1 if problems else 0)
PYTHON
echo "accessibility: every control named, each live text announced once"
