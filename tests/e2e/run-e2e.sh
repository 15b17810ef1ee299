#!/usr/bin/env bash
# End-to-end run of the built program in a private X server, driven only by real X
# input (xdotool: pointer moves, clicks and key presses through XTEST). Checks the
# windows that appear (title, class, size, place, what is on the screen) and what
# reaches msdos.sys (bytes and DOS attributes).
#
# usage: run-e2e.sh VARNELLO DOSATTR DEMO_DRIVE [WINDOW_MANAGER]
#   VARNELLO        the built program
#   DOSATTR         helper that prints a file's DOS attribute set (tests/e2e/dosattr.cpp)
#   DEMO_DRIVE      resources/demo; each scenario runs on a fresh copy of it
#   WINDOW_MANAGER  openbox to run everything under that window manager, which frames
#                   the windows; without it the X server has none
#
# Exit status 0 when every scenario passes, 1 on the first failure, 77 (skipped) when
# the X server or a tool is missing.
set -uo pipefail

if [ $# -lt 3 ] || [ $# -gt 4 ]; then
    echo "usage: $0 VARNELLO DOSATTR DEMO_DRIVE [WINDOW_MANAGER]" >&2
    exit 2
fi
program=$1
dosattr=$2
demo=$3
wm=${4:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
model="$here/options.awk"

for tool in Xvfb xdotool xdpyinfo xprop xwininfo xev import convert strace $wm; do
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
source "$here/xwindows.sh"
start_xvfb "$work/xvfb.log" || fail "no free X display between :150 and :199"
step "X server on $DISPLAY"

export XDG_RUNTIME_DIR="$work/runtime"
mkdir -m 0700 "$XDG_RUNTIME_DIR"
export QT_QPA_PLATFORM=xcb
unset WAYLAND_DISPLAY SESSION_MANAGER
export WINEPREFIX="$work/no-wine"

if [ -n "$wm" ]; then
    # The window manager's own settings only: none of the user's.
    XDG_CONFIG_HOME="$work/config" "$wm" >"$work/wm.log" 2>&1 &
    wm_pid=$!
    started+=("$wm_pid")
    wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; }
    for _ in $(seq 100); do wm_running && break; sleep 0.1; done
    wm_running || fail "$wm did not start"
    step "window manager $wm"
fi

# ---------------------------------------------------------------------------------------
# Windows. The program centres each window's outer frame on the 1024 x 768 screen; without
# a window manager there are no frames and the outer frame is the client area. At a scale
# (QT_SCALE_FACTOR) the program places windows on whole pixels of its own, scale device
# pixels each.

screen_w=1024
screen_h=768
scale=1
main_w=$((6390 / 15))  # 426
main_h=$((5055 / 15))  # 337
info_w=$((4230 / 15))  # 282
info_h=$((2895 / 15))  # 193

# Visible top-level windows titled exactly "Varnello" of the program's class.
program_windows() {
    comm -12 <(xdotool search --onlyvisible --name '^Varnello$' 2>/dev/null | sort) \
        <(xdotool search --onlyvisible --class '^Varnello$' 2>/dev/null | sort)
}

# Sets X, Y, WIDTH and HEIGHT (the client area on the screen) and FRAME_X, FRAME_Y, FRAME_W
# and FRAME_H (with the window manager's frame round it) for window $1; false when it is gone.
geometry_of() {
    local left=0 right=0 top=0 bottom=0 extents
    client_geometry "$1" || return 1
    extents=$(xprop -id "$1" _NET_FRAME_EXTENTS 2>/dev/null | sed -n 's/^_NET_FRAME_EXTENTS(CARDINAL) = //p')
    [ -n "$extents" ] && IFS=', ' read -r left right top bottom <<<"$extents"
    FRAME_X=$((X - left))
    FRAME_Y=$((Y - top))
    FRAME_W=$((WIDTH + left + right))
    FRAME_H=$((HEIGHT + top + bottom))
}

# Fails unless the outer frame of window $1 ($2 names it) stands in the middle of the screen.
expect_centred() {
    geometry_of "$1" || fail "$2 is gone"
    local left=$(((screen_w - FRAME_W) / (2 * scale) * scale)) top=$(((screen_h - FRAME_H) / (2 * scale) * scale))
    [ "$FRAME_X,$FRAME_Y" = "$left,$top" ] || fail "$2: frame ${FRAME_W}x${FRAME_H} at $FRAME_X,$FRAME_Y, not centred"
    step "$2 $1: ${WIDTH}x${HEIGHT}, frame ${FRAME_W}x${FRAME_H} at $FRAME_X,$FRAME_Y"
}

# The colours of a rectangle of the screen (left, top, width, height in pixels), one
# "#RRGGBB COUNT" a line.
colours() {
    import -window root "$work/screen.png" || fail "cannot take a screenshot"
    convert "$work/screen.png" -crop "$3x$4+$1+$2" +repage -depth 8 -format %c histogram:info:- \
        | sed -E 's/^ *([0-9]+):.*(#[0-9A-Fa-f]{6}).*/\2 \1/'
}
# How many pixels of colour $1 the colours on stdin hold.
count_of() { awk -v colour="$1" 'toupper($1) == colour { n = $2 } END { print n + 0 }'; }
# The darkest and the lightest of the colours on stdin, by their sum of red, green, blue.
darkest() { extreme 1; }
lightest() { extreme -1; }
extreme() {
    awk -v sign="$1" '{ c = toupper($1); v = 0
                        for (i = 2; i <= 7; i++) v += (index("0123456789ABCDEF", substr(c, i, 1)) - 1) * (i % 2 ? 1 : 16)
                        if (best == "" || sign * v < sign * bestv) { best = c; bestv = v } }
                      END { print best }'
}

is_visible() { xdotool search --onlyvisible --name '.' 2>/dev/null | grep -qx "$1"; }

only_main_window() {
    local ids
    ids=$(program_windows)
    [ "$(wc -w <<<"$ids")" = 1 ] || return 1
    geometry_of "$ids" && [ "$WIDTH" = $((main_w * scale)) ] && [ "$HEIGHT" = $((main_h * scale)) ] || return 1
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
    [ "$box_size" != "$((main_w * scale))x$((main_h * scale))" ] || fail "the box after $1 has the main window's size"
    xprop -id "$box" WM_TRANSIENT_FOR | grep -q 'window id' \
        || fail "the box after $1 does not belong to the main window"
    step "message box after $1: $box_size"
}

not_visible() { ! is_visible "$1"; }

# True when the window manager stacks window $1 above window $2.
stacked_above() {
    local upper lower
    upper=$(printf '0x%x' "$1")
    lower=$(printf '0x%x' "$2")
    # The window manager's stacking order, bottom first.
    [ "$(xprop -root _NET_CLIENT_LIST_STACKING | sed 's/^.*# //; s/, /\n/g' | grep -x -e "$upper" -e "$lower")" \
        = "$lower"$'\n'"$upper" ]
}

# Sets splash to the splash window while it is shown.
splash_shown() {
    splash=$(xdotool search --onlyvisible --class '^Varnello$' 2>/dev/null | while read -r id; do
        geometry_of "$id" && [ "${WIDTH}x${HEIGHT}" = "$((282 * scale))x$((105 * scale))" ] && echo "$id"
    done | head -n 1)
    [ -n "$splash" ]
}
expect_gone() { wait_until not_visible "$1" || fail "window $1 did not close after $2"; }

# Pointer and keys. Positions are the controls' places in twips, in the main window's
# client coordinates. The server handles one client's XTEST events in order, so a move
# needs no --sync before the click (which would hang when the pointer is already there).
click_twips() {
    geometry_of "$main" || fail "the main window is gone"
    xdotool mousemove $((X + $1 * scale / 15)) $((Y + $2 * scale / 15)) click 1
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
TEXT1="3667 3757"
TEXT2="3667 4237"

# ---------------------------------------------------------------------------------------
# The program and its drive.

# A fresh copy of the demo drive; prints its directory.
new_drive() {
    local drive="$work/$1"
    mkdir "$drive" && cp "$demo"/* "$drive"/ || fail "cannot copy the demo drive"
    echo "$drive"
}

# Starts the program on drive $1 with the arguments that follow, through the command in
# the array wrap when it is set.
wrap=()
start_program() {
    drive=$1
    shift
    : >"$work/app.log"
    VARNELLO_DRIVE_C="$drive" "${wrap[@]}" "$program" "$@" >>"$work/app.log" 2>&1 &
    app_pid=$!
    started+=("$app_pid")
    main=
}

# Waits for the main window, alone and centred.
expect_main_window() {
    wait_until only_main_window || fail "the main window did not appear alone"
    expect_centred "$main" "main window"
}

launch() {
    start_program "$@"
    expect_main_window
}

expect_exit() {
    await_exit "$app_pid" || fail "the program did not end"
    [ "$STATUS" = 0 ] || fail "the program ended with status $STATUS"
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
    local seen="$work/size-$1-x$scale"
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
    confirm_save "$@"
}

# The same once the save question is shown.
confirm_save() {
    same_size save-question
    local question=$box
    key_to "$question" alt+y
    expect_gone "$question" "Yes"
    expect_box "Yes to the save question"
    same_size reboot-reminder
    cmp -s "$work/size-reboot-reminder-x$scale" "$work/size-save-question-x$scale" \
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

# Esc, and No to the save question.
leave_with_no() {
    key_to_main Escape
    expect_box "Esc"
    key_to "$box" alt+n
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
    # From 95, 4 steps at 100 ms reach 99; the arrow is held far beyond that, so that a busy
    # machine's late timers still get there.
    awk -v set="BootDelay=95" -f "$model" "$demo/msdos.sys" >"$drive/msdos.sys"
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
quick_clicks() {
    # Each click on an arrow is one step, however quick or slow the hand and however busy
    # the program: sent back to back, held 150 ms (an ordinary click), made while the
    # program is stopped, slid off the arrow and back (also while the program is stopped),
    # or released far from it. The arrow is left alone a second after each, time for a
    # wrong repetition to show.
    drive=$(new_drive clicks)
    awk -v set="BootMenuDelay=30" -f "$model" "$demo/msdos.sys" >"$drive/msdos.sys"
    launch "$drive"
    geometry_of "$main"
    xdotool mousemove $((X + 3937 / 15)) $((Y + 3836 / 15))  # lower half of Spin(1)
    local clicks=0
    one_click() {
        "$@"
        sleep 1
        clicks=$((clicks + 1))
    }
    click_while_stopped() {
        kill -STOP "$app_pid"
        xdotool click 1
        sleep 0.5
        kill -CONT "$app_pid"
    }
    one_click xdotool click 1
    one_click xdotool click 1
    one_click xdotool mousedown 1 sleep 0.15 mouseup 1
    one_click click_while_stopped
    one_click xdotool mousedown 1 mousemove_relative 0 40 sleep 0.1 mousemove_relative -- 0 -40 mouseup 1
    # Slid off while the program is stopped: the move waits in the queue behind a repetition.
    slide_off_while_stopped() {
        xdotool mousedown 1
        sleep 0.1
        kill -STOP "$app_pid"
        xdotool mousemove_relative 0 100
        sleep 1
        kill -CONT "$app_pid"
        sleep 1
        xdotool mouseup 1 mousemove_relative -- 0 -100
    }
    one_click slide_off_while_stopped
    one_click xdotool mousedown 1 mousemove_relative 0 100 sleep 1 mouseup 1
    step "$clicks clicks on the down arrow from 30"
    save_with_yes
    local saved
    saved=$(awk -v get=BootMenuDelay -v fallback=x -f "$model" "$drive/msdos.sys")
    [ "$saved" = $((30 - clicks)) ] || fail "BootMenuDelay is $saved, not $((30 - clicks))"
}

# ---------------------------------------------------------------------------------------
double_scale() {
    # Twice the pixels: the frames the window manager reports are the screen's pixels.
    scale=2
    wrap=(env QT_SCALE_FACTOR=2)
    information_window
}

# ---------------------------------------------------------------------------------------
information_window() {
    drive=$(new_drive "info-x$scale")
    cp "$drive/msdos.sys" "$work/info-before"
    launch "$drive"
    # The focus is on Check(1) when the window opens: Enter there means Info About...
    key_to_main Return
    info_open() {
        info=$(xdotool search --onlyvisible --name '^Varnello Info$' 2>/dev/null | head -n 1)
        [ -n "$info" ]
    }
    wait_until info_open || fail "Enter on a check box did not open the information window"
    expect_centred "$info" "information window"
    [ "${WIDTH}x${HEIGHT}" = "$((info_w * scale))x$((info_h * scale))" ] \
        || fail "information window is ${WIDTH}x${HEIGHT}, not $((info_w * scale))x$((info_h * scale))"
    if [ -n "$wm" ]; then
        # Minimised, the modal window would take the main one along, out of reach.
        xdotool windowminimize "$info"
        both_shown() { is_visible "$info" && is_visible "$main"; }
        wait_until both_shown || fail "minimising the information window hid the program"
        step "the information window came back when minimised"
    fi
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
# Check(N)'s box, drawn 13 pixels square in the middle of its height: the colours of its
# inside (9 x 9), and of the start of its caption.
box_inside() {
    geometry_of "$main" || fail "the main window is gone"
    colours $((X + 240 / 15 + 2)) $((Y + $1 / 15 + 4)) 9 9
}
caption_start() {
    geometry_of "$main" || fail "the main window is gone"
    colours $((X + 240 / 15 + 18)) $((Y + $1 / 15)) 100 17
}
CHECK5=1680

disabled_box_grey() {
    # Without an earlier MS-DOS, "Boot Windows 95 as Default OS" is on and locked: tick and
    # caption dark grey, the caption with a white shadow, on a grey box.
    drive=$(new_drive nodos)
    rm "$drive"/*.dos
    start_program "$drive"
    expect_box "a start without an earlier MS-DOS"
    # The splash stays on top while the main window loads, but the message, shown meanwhile,
    # must stand above it, where it can be read and its OK clicked.
    if [ -n "$wm" ]; then
        splash_shown || fail "the splash window is gone while the message is shown"
        stacked_above "$box" "$splash" || fail "the message is stacked below the splash window"
    fi
    key_to "$box" Return
    expect_main_window
    xdotool mousemove $((X + 100)) $((Y + CHECK5 / 15 + 8))  # its help, for a look
    box_inside $CHECK5 >"$work/tick"
    caption_start $CHECK5 >"$work/caption"
    local tick grey ink shadow
    tick=$(count_of '#808080' <"$work/tick")
    grey=$(count_of '#C0C0C0' <"$work/tick")
    ink=$(darkest <"$work/caption")
    shadow=$(lightest <"$work/caption")
    step "Check(5): box $(tr '\n' ' ' <"$work/tick"), caption from $ink to $shadow"
    [ "$tick" -ge 15 ] || fail "the tick of Check(5) is not dark grey"
    [ $((tick + grey)) = 81 ] || fail "the box of Check(5) holds more than a dark grey tick on grey"
    [ "$ink,$shadow" = "#808080,#FFFFFF" ] || fail "the caption of Check(5) is not dark grey with a white shadow"
    leave_with_no
}

# ---------------------------------------------------------------------------------------
qt_options_are_no_drive_letters() {
    # Qt's own options are just text that is not a drive letter: drive C, nothing else.
    drive=$(new_drive qtoptions)
    for options in "-platform nosuch" "-qwindowtitle x" "-reverse"; do
        # shellcheck disable=SC2086  # one word each
        launch "$drive" $options
        # Laid out left to right: Check(1)'s box, white inside, where it was designed.
        [ "$(box_inside $CHECK1 | count_of '#FFFFFF')" -ge 40 ] || fail "the window is mirrored after $options"
        leave_with_no
        step "$options: drive C, window as designed"
    done
}

# ---------------------------------------------------------------------------------------
# The window on a drive whose BootDelay, 150, is beyond its row, and a 0, below its row,
# typed into Text(1).
zero_typed_into_a_field() {
    drive=$(new_drive "$1")
    awk -v set="BootDelay=150" -f "$model" "$demo/msdos.sys" >"$drive/msdos.sys"
    launch "$drive"
    click_twips $TEXT1
    key_to_main End BackSpace BackSpace 0
}

field_left_by_a_click() {
    # Clicks that take the focus from a field act, however short (xdotool sends press and
    # release back to back), and the field is normalised on the way.
    zero_typed_into_a_field click
    check_box $CHECK1
    click_twips $TEXT2
    key_to_main End BackSpace x
    click_twips $EXIT_VRNL
    expect_box "Exit, clicked from a field"
    expected_save "$drive/msdos.sys" BootMenu=0 BootMenuDelay=1 BootMenuDefault=1 >"$work/click-after"
    confirm_save "$work/click-after"
}

leaving_from_a_field() {
    # Leaving the window from a field normalises it before the question; a field not
    # visited keeps its value from the file.
    zero_typed_into_a_field leave
    local close=Escape
    [ -n "$wm" ] && close=alt+F4  # the window manager's close command
    key_to_main $close
    expect_box "$close in a field"
    expected_save "$drive/msdos.sys" BootMenuDelay=1 >"$work/leave-after"
    confirm_save "$work/leave-after"
}

arrow_keys_in_a_field() {
    # Up and Down step a field as its arrows do, also when each press and its release
    # wait together while the program is stopped.
    drive=$(new_drive keys)
    launch "$drive"
    click_twips $TEXT1
    kill -STOP "$app_pid"
    key_to_main Up Up Up Down
    kill -CONT "$app_pid"
    expected_save "$drive/msdos.sys" BootMenuDelay=7 >"$work/keys-after"
    save_with_yes "$work/keys-after"
}

# ---------------------------------------------------------------------------------------
splash_window() {
    # The splash window is painted before the drive is looked at and msdos.sys is read (the
    # first opening in the drive's directory is held back here for eight seconds, time for a
    # busy machine to draw; files there are opened relative to it), and only one is ever made.
    drive=$(new_drive splash)
    xev -root -event substructure >"$work/xev.log" 2>&1 &
    local xev=$!
    started+=("$xev")
    sleep 0.2
    # LeakSanitizer cannot work under ptrace; a sanitizer build is checked for leaks elsewhere.
    wrap=(env "ASAN_OPTIONS=${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0"
          strace -f -qq -o /dev/null -P "$drive" -e trace=openat
          -e inject=openat:delay_enter=8000000:when=1)
    start_program "$drive"
    wrap=()
    # strace ignores SIGTERM: should this scenario fail, the program is stopped first, and
    # strace ends with it.
    traced() { read -r traced_pid _ < <(cat /proc/"$app_pid"/task/*/children 2>/dev/null); [ -n "$traced_pid" ]; }
    wait_until traced || fail "strace did not start the program"
    started=("$traced_pid" "${started[@]}")
    wait_until splash_shown || fail "no splash window appeared"
    expect_centred "$splash" "splash window"
    # Painted, product name included, while the load is held back.
    splash_painted() {
        colours "$X" "$Y" "$WIDTH" "$HEIGHT" >"$work/splash-colours"
        [ "$(count_of '#C0C0C0' <"$work/splash-colours")" -ge 15000 ] \
            && [ "$(count_of '#0000C0' <"$work/splash-colours")" -ge 100 ]
    }
    wait_until splash_painted || fail "the splash window is not painted with the product name during the load"
    step "splash colours: $(sort -k2 -n -r "$work/splash-colours" | head -n 4 | tr '\n' ' ')"
    expect_main_window
    is_visible "$splash" && fail "the splash window is still shown"
    leave_with_no
    kill "$xev"
    local splashes
    splashes=$(awk '/^CreateNotify/ { getline; if (/width 282, height 105/) n++ } END { print n + 0 }' "$work/xev.log")
    [ "$splashes" = 1 ] || fail "$splashes splash windows were made"
}

# ---------------------------------------------------------------------------------------
disk_image() {
    # A FAT floppy image holding the demo drive, owned by an ordinary user who runs the
    # program on it: no mount and no privilege. As root the user is nobody.
    local tool
    for tool in mkfs.fat mcopy mattrib mtype setpriv; do
        command -v "$tool" >/dev/null || { step "skipped: $tool is not installed"; return 0; }
    done
    local dir="$work/image" image="$work/image/win95.img" user=()
    mkdir "$dir" || fail "cannot make the image's directory"
    expected_save "$demo/msdos.sys" >"$dir/before"
    awk -v set="BootMenu=0" -f "$model" "$dir/before" >"$dir/after"
    mkfs.fat -C "$image" 1440 >/dev/null && mcopy -i "$image" "$dir/before" ::/MSDOS.SYS \
        && mcopy -i "$image" "$demo/io.dos" "$demo/msdos.dos" "$demo/command.dos" ::/ \
        && mattrib -i "$image" +r +h +s ::/MSDOS.SYS || fail "cannot build the disk image"
    if [ "$(id -u)" = 0 ]; then
        chmod 711 "$work" && chmod 755 "$dir" && chown -R nobody: "$dir" || fail "cannot give nobody the image"
        mkdir -m 0700 "$dir/runtime" && chown nobody: "$dir/runtime"
        # A copy of the program, since the build tree may lie where nobody cannot go (/root).
        install -m 755 "$program" "$dir/varnello" || fail "cannot copy the program for nobody"
        local program="$dir/varnello"
        user=(setpriv --reuid=nobody --regid=nogroup --clear-groups env XDG_RUNTIME_DIR="$dir/runtime")
        step "running as nobody"
    fi
    wrap=("${user[@]}")
    launch "$image"
    wrap=()
    [ ${#user[@]} = 0 ] || [ "$(stat -c %U "/proc/$app_pid")" = nobody ] || fail "the program does not run as nobody"
    check_box $CHECK1
    save_with_yes
    cmp -s "$dir/after" <(mtype -i "$image" ::/MSDOS.SYS) || fail "msdos.sys in the image is not what a save writes"
    [ "$(mattrib -i "$image" ::/MSDOS.SYS)" = "     SHR     ::/MSDOS.SYS" ] \
        || fail "msdos.sys in the image is not read-only, hidden and system"
    fsck.fat -n "$image" >/dev/null || fail "fsck.fat finds the image's file system damaged"
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
run "quick clicks" quick_clicks
run "information window" information_window
[ -n "$wm" ] && run "information window at scale 2" double_scale
run "disabled box drawn grey" disabled_box_grey
run "Qt options are no drive letters" qt_options_are_no_drive_letters
run "field left by a click" field_left_by_a_click
run "leaving from a field" leaving_from_a_field
run "arrow keys in a field" arrow_keys_in_a_field
run "splash window" splash_window
run "disk image as an ordinary user" disk_image

scenario=end
if [ ${#failures[@]} -gt 0 ]; then
    step "FAILED: ${failures[*]}"
    exit 1
fi
step "all scenarios passed"
