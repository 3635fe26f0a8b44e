# What every end-to-end script shares; sourced once `artifacts` is set.

# A work folder of the script's own, and the processes it started (`stop_at_exit PID...`), both
# gone when the script ends, however it ends.
work=$(mktemp -d)
to_stop=()
stop_at_exit() { to_stop+=("$@"); }
clean_up() {
    for p in "${to_stop[@]}"; do kill "$p" 2>/dev/null || true; done
    rm -rf "$work"
}
trap clean_up EXIT

# Starts a session bus of the test's own and points this script's programs at it.
start_session_bus() {
    exec 3>"$work/bus.address" 4>"$work/bus.pid"
    dbus-daemon --session --fork --print-address=3 --print-pid=4
    exec 3>&- 4>&-
    export DBUS_SESSION_BUS_ADDRESS=$(head -1 "$work/bus.address")
    stop_at_exit "$(head -1 "$work/bus.pid")"
}

# Ends the test with a message, keeping a screenshot of the screen and the work folder's
# pictures and logs in the artifacts folder.
fail() {
    echo "FAIL: $*" >&2
    import -window root "$artifacts/$(basename "$0" .sh)-failure.png" 2>/dev/null || true
    cp "$work"/*.png "$work"/*.log "$artifacts/" 2>/dev/null || true
    exit 1
}

# Polls `$@` until it succeeds, for at most about 10 s.
await() {
    for _ in $(seq 100); do
        "$@" >/dev/null 2>&1 && return 0
        xdotool sleep 0.1
    done
    return 1
}

# Waits at most $2 seconds for a line matching $1 in the program's log (`$work/program.log`,
# written by the program `$pid`).
await_log() {
    timeout "$2" grep -q -m1 -- "$1" < <(tail --pid="$pid" -n +1 -f "$work/program.log") \
        || fail "no '$1' in the program's log within $2 s"
}
