# Shell helpers of the real-window tests, sourced by run-e2e.sh and run-launcher.sh.

# Polls command "$@" every 0.1 s for up to 30 s (the machine may be busy).
wait_until() {
    local deadline=$(($(date +%s) + 30))
    while [ "$(date +%s)" -le "$deadline" ]; do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# Sets X, Y, WIDTH and HEIGHT to the client area of window $1; false when it is gone.
client_geometry() {
    local info
    info=$(xwininfo -id "$1" 2>/dev/null) || return 1
    X=$(awk '/Absolute upper-left X:/ {print $NF}' <<<"$info")
    Y=$(awk '/Absolute upper-left Y:/ {print $NF}' <<<"$info")
    WIDTH=$(awk '/^ *Width:/ {print $NF}' <<<"$info")
    HEIGHT=$(awk '/^ *Height:/ {print $NF}' <<<"$info")
}

# Waits up to 30 s for child process $1 to end and sets STATUS to its exit status;
# false when it is still running.
await_exit() {
    wait_until gone "$1" || return 1
    wait "$1"
    STATUS=$?
}
gone() { ! kill -0 "$1" 2>/dev/null; }
