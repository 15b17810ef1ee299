#!/usr/bin/env bash
# The program on desktops without an X server of its own: with no display at all, and in a
# Wayland compositor (weston's headless backend) alone and with XWayland. Natively on
# Wayland, the client's own protocol log (WAYLAND_DEBUG) shows what the compositor was
# asked to show.
#
# usage: run-wayland.sh VARNELLO VARNELLO_OPEN DEMO_DRIVE [SCREENSHOT_DIR]
#   SCREENSHOT_DIR  when given, the compositor's screen is saved there as each run is checked
#
# Exit status 0 when every check passes, 1 on the first failure, 77 (skipped) when weston,
# XWayland or Qt's Wayland platform is missing.
set -uo pipefail

[ $# = 3 ] || [ $# = 4 ] || { echo "usage: $0 VARNELLO VARNELLO_OPEN DEMO_DRIVE [SCREENSHOT_DIR]" >&2; exit 2; }
program=$1 launcher=$2 demo=$3 shots=${4:-}

for tool in weston weston-screenshooter Xwayland xdotool; do
    command -v "$tool" >/dev/null || { echo "wayland: $tool is not installed; skipped"; exit 77; }
done
dpkg-query -W -f='${db:Status-Status}' qt6-wayland 2>/dev/null | grep -qx installed \
    || { echo "wayland: qt6-wayland is not installed; skipped"; exit 77; }

work=$(mktemp -d "${TMPDIR:-/tmp}/varnello-wayland.XXXXXX")
started=()
cleanup() {
    local pid
    for pid in "${started[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

fail() {
    echo "wayland FAILED: $*" >&2
    [ -s "$work/app.log" ] && { echo "--- program output (last lines) ---"; tail -n 20 "$work/app.log"; } >&2
    exit 1
}
wait_until() {
    local _
    for _ in $(seq 600); do "$@" && return 0; sleep 0.1; done
    return 1
}

export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
export WINEPREFIX="$work/no-wine"
unset DISPLAY WAYLAND_DISPLAY QT_QPA_PLATFORM SESSION_MANAGER

drive="$work/drive"
mkdir "$drive" && cp "$demo"/* "$drive"/ || fail "cannot copy the demo drive"
# Without the files an earlier MS-DOS leaves, the program warns in a message box at once.
bare="$work/bare"
mkdir "$bare" && cp "$demo/msdos.sys" "$bare"/ || fail "cannot copy msdos.sys"

# ---------------------------------------------------------------------------------------
# No display: one line on standard error and status 1, from either program, whether no
# display is named or the one named does not answer.
no_display() {
    local status lines
    env "$@" >"$work/out" 2>"$work/err"
    status=$?
    lines=$(wc -l <"$work/err")
    [ "$status" = 1 ] && [ "$lines" = 1 ] && [ ! -s "$work/out" ] \
        || fail "$* ended with status $status and $lines lines on standard error: $(cat "$work/err")"
    echo "wayland: $(basename "${*: -1}") without a display: $(cat "$work/err")"
}
no_display VARNELLO_DRIVE_C="$drive" "$program"
no_display VARNELLO_DRIVE_C= "$launcher"  # no drive: it would ask in a window
no_display WAYLAND_DISPLAY=no-such-compositor VARNELLO_DRIVE_C="$drive" "$program"

# ---------------------------------------------------------------------------------------
# A headless weston on a socket of its own; sets WESTON_LOG.
start_weston() {
    local name=$1
    shift
    WESTON_LOG="$work/$name.log"
    weston --backend=headless-backend.so --use-pixman --width=1024 --height=768 --no-config \
        --idle-time=0 --debug --socket="$name" --log="$WESTON_LOG" "$@" >/dev/null 2>&1 &
    started+=($!)
    wait_until test -S "$XDG_RUNTIME_DIR/$name" || fail "weston did not start: $(cat "$WESTON_LOG")"
}

# Starts the program on drive $1 with the environment that follows; the protocol log of a
# native Wayland client goes to app.log.
start_program() {
    local on=$1
    shift
    : >"$work/app.log"
    env VARNELLO_DRIVE_C="$on" WAYLAND_DEBUG=client "$@" "$program" >"$work/app.log" 2>&1 &
    app_pid=$!
    started+=("$app_pid")
}
stop_program() {
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended: status $(wait "$app_pid"; echo $?)"
    kill "$app_pid" && wait "$app_pid" 2>/dev/null
}

screenshot() {
    [ -n "$shots" ] || return 0
    (cd "$work" && rm -f wayland-screenshot*.png \
        && WAYLAND_DISPLAY=$1 weston-screenshooter >/dev/null 2>&1 \
        && mv wayland-screenshot*.png "$shots/$2.png") || fail "no screenshot $2"
    echo "wayland: screenshot $shots/$2.png"
}

# The program's own Wayland protocol log, as "toplevel N TITLE" when the Nth toplevel
# window gets its title and "drawn N" when it is first given something to show.
toplevel_events() {
    awk '
        function id(text, kind) { match(text, kind "@[0-9]+"); return substr(text, RSTART + length(kind) + 1, RLENGTH - length(kind) - 1) }
        /get_xdg_surface\(new id xdg_surface@/ { surface_of[id($0, "new id xdg_surface")] = id($0, "wl_surface") }
        /get_toplevel\(new id xdg_toplevel@/ {
            n++; number[id($0, "new id xdg_toplevel")] = n; on_surface[surface_of[id($0, "xdg_surface")]] = n
        }
        /xdg_toplevel@[0-9]+\.set_title\("/ { t = $0; sub(/.*set_title\("/, "", t); sub(/"\).*/, "", t); print "toplevel " number[id($0, "xdg_toplevel")] " " t }
        /wl_surface@[0-9]+\.attach\(wl_buffer@/ { w = on_surface[id($0, "wl_surface")]; if (w && !drawn[w]++) print "drawn " w }
    ' "$work/app.log"
}
events_include() { toplevel_events | grep -qx "$1"; }

# Alone: the splash window (the first toplevel) drawn before the main window is made, the
# main window of fixed size, and a message box during the load a drawn window of its own.
start_weston wayland-alone
start_program "$drive" WAYLAND_DISPLAY=wayland-alone
wait_until events_include "drawn 2" || fail "no main window on Wayland: $(toplevel_events)"
toplevel_events | awk '/^drawn 1$/ { drawn = 1 } /^toplevel 2 / { seen = 1; exit } END { exit !(seen && drawn) }' \
    || fail "the splash window was not drawn before the main window: $(toplevel_events | tr '\n' ' ')"
grep -Eq 'set_min_size\(426, 337\)' "$work/app.log" && grep -Eq 'set_max_size\(426, 337\)' "$work/app.log" \
    || fail "the main window is not of fixed size on Wayland"
sleep 1
screenshot wayland-alone weston-main-window
stop_program
echo "wayland: alone, native: splash drawn first, then the fixed main window"

start_program "$bare" WAYLAND_DISPLAY=wayland-alone
wait_until events_include "drawn 2" || fail "no message box on Wayland: $(toplevel_events)"
events_include "toplevel 2 Varnello" || fail "the message box is no window titled Varnello: $(toplevel_events)"
sleep 1
screenshot wayland-alone weston-message-box
stop_program
echo "wayland: alone, native: the message box is a window of its own"

# With XWayland: X11, where the windows place themselves; no Wayland connection at all.
start_weston wayland-x11 --xwayland
# weston says where XWayland listens once it has set it up, after its own socket is there.
xwayland_display() { x11=$(sed -n 's/.*xserver listening on display \(:[0-9]*\).*/\1/p' "$WESTON_LOG" | head -n 1); [ -n "$x11" ]; }
wait_until xwayland_display || fail "weston started no XWayland: $(cat "$WESTON_LOG")"
start_program "$drive" WAYLAND_DISPLAY=wayland-x11 DISPLAY="$x11"
main_on_x11() { DISPLAY=$x11 xdotool search --onlyvisible --name '^Varnello$' >/dev/null 2>&1; }
wait_until main_on_x11 || fail "no main window through XWayland on $x11"
! grep -q 'wl_display' "$work/app.log" || fail "the program spoke Wayland beside XWayland"
sleep 1
screenshot wayland-x11 weston-xwayland-main-window
stop_program
echo "wayland: with XWayland, the program took X11 ($x11)"
