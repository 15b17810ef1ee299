#!/usr/bin/env bash
# The desktop launcher in a private X server: with nothing mapped it asks for a drive, and
# Esc ends it quietly; given a folder it becomes varnello on that drive (the same process,
# no launcher left behind), and the next start offers that folder again; msdos.sys itself
# stands for its folder; a folder without msdos.sys and a path that does not exist are
# refused in a message box and never remembered; while varnello runs, the launcher says so
# and, under a window manager (openbox), brings varnello's window back to the front.
#
# usage: run-launcher.sh VARNELLO_OPEN DEMO_DRIVE
# Exit status 0 when all pass, 1 on the first failure, 77 (skipped) without the tools.
set -uo pipefail

if [ $# -ne 2 ]; then
    echo "usage: $0 VARNELLO_OPEN DEMO_DRIVE" >&2
    exit 2
fi
launcher=$(readlink -f "$1")
demo=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

for tool in Xvfb xdotool xdpyinfo xwininfo xprop openbox; do
    command -v "$tool" >/dev/null || { echo "launcher: $tool is not installed; skipped"; exit 77; }
done

work=$(mktemp -d "${TMPDIR:-/tmp}/varnello-launcher.XXXXXX")
xvfb_pid=
app_pid=
running=
wm_pid=
trap 'kill $app_pid $running $wm_pid $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP

scenario=start
fail() {
    echo "launcher [$scenario] FAILED: $*" >&2
    [ -s "$work/app.log" ] && { echo "--- output ---" >&2; cat "$work/app.log" >&2; }
    exit 1
}
step() { echo "launcher [$scenario] $*"; }

source "$here/../../scripts/xvfb.sh"
source "$here/xwindows.sh"
start_xvfb "$work/xvfb.log" || fail "no free X display between :150 and :199"
export XDG_RUNTIME_DIR="$work/runtime" QT_QPA_PLATFORM=xcb
mkdir -m 0700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY SESSION_MANAGER VARNELLO_DRIVE_C XDG_CONFIG_HOME
# Nothing mapped: no drive variable, and a home and Wine prefix with nothing in them.
export HOME="$work/home" WINEPREFIX="$work/home"
mkdir "$HOME"

# The launched process's only visible window titled "Varnello", of size $1 when given;
# sets WIDTH, HEIGHT, X, Y.
has_window() {
    local window
    window=$(xdotool search --all --onlyvisible --pid "$app_pid" --name '^Varnello$' 2>/dev/null)
    [ "$(wc -w <<<"$window")" = 1 ] && client_geometry "$window" || return 1
    [ -z "${1:-}" ] || [ "${WIDTH}x${HEIGHT}" = "$1" ]
}
expect_window() {
    wait_until has_window "${1:-}" || fail "no window titled Varnello${1:+ of $1} appeared"
    step "window ${WIDTH}x${HEIGHT} at $X,$Y"
}
expect_program() {
    [ "$(readlink "/proc/$app_pid/exe")" = "$1" ] || fail "the process runs $(readlink "/proc/$app_pid/exe"), not $1"
}
# Keys go to the window under the pointer when nothing has the focus.
keys() {
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT / 2))
    xdotool key --delay 60 "$@"
}
expect_status() {
    await_exit "$app_pid" || fail "the launcher did not end"
    app_pid=
    [ "$STATUS" = "$1" ] || fail "ended with status $STATUS, expected $1"
    step "ended, status $STATUS"
}
start() {
    : >"$work/app.log"
    "$@" >>"$work/app.log" 2>&1 &
    app_pid=$!
}

# The launched process has become varnello, showing its main window on drive C = $1.
expect_varnello_on() {
    expect_window "$((6390 / 15))x$((5055 / 15))"  # the main window
    expect_program "$(dirname "$launcher")/varnello"
    tr '\0' '\n' <"/proc/$app_pid/environ" | grep -qx "VARNELLO_DRIVE_C=$1" \
        || fail "drive C is not mapped to $1"
}
stop_varnello() {
    kill "$app_pid"
    wait "$app_pid" 2>/dev/null
    app_pid=
}
# The drive dialog, centred, $1 pixels high (with or without the drives opened before).
expect_dialog() {
    expect_window "$((5400 / 15))x$1"
    [ "$X,$Y" = "$(((1024 - WIDTH) / 2)),$(((768 - HEIGHT) / 2))" ] || fail "the dialog is not centred"
    expect_program "$launcher"
}

scenario=nothing-mapped
start "$launcher"
expect_dialog $((2010 / 15))
keys Escape
expect_status 0

scenario=folder
mkdir "$work/drive" && cp "$demo"/* "$work/drive/" || fail "cannot copy the demo drive"
# A relative path, and varnello found beside the launcher, not on PATH.
start env PATH=/usr/bin:/bin sh -c 'cd "$1" && exec "$2" drive' sh "$work" "$launcher"
expect_varnello_on "$work/drive"
stop_varnello

# Refused before anything is remembered or started: a folder that holds no msdos.sys, and a
# path that does not exist.
for refused in no-msdos-sys missing-path; do
    scenario=$refused
    mkdir -p "$work/no-msdos-sys"
    start "$launcher" "$work/$refused"
    expect_window
    expect_program "$launcher"
    keys Return
    expect_status 2
done

scenario=msdos.sys-chosen
start "$launcher" "$work/drive/msdos.sys"
expect_varnello_on "$work/drive"
stop_varnello

scenario=opened-before
start "$launcher"
expect_dialog $((3540 / 15))
keys Return  # Open, on the drive opened last
expect_varnello_on "$work/drive"

scenario=already-running
XDG_CONFIG_HOME="$work/wm" openbox >"$work/wm.log" 2>&1 &
wm_pid=$!
wait_until xprop -root _NET_ACTIVE_WINDOW >/dev/null || fail "openbox did not start"
main=$(xdotool search --all --onlyvisible --pid "$app_pid" --name '^Varnello$')
running=$app_pid
xdotool windowminimize "$main"
start "$launcher" "$work/drive"
expect_window
expect_program "$launcher"
keys Return
expect_status 1
in_front() { xprop -root _NET_ACTIVE_WINDOW | grep -q "# $(printf '0x%x' "$main")\$"; }
wait_until in_front || fail "the running varnello was not brought to the front"
kill -0 "$running" || fail "the running varnello ended"
step "varnello, already running, brought to the front"

echo "launcher: all scenarios passed"
