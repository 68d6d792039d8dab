#!/bin/sh
# The application in a real X11 window on a private Xvfb display, resized by the X server as a
# desktop user maximising or dragging it would: to a landscape 1280 x 800, then to a portrait
# 720 x 1280. At each size the window's picture (written by resize.script) must show the live
# view filling the rectangle the layout promises, black bands beside it and the control bar
# lit, and a click where the shutter now is must take a photo. Then Space takes one more,
# F opens the filter picker and Escape closes it. Three photos must be in the album.
#   resize.sh QUORBIT SCRIPT
# Exits 77 (skipped) when Xvfb or xdotool is missing or Xvfb cannot start.
set -u
quorbit=$1 script=$2
here=$(cd "$(dirname "$0")" && pwd)
. "$here/xvfb-session.sh"
command -v python3 >/dev/null 2>&1 || skip "python3 is not installed (scripts/install-deps installs it)"
window_session 1600x1400x24

(cd "$work" && QUORBIT_CONFIG_DIR="$work/config" QUORBIT_PICTURES_DIR="$work/album" \
    exec "$quorbit" --new-instance --camera synthetic:back --script "$script") &
app_pid=$!

window=$(xdotool search --sync --onlyvisible --name '^Flurio$' 2>/dev/null | head -n1)
[ -n "$window" ] || { echo "the application's window did not appear" >&2; exit 1; }
click() {
    xdotool mousemove --window "$window" "$1" "$2" mousedown 1
    sleep 0.05
    xdotool mouseup 1
}
# photos N: waits (up to 20 s, the machine may be busy) until the album holds N photos and
# the camera has had a moment to run again.
photos() {
    for _ in $(seq 200); do
        [ "$(find "$work/album" -maxdepth 1 -name '*.jpg' | wc -l)" -ge "$1" ] && break
        sleep 0.1
    done
    sleep 0.5
}
fail() { echo "$*" >&2; exit 1; }
# No window manager here: the window stays where it was made, so it is moved to the corner
# first, where the screen has room for it at both sizes.
xdotool windowmove --sync "$window" 0 0
xdotool windowfocus --sync "$window" 2>/dev/null
sleep 0.5

# resize WIDTH HEIGHT SHOT CHECK...: the window resized, then the picture the script writes
# at that size (SHOT) checked (see pixels.py).
resize() {
    w=$1 h=$2 shot=$work/$3
    shift 3
    xdotool windowsize --sync "$window" "$w" "$h"
    for _ in $(seq 100); do [ -s "$shot" ] && break; sleep 0.1; done
    sleep 0.3
    python3 "$here/pixels.py" "$shot" "size $w $h" "$@" || fail "the layout at $w x $h"
}

# Landscape: the bar is a 53-point column on the right; the 3:4 live view, 600 x 800, is
# centred in the 1227 x 800 left of it (x from 314 to 914), black bands either side.
resize 1280 800 landscape.png "lit 318 4 592 792" "black 0 0 310 800" "black 918 0 305 800" \
    "lit 1230 0 50 800"
click 1253 400  # the shutter, in the middle of the column
photos 1

# Portrait: the bar runs along the bottom; the live view, 720 x 960, is centred in the
# 720 x 1227 above it (y from 134 to 1094).
resize 720 1280 portrait.png "lit 4 138 712 952" "black 0 0 720 130" "black 0 1098 720 125" \
    "lit 0 1230 720 50"
click 360 1253  # the shutter, in the middle of the bar
photos 2

xdotool key space
photos 3
# F opens the picker; then a resize tells the script, which waits for it however long this
# took, to look for the picker; Escape then closes it.
xdotool key f
sleep 0.5
xdotool windowsize --sync "$window" 800 600
sleep 1.5
xdotool key Escape

wait "$app_pid"
status=$?
app_pid=
[ $status -eq 0 ] || fail "the application's script failed with status $status"
found=$(find "$work/album" -maxdepth 1 -name '*.jpg' | wc -l)
[ "$found" -eq 3 ] || fail "expected 3 photos in the album (two clicks, Space), found $found"
echo "resized to 1280 x 800 and 720 x 1280: the layout's pixels checked, $found photos taken"
