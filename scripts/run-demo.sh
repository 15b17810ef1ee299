#!/usr/bin/env bash
# Runs Varnello on the demo boot drive: usage run-demo.sh BUILD_DIR [ARGS...]
#
# resources/demo is a tiny stand-in for a Windows 95 boot drive C:. Its msdos.sys
# has the layout of a real one (a [Paths] section, an [Options] section with a few
# values that differ from the Windows 95 defaults, and the comment lines that keep
# the file above 1024 bytes, all with CR LF line endings), and the empty io.dos,
# msdos.dos and command.dos stand for a kept earlier MS-DOS, so dual boot stays
# available. The drive is copied to BUILD_DIR/demo-drive afresh on every run, so
# saving from the program never changes the committed files, and the program is
# pointed at the copy through VARNELLO_DRIVE_C. Extra arguments go to the program.
set -euo pipefail

if [ $# -lt 1 ]; then
    echo "usage: $0 BUILD_DIR [ARGS...]" >&2
    exit 2
fi
build_dir=$1
shift

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
demo_src="$here/../resources/demo"
program="$build_dir/varnello"

if [ ! -x "$program" ]; then
    echo "run-demo: $program not found or not executable; build first (make build)." >&2
    exit 1
fi

# Without a display Qt would abort with a cryptic platform-plugin error.
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "make run needs a graphical display (X11 or Wayland); none is set." >&2
    echo "Try: xvfb-run -a make run" >&2
    exit 1
fi

drive="$build_dir/demo-drive"
rm -rf "$drive"
cp -r "$demo_src" "$drive"

export VARNELLO_DRIVE_C
VARNELLO_DRIVE_C=$(cd "$drive" && pwd)
exec "$program" "$@"
