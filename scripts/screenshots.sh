#!/usr/bin/env bash
# Takes the README's screenshots in a private X server: usage screenshots.sh BUILD_DIR
#
# docs/main-window.png shows the main window on a drive without an earlier MS-DOS, where
# two boxes are locked, with the pointer over the locked "Boot Windows 95 as Default OS";
# docs/information-window.png shows the information window; docs/disk-image.png the main
# window on a 2 GiB disk image with a Windows 95 layout (scripts/win95-image.sh) holding
# the demo drive, with the pointer over "Display Boot Menu".
set -euo pipefail

if [ $# -ne 1 ]; then
    echo "usage: $0 BUILD_DIR" >&2
    exit 2
fi
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
docs="$here/../docs"
work=$(mktemp -d "${TMPDIR:-/tmp}/varnello-shots.XXXXXX")
app=
xvfb_pid=
trap 'kill $app $xvfb_pid 2>/dev/null; rm -rf "$work"' EXIT

source "$here/xvfb.sh"
start_xvfb "$work/xvfb.log" || { echo "no free X display" >&2; exit 1; }
export QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"

mkdir "$work/drive"
cp "$here/../resources/demo/msdos.sys" "$work/drive/"
VARNELLO_DRIVE_C="$work/drive" "$1/varnello" &
app=$!

# The first window titled $1 that shows, once it has had time to paint.
window() {
    local id
    for _ in $(seq 100); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { sleep 0.5; echo "$id"; return; }
        sleep 0.1
    done
    echo "no window $1" >&2
    exit 1
}

window Varnello >/dev/null  # "MS-DOS Version 5 or 6.x is not found."
xdotool key Return
sleep 0.5
main=$(window Varnello)
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 100)) $((Y + 1680 / 15 + 8))  # over Check(5)
sleep 0.3
import -window "$main" "$docs/main-window.png"

xdotool mousemove $((X + 4207 / 15)) $((Y + 1027 / 15)) click 1  # Info About...
import -window "$(window 'Varnello Info')" "$docs/information-window.png"
kill "$app"
wait "$app" 2>/dev/null || true

"$here/win95-image.sh" "$work/win95.img" "$here/../resources/demo"
VARNELLO_DRIVE_C="$work/win95.img" "$1/varnello" &
app=$!
main=$(window Varnello)
eval "$(xdotool getwindowgeometry --shell "$main")"
xdotool mousemove $((X + 100)) $((Y + 240 / 15 + 8))  # over Check(1)
sleep 0.3
import -window "$main" "$docs/disk-image.png"
echo "written: $docs/main-window.png $docs/information-window.png $docs/disk-image.png"
