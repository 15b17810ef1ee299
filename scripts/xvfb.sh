#!/usr/bin/env bash
# The one starter of a private X server for the tests, the benchmarks and the screenshots.
#
# Sourced: start_xvfb LOG starts Xvfb on the first free display from :150 to :199, exports
# DISPLAY and sets xvfb_pid; it returns 1 when no display could be had. Another script may
# race us for the same number; then our server exits at once (the lock file names the
# other one) and the next number is tried. The caller stops the server: kill "$xvfb_pid".
#
# Run: xvfb.sh COMMAND [ARGUMENT...] runs the command on a server of its own, stops the
# server and exits with the command's status; 77 (skipped) when Xvfb is missing or no
# display could be had.

start_xvfb() {
    local log=$1 n tries
    for n in $(seq 150 199); do
        [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ] && continue
        Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp -noreset >"$log" 2>&1 &
        xvfb_pid=$!
        for tries in $(seq 100); do
            kill -0 "$xvfb_pid" 2>/dev/null || break
            if xdpyinfo -display ":$n" >/dev/null 2>&1 \
                && [ "$(tr -d ' \n' <"/tmp/.X$n-lock" 2>/dev/null)" = "$xvfb_pid" ]; then
                export DISPLAY=":$n"
                return 0
            fi
            sleep 0.1
        done
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=
    done
    return 1
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
    if [ $# -eq 0 ]; then
        echo "usage: $0 COMMAND [ARGUMENT...]" >&2
        exit 2
    fi
    for tool in Xvfb xdpyinfo; do
        command -v "$tool" >/dev/null || { echo "xvfb.sh: $tool is not installed; skipped"; exit 77; }
    done
    xvfb_log=$(mktemp "${TMPDIR:-/tmp}/varnello-xvfb.XXXXXX")
    xvfb_pid=
    trap 'kill $xvfb_pid 2>/dev/null && wait $xvfb_pid 2>/dev/null; rm -f "$xvfb_log"' EXIT
    trap 'exit 1' INT TERM HUP
    start_xvfb "$xvfb_log" || { echo "xvfb.sh: no free X display between :150 and :199; skipped"; exit 77; }
    unset WAYLAND_DISPLAY
    "$@"
fi
