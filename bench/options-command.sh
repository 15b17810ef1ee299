#!/usr/bin/env bash
# Setting one key in ten 1.44 MB floppy images, one call each: varnello-options against the
# same done by hand with mtools (clear the attributes, copy the file out, edit it, copy it
# back, set the attributes). Prints a Markdown table of the medians.
# usage: options-command.sh VARNELLO_OPTIONS DEMO_DRIVE [ROUNDS]
#   DEMO_DRIVE  a folder whose msdos.sys goes into each image
#   ROUNDS      batches of ten of each, taken in turn (default 7)
set -euo pipefail

command=${1:?usage: $0 VARNELLO_OPTIONS DEMO_DRIVE [ROUNDS]}
demo=${2:?usage: $0 VARNELLO_OPTIONS DEMO_DRIVE [ROUNDS]}
rounds=${3:-7}
work=$(mktemp -d "${TMPDIR:-/tmp}/varnello-options-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT

mkfs.fat -C "$work/template.img" 1440 >/dev/null
mcopy -i "$work/template.img" "$demo/msdos.sys" ::/MSDOS.SYS
mattrib -i "$work/template.img" +r +h +s ::/MSDOS.SYS

fresh_images() {
    for i in 0 1 2 3 4 5 6 7 8 9; do cp "$work/template.img" "$work/floppy$i.img"; done
}

by_hand() {
    local image=$1
    mattrib -i "$image" -r -h -s ::/MSDOS.SYS
    mtype -i "$image" ::/MSDOS.SYS >"$work/msdos.sys"
    sed -i 's/^BootGUI=[0-9]*/BootGUI=0/' "$work/msdos.sys"
    mcopy -o -i "$image" "$work/msdos.sys" ::/MSDOS.SYS
    mattrib -i "$image" +r +h +s ::/MSDOS.SYS
}

with_command() {
    "$command" "$1" BootGUI=0 >/dev/null
}

# Milliseconds for one batch of ten images done by the given function.
batch() {
    fresh_images
    sync
    local start=$EPOCHREALTIME
    for i in 0 1 2 3 4 5 6 7 8 9; do "$1" "$work/floppy$i.img"; done
    local end=$EPOCHREALTIME
    mtype -i "$work/floppy9.img" ::/MSDOS.SYS >"$work/check"
    grep -aq '^BootGUI=0' "$work/check" || { echo "options-command: $1 did not set the key" >&2; exit 1; }
    echo "$start $end" | awk '{ printf "%.1f\n", ($2 - $1) * 1000 }'
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

hand=() command_ms=()
for ((round = 0; round < rounds; round++)); do
    hand+=("$(batch by_hand)")
    command_ms+=("$(batch with_command)")
done
hand_median=$(printf '%s\n' "${hand[@]}" | median)
command_median=$(printf '%s\n' "${command_ms[@]}" | median)
ratio=$(awk -v a="$command_median" -v b="$hand_median" 'BEGIN { printf "%.2f", a / b }')
met=$(awk -v r="$ratio" 'BEGIN { print (r <= 2 ? "met" : "not met") }')

echo "| Ten floppy images, BootGUI=0 in each | Batch (ms) | Per image (ms) |"
echo "|---|---:|---:|"
echo "| by hand with mtools (5 commands an image) | $hand_median | $(awk -v a="$hand_median" 'BEGIN { printf "%.1f", a / 10 }') |"
echo "| varnello-options (1 call an image) | $command_median | $(awk -v a="$command_median" 'BEGIN { printf "%.1f", a / 10 }') |"
echo
echo "Medians of $rounds batches of each, taken in turn, each on ten fresh copies of a 1.44 MB image."
echo "Goal: varnello-options at most 2x the time by hand ($met, ${ratio}x)."
