#!/usr/bin/env bash
# Runs the benchmarks and writes bench/RESULTS.md: usage run-bench.sh BUILD_DIR [ROUNDS]
#   BUILD_DIR  a build configured with -DVARNELLO_BENCH=ON, target varnello_bench built
#   ROUNDS     start-up runs of each program (default 21)
# Start-up runs in a private Xvfb on the first free display from :150 to :199, on a fresh
# copy of the demo drive; the file benchmarks, and varnello-options against mtools by hand,
# run in a scratch directory under TMPDIR.
set -euo pipefail

build=$(cd "${1:?usage: $0 BUILD_DIR [ROUNDS]}" && pwd)
rounds=${2:-21}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
results="$here/RESULTS.md"

work=$(mktemp -d "${TMPDIR:-/tmp}/varnello-bench.XXXXXX")
xvfb_pid=
cleanup() {
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

source "$here/../scripts/xvfb.sh"

echo "run-bench: start-up, $rounds runs of each program"
start_xvfb "$work/xvfb.log" || { echo "run-bench: no free X display between :150 and :199" >&2; exit 1; }
mkdir "$work/drive"
cp "$here/../resources/demo/"* "$work/drive/"
export VARNELLO_DRIVE_C="$work/drive"
export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY SESSION_MANAGER
echo "run-bench: a 2 GiB disk image with a Windows 95 layout, holding the demo drive"
"$here/../scripts/win95-image.sh" "$work/win95.img" "$work/drive"
"$build/bench/bench_startup" "$rounds" "$build/varnello" "$build/bench/bench_barewindow" "$work/win95.img" \
    >"$work/startup.md"

echo "run-bench: file operations"
# Five repetitions, medians reported: the saves wait on a disk other work shares.
TMPDIR="$work" "$build/bench/bench_fileops" --markdown="$work/fileops.md" --image="$work/win95.img" \
    --benchmark_repetitions=5 --benchmark_report_aggregates_only=true \
    | tee "$work/fileops.txt"

echo "run-bench: varnello-options on ten floppy images against mtools by hand"
"$here/options-command.sh" "$build/varnello-options" "$here/../resources/demo" >"$work/options.md"

cpu=$(sed -n 's/^model name[[:space:]]*: //p' /proc/cpuinfo | head -n 1)
memory=$(awk '/^MemTotal:/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
load=$(cut -d ' ' -f 1-3 /proc/loadavg)
build_type=$(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$build/CMakeCache.txt")
{
    echo "# Benchmark results"
    echo
    echo "Written by \`make bench\` (bench/run-bench.sh $(basename "$build") $rounds) on $(date -u '+%Y-%m-%d %H:%M UTC')."
    echo
    echo "Machine: $(nproc) CPUs ($cpu), $memory memory, load average $load at the end;"
    echo "$(. /etc/os-release && echo "$PRETTY_NAME"), Qt $(pkg-config --modversion Qt6Core 2>/dev/null || echo 6), build type ${build_type:-unknown}."
    echo
    echo "## Start-up"
    echo
    echo "From launch until the main window (426 x 337) is mapped, and until the process then"
    echo "sleeps in its event loop; peak resident memory from wait4(). Varnello runs on a copy of"
    echo "the demo drive under Xvfb; the bare window (bench/barewindow.cpp) has the same controls,"
    echo "fonts and icons but no splash window, no instance lock and no file access. Varnello also"
    echo "runs on a sparse 2 GiB disk image holding the same files in a Windows 95 layout (an MBR with"
    echo "one active FAT16 partition from sector 63, IO.SYS, COMMAND.COM, a WINDOWS folder; made by"
    echo "scripts/win95-image.sh), read through mtools."
    echo
    cat "$work/startup.md"
    echo
    echo "## File operations"
    echo
    echo "The fifteen reads of a load and the fifteen writes of a save, through the program's own"
    echo "profile functions, on msdos.sys files shaped like the real one ([Paths], [Options] with the"
    echo "fifteen keys, then a padding comment block). Every save changes all fifteen values, and every"
    echo "write replaces the file atomically and flushes it to disk, so the save figures are mostly the"
    echo "disk's. \"vs plain\" compares with reading, or atomically rewriting, the same bytes fifteen"
    echo "times with nothing else done. Each figure is the median of five repetitions."
    echo
    cat "$work/fileops.md"
    echo
    echo "## varnello-options against mtools by hand"
    echo
    echo "Setting BootGUI=0 in the demo drive's msdos.sys inside ten 1.44 MB floppy images, one process"
    echo 'per image, timed as a whole: `varnello-options IMAGE BootGUI=0` against the five steps by hand'
    echo '(`mattrib -r -h -s`, `mtype`, `sed`, `mcopy -o`, `mattrib +r +h +s`; bench/options-command.sh).'
    echo "varnello-options runs 12 mtools commands and flushes the image 3 times where the steps by hand"
    echo "run 4 and flush never: it reads the image's layout, root directory and cluster chains and the"
    echo "file, looks that no other entry answers to its temporary name, writes a complete copy, gives it"
    echo "the attributes, reads it back and flushes before it removes the original and renames the copy,"
    echo "then sets the attributes, holding the image's lock throughout. Figures vary with the load."
    echo
    cat "$work/options.md"
    echo
    echo "<details><summary>Google Benchmark output</summary>"
    echo
    echo '```'
    cat "$work/fileops.txt"
    echo '```'
    echo
    echo "</details>"
} >"$results"
echo "run-bench: wrote $results"
