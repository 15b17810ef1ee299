#!/usr/bin/env bash
# End-to-end run of the built program in a private X server, driven only by real X
# input (xdotool: pointer moves, clicks and key presses through XTEST). Checks the
# windows that appear (title, class, size, place) and what reaches msdos.sys (bytes
# and DOS attributes).
#
# usage: run-e2e.sh VARNELLO DOSATTR DEMO_DRIVE
#   VARNELLO    the built program
#   DOSATTR     helper that prints a file's DOS attribute set (tests/e2e/dosattr.cpp)
#   DEMO_DRIVE  resources/demo; each scenario runs on a fresh copy of it
#
# Exit status 0 when every scenario passes, 1 on the first failure, 77 (skipped) when
# the X server or xdotool is missing.
set -uo pipefail

if [ $# -ne 3 ]; then
    echo "usage: $0 VARNELLO DOSATTR DEMO_DRIVE" >&2
    exit 2
fi
program=$1
dosattr=$2
demo=$3
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
model="$here/options.awk"

for tool in Xvfb xdotool xdpyinfo xprop; do
    if ! command -v "$tool" >/dev/null; then
        echo "e2e: $tool is not installed; skipped"
        exit 77
    fi
done

t0=$(date +%s%N)
work=$(mktemp -d "${TMPDIR:-/tmp}/varnello-e2e.XXXXXX")
started=()  # every process this script started, stopped again on the way out
xvfb_pid=
app_pid=

cleanup() {
    local pid
    for pid in "${started[@]}" $xvfb_pid; do
        kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

scenario=start
step() {
    local ms=$((($(date +%s%N) - t0) / 1000000))
    printf 'e2e %3d.%ds [%s] %s\n' $((ms / 1000)) $((ms % 1000 / 100)) "$scenario" "$*"
}
fail() {
    echo "e2e [$scenario] FAILED: $*" >&2
    if [ -s "$work/app.log" ]; then
        echo "--- program output ---" >&2
        cat "$work/app.log" >&2
    fi
    exit 1
}

# ---------------------------------------------------------------------------------------
# The X server, private to this run.

source "$here/../../scripts/xvfb.sh"
start_xvfb "$work/xvfb.log" || fail "no free X display between :150 and :199"
step "X server on $DISPLAY"

export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY SESSION_MANAGER
export WINEPREFIX="$work/no-wine"

# ---------------------------------------------------------------------------------------
# Windows. Without a window manager there are no frames, so a window's geometry is its
# client area, and the program centres it on the 1024 x 768 screen by itself.

screen_w=1024
screen_h=768
main_w=$((6390 / 15))  # 426
main_h=$((5055 / 15))  # 337
info_w=$((4230 / 15))  # 282
info_h=$((2895 / 15))  # 193

# Visible top-level windows titled exactly "Varnello" of the program's class.
program_windows() {
    comm -12 <(xdotool search --onlyvisible --name '^Varnello$' 2>/dev/null | sort) \
        <(xdotool search --onlyvisible --class '^Varnello$' 2>/dev/null | sort)
}

# Sets X, Y, WIDTH and HEIGHT for window $1; false when it is gone.
geometry_of() {
    local shell
    shell=$(xdotool getwindowgeometry --shell "$1" 2>/dev/null) || return 1
    eval "$(grep -E '^(X|Y|WIDTH|HEIGHT)=[0-9-]+$' <<<"$shell")"
}

is_visible() { xdotool search --onlyvisible --name '.' 2>/dev/null | grep -qx "$1"; }

# Polls command "$@" every 0.1 s for up to 30 s (the machine may be busy).
wait_until() {
    local deadline=$(($(date +%s) + 30))
    while [ "$(date +%s)" -le "$deadline" ]; do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

only_main_window() {
    local ids
    ids=$(program_windows)
    [ "$(wc -w <<<"$ids")" = 1 ] || return 1
    geometry_of "$ids" && [ "$WIDTH" = "$main_w" ] && [ "$HEIGHT" = "$main_h" ] || return 1
    main=$ids
}

# A message box: a program window titled "Varnello" that is not the main window.
box=
one_box() {
    local id
    box=
    for id in $(program_windows); do
        [ "$id" = "$main" ] && continue
        [ -n "$box" ] && return 1
        box=$id
    done
    [ -n "$box" ]
}

# Waits for a message box, checks it is modal to the main window and sets box, box_size.
expect_box() {
    wait_until one_box || fail "no message box appeared after $1"
    geometry_of "$box" || fail "the message box after $1 vanished"
    box_size="${WIDTH}x${HEIGHT}"
    [ "$box_size" != "${main_w}x${main_h}" ] || fail "the box after $1 has the main window's size"
    xprop -id "$box" WM_TRANSIENT_FOR | grep -q 'window id' \
        || fail "the box after $1 does not belong to the main window"
    step "message box after $1: $box_size"
}

not_visible() { ! is_visible "$1"; }
expect_gone() { wait_until not_visible "$1" || fail "window $1 did not close after $2"; }

# Pointer and keys. Positions are the controls' places in twips, in the main window's
# client coordinates. The server handles one client's XTEST events in order, so a move
# needs no --sync before the click (which would hang when the pointer is already there).
click_twips() {
    geometry_of "$main" || fail "the main window is gone"
    xdotool mousemove $((X + $1 / 15)) $((Y + $2 / 15)) click 1
}
# Keys go to the focused window, or with the focus on the root to the window under the
# pointer; the pointer is put over the window meant, so both ways lead there.
key_to() {
    local window=$1
    shift
    geometry_of "$window" || fail "window $window is gone before keys $*"
    xdotool mousemove $((X + WIDTH / 2)) $((Y + HEIGHT - 4))
    xdotool key --delay 60 "$@"
}
key_to_main() { key_to "$main" "$@"; }

# Control centres (twips): check boxes start at Left 240, 255 high.
check_box() { click_twips 540 $(($1 + 127)); }
CHECK1=240
CHECK9=3120
INFO_ABOUT="4207 1027"
EXIT_VRNL="5707 1027"
DEFAULT_SETTINGS="4807 2167"
SPIN0_UP="3937 3180"  # upper half of Spin(0) at 3855, 3120, 165 x 315

# ---------------------------------------------------------------------------------------
# The program and its drive.

# A fresh copy of the demo drive; prints its directory.
new_drive() {
    local drive="$work/$1"
    mkdir "$drive" && cp "$demo"/* "$drive"/ || fail "cannot copy the demo drive"
    echo "$drive"
}

launch() {
    drive=$1
    : >"$work/app.log"
    VARNELLO_DRIVE_C="$drive" "$program" >>"$work/app.log" 2>&1 &
    app_pid=$!
    started+=("$app_pid")
    main=
    wait_until only_main_window || fail "the main window did not appear alone"
    geometry_of "$main"
    [ "$X,$Y" = "$(((screen_w - main_w) / 2)),$(((screen_h - main_h) / 2))" ] \
        || fail "main window at $X,$Y, not centred"
    step "main window $main: ${WIDTH}x${HEIGHT} at $X,$Y"
}

exited() { ! kill -0 "$app_pid" 2>/dev/null; }

expect_exit() {
    local status
    wait_until exited || fail "the program did not end"
    wait "$app_pid"
    status=$?
    [ "$status" = 0 ] || fail "the program ended with status $status"
    [ -z "$(program_windows)" ] || fail "a window is left after the program ended"
    step "program ended, status 0"
}

attributes() { "$dosattr" "$drive/msdos.sys"; }
expect_attributes() {
    local got
    got=$(attributes) || fail "cannot read the attributes"
    [ "$got" = "$1" ] || fail "attributes $got, expected $1 ($2)"
}
expect_bytes() {
    cmp -s "$1" "$drive/msdos.sys" || {
        diff <(cat -A "$1") <(cat -A "$drive/msdos.sys") >&2
        fail "msdos.sys differs from what was expected ($2)"
    }
}

# The keys in the order a save writes them, with their missing-key defaults.
write_order=(BootMenu:0 BootMulti:0 BootKeys:1 BootGUI:1 BootWin:1 LoadTop:1 Logo:1
             BootWarn:1 BootDelay:2 BootMenuDefault:1 BootMenuDelay:30 DRVSpace:1
             DBLSpace:1 Network:0 DoubleBuffer:0)
numbers=" BootDelay BootMenuDefault BootMenuDelay "

# Writes to stdout what a save of file $1 leaves behind when the options are the
# file's own values (normalised) except for the KEY=VALUE overrides that follow.
expected_save() {
    local file=$1 entry key default value writes=()
    shift
    declare -A override=()
    for entry in "$@"; do override[${entry%%=*}]=${entry#*=}; done
    for entry in "${write_order[@]}"; do
        key=${entry%%:*}
        default=${entry#*:}
        if [ -n "${override[$key]:-}" ]; then
            value=${override[$key]}
        else
            value=$(awk -v get="$key" -v fallback="$default" -f "$model" "$file")
            value=${value#-}
            value=$((10#${value:-0}))
            [[ "$numbers" == *" $key "* ]] || value=$((value != 0))
        fi
        writes+=("$key=$value")
    done
    awk -v set="${writes[*]}" -f "$model" "$file"
}

# The message box sizes seen in one scenario must match those of the same question in
# another: the save question, the reboot reminder, and the two Yes/No questions.
same_size() {
    local seen="$work/size-$1"
    if [ -s "$seen" ]; then
        [ "$(cat "$seen")" = "$box_size" ] || fail "the $1 box is $box_size here, $(cat "$seen") before"
    else
        echo "$box_size" >"$seen"
    fi
}

# Answers the save question with Yes and the reboot reminder with Return.
save_with_yes() {
    key_to_main Escape
    expect_box "Esc"
    same_size save-question
    local question=$box
    key_to "$question" alt+y
    expect_gone "$question" "Yes"
    expect_box "Yes to the save question"
    same_size reboot-reminder
    cmp -s "$work/size-reboot-reminder" "$work/size-save-question" \
        && fail "the reboot reminder looks like the save question"
    if [ -n "${1:-}" ]; then
        expect_bytes "$1" "while the reboot reminder is shown"
        expect_attributes 0 "cleared for the write"
    fi
    local reminder=$box
    key_to "$reminder" Return
    expect_gone "$reminder" "Return"
    step "reboot reminder closed"
    expect_exit
}

# ---------------------------------------------------------------------------------------
toggle_and_save() {
    # All fifteen keys present, so the save changes exactly one value.
    drive=$(new_drive toggle)
    expected_save "$demo/msdos.sys" >"$drive/msdos.sys"
    cp "$drive/msdos.sys" "$work/toggle-before"
    [ "$(awk -v get=BootMenu -v fallback=x -f "$model" "$drive/msdos.sys")" = 1 ] \
        || fail "the demo drive should start with BootMenu=1"
    awk -v set="BootMenu=0" -f "$model" "$work/toggle-before" >"$work/toggle-after"
    [ "$(cmp -l "$work/toggle-before" "$work/toggle-after" | wc -l)" = 1 ] \
        || fail "the model should change one byte"
    launch "$drive"
    check_box $CHECK1
    key_to_main Escape
    expect_box "Esc"
    same_size save-question
    expect_bytes "$work/toggle-before" "nothing written before the answer"
    question=$box
    key_to "$question" alt+y
    expect_gone "$question" "Yes"
    expect_box "Yes to the save question"
    same_size reboot-reminder
    expect_bytes "$work/toggle-after" "only BootMenu changed"
    expect_attributes 0 "cleared for the write"
    key_to "$box" Return
    expect_gone "$box" "Return"
    expect_exit
    expect_bytes "$work/toggle-after" "only BootMenu changed"
    expect_attributes 7 "read-only, hidden, system after the save"
}

# ---------------------------------------------------------------------------------------
cancel_then_no() {
    drive=$(new_drive cancel)
    cp "$drive/msdos.sys" "$work/cancel-before"
    before=$(attributes)
    launch "$drive"
    key_to_main Escape
    expect_box "Esc"
    same_size save-question
    key_to "$box" Escape
    expect_gone "$box" "Esc (Cancel)"
    only_main_window || fail "the main window did not stay alone after Cancel"
    kill -0 "$app_pid" 2>/dev/null || fail "the program ended after Cancel"
    expect_bytes "$work/cancel-before" "after Cancel"
    expect_attributes "$before" "untouched by Cancel"
    click_twips $EXIT_VRNL
    expect_box "Exit"
    same_size save-question
    key_to "$box" alt+n
    expect_gone "$box" "No"
    expect_exit
    expect_bytes "$work/cancel-before" "after No"
    expect_attributes 7 "read-only, hidden, system after No"
}

# ---------------------------------------------------------------------------------------
default_settings() {
    drive=$(new_drive defaults)
    launch "$drive"
    click_twips $DEFAULT_SETTINGS
    expect_box "Default Settings"
    same_size defaults-question
    key_to "$box" alt+y
    expect_gone "$box" "Yes to the defaults"
    defaults=()
    for entry in "${write_order[@]}"; do defaults+=("${entry%%:*}=${entry#*:}"); done
    expected_save "$demo/msdos.sys" "${defaults[@]}" >"$work/defaults-after"
    save_with_yes "$work/defaults-after"
    expect_bytes "$work/defaults-after" "the Windows 95 defaults"
    expect_attributes 7 "read-only, hidden, system after the save"
}

# ---------------------------------------------------------------------------------------
compressed_drive_no() {
    drive=$(new_drive drvspace)
    launch "$drive"
    check_box $CHECK9
    expect_box "unchecking Check(9)"
    same_size drive-question
    key_to "$box" alt+n
    expect_gone "$box" "No"
    # Still checked: unchecking it again asks again (checking would ask nothing).
    check_box $CHECK9
    expect_box "unchecking Check(9) again"
    same_size drive-question
    key_to "$box" Escape
    expect_gone "$box" "Esc (No)"
    expected_save "$demo/msdos.sys" DRVSpace=1 >"$work/drvspace-after"
    save_with_yes "$work/drvspace-after"
    [ "$(awk -v get=DRVSpace -v fallback=x -f "$model" "$drive/msdos.sys")" = 1 ] \
        || fail "DRVSpace is not 1"
    expect_attributes 7 "read-only, hidden, system after the save"
}

# ---------------------------------------------------------------------------------------
spin_to_bound() {
    drive=$(new_drive spin)
    # From 70, 29 steps at 100 ms reach 99; the arrow is held well beyond that.
    awk -v set="BootDelay=70" -f "$model" "$demo/msdos.sys" >"$drive/msdos.sys"
    launch "$drive"

    # A second copy while this one runs ends silently: status 0 and no new window.
    windows_before=$(xdotool search --onlyvisible --name '.' 2>/dev/null | sort)
    VARNELLO_DRIVE_C="$drive" "$program" >"$work/second.log" 2>&1 &
    second=$!
    started+=("$second")
    second_gone() { ! kill -0 "$second" 2>/dev/null; }
    wait_until second_gone || fail "the second copy did not end"
    wait "$second"
    status=$?
    [ "$status" = 0 ] || fail "the second copy ended with status $status"
    [ "$(xdotool search --onlyvisible --name '.' 2>/dev/null | sort)" = "$windows_before" ] \
        || fail "the second copy left a window"
    only_main_window || fail "the first copy's window changed"
    step "second copy ended silently"

    geometry_of "$main"
    read -r spin_x spin_y <<<"$SPIN0_UP"
    xdotool mousemove $((X + spin_x / 15)) $((Y + spin_y / 15)) mousedown 1
    sleep 6
    xdotool mouseup 1
    expected_save "$drive/msdos.sys" BootDelay=99 >"$work/spin-after"
    save_with_yes "$work/spin-after"
    [ "$(awk -v get=BootDelay -v fallback=x -f "$model" "$drive/msdos.sys")" = 99 ] \
        || fail "BootDelay is not 99"
}

# ---------------------------------------------------------------------------------------
information_window() {
    drive=$(new_drive info)
    cp "$drive/msdos.sys" "$work/info-before"
    launch "$drive"
    # The focus is on Check(1) when the window opens: Enter there means Info About...
    key_to_main Return
    info_open() {
        info=$(xdotool search --onlyvisible --name '^Varnello Info$' 2>/dev/null | head -n 1)
        [ -n "$info" ]
    }
    wait_until info_open || fail "Enter on a check box did not open the information window"
    geometry_of "$info"
    [ "${WIDTH}x${HEIGHT}" = "${info_w}x${info_h}" ] \
        || fail "information window is ${WIDTH}x${HEIGHT}, not ${info_w}x${info_h}"
    [ "$X,$Y" = "$(((screen_w - info_w) / 2)),$(((screen_h - info_h) / 2))" ] \
        || fail "information window at $X,$Y, not centred"
    step "information window $info: ${WIDTH}x${HEIGHT} at $X,$Y"
    key_to "$info" Return
    expect_gone "$info" "Enter in the information window"
    only_main_window || fail "the main window did not stay alone"
    # Back in the main window, which takes keys again: Info About... by pointer this time.
    click_twips $INFO_ABOUT
    wait_until info_open || fail "Info About... did not open the information window"
    key_to "$info" Escape
    expect_gone "$info" "Esc in the information window"
    key_to_main Escape
    expect_box "Esc"
    same_size save-question
    key_to "$box" alt+n
    expect_gone "$box" "No"
    expect_exit
    expect_bytes "$work/info-before" "nothing written on No"
    expect_attributes 7 "read-only, hidden, system after No"
}

# ---------------------------------------------------------------------------------------
# Each scenario runs in a subshell of its own: a failure ends that scenario (and stops
# its program), and the next one still runs.

failures=()
run() {
    scenario=$1
    # E2E_ONLY=pattern runs only the scenarios whose names match.
    [[ "$1" == ${E2E_ONLY:-*} ]] || return 0
    (
        started=()
        trap 'for pid in "${started[@]}"; do kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null; done' EXIT
        trap 'exit 1' INT TERM HUP
        "$2"
    ) || failures+=("$1")
}

run "toggle and save" toggle_and_save
run "cancel then no" cancel_then_no
run "default settings" default_settings
run "compressed drive answered No" compressed_drive_no
run "spin held to the bound" spin_to_bound
run "information window" information_window

scenario=end
if [ ${#failures[@]} -gt 0 ]; then
    step "FAILED: ${failures[*]}"
    exit 1
fi
step "all scenarios passed"
