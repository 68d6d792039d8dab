#!/bin/sh
# The application in a real X11 window on a private Xvfb display, clicked with real pointer
# events at its controls' window positions (points times SCALE): the shutter, the last-photo
# thumbnail, the share screen's back button, the settings button and its back button, the
# filters button and a preview of the picker it opens. The
# script the application runs meanwhile (clicks.script) checks that each click did its work;
# afterwards exactly one photo must be in the album.
#   real-window.sh QUORBIT SCRIPT SCALE [APP_ID]
# The window's X11 class must be APP_ID (the application's identifier).
# Exits 77 (skipped) when Xvfb or xdotool is missing or Xvfb cannot start.
set -u
quorbit=$1 script=$2 scale=$3 app_id=${4:-io.github.quorbit.Flurio}
. "$(dirname "$0")/xvfb-session.sh"
window_session 1280x1024x24

QUORBIT_CONFIG_DIR="$work/config" QUORBIT_PICTURES_DIR="$work/album" \
    "$quorbit" --new-instance --scale "$scale" --script "$script" &
app_pid=$!

# The window, once mapped, and a click at a point of the 320 x 480 screen.
window=$(xdotool search --sync --onlyvisible --name '^Flurio$' 2>/dev/null | head -n1)
[ -n "$window" ] || { echo "the application's window did not appear" >&2; exit 1; }
class_pattern="^$(printf '%s' "$app_id" | sed 's/\./\\./g')\$"
xdotool search --class "$class_pattern" 2>/dev/null | grep -qx "$window" ||
    { echo "the window's X11 class is not $app_id" >&2; exit 1; }
click() {
    x=$(awk "BEGIN { printf \"%d\", $1 * $scale }")
    y=$(awk "BEGIN { printf \"%d\", $2 * $scale }")
    xdotool mousemove --window "$window" "$x" "$y" mousedown 1
    sleep 0.05
    xdotool mouseup 1
    sleep 0.8
}
sleep 0.5
click 160 453.5  # shutter
click 30 453.5   # last-photo: the share screen opens
click 40 22      # share-back
click 294 453.5  # settings
click 40 22      # settings-back
click 70 453.5   # filters: the picker opens
click 237 107    # preview-1: chosen, the picker closes

wait "$app_pid"
status=$?
app_pid=
[ $status -eq 0 ] || { echo "the application's script failed with status $status" >&2; exit 1; }
found=$(find "$work/album" -maxdepth 1 -name '*.jpg' | wc -l)
[ "$found" -eq 1 ] || { echo "expected 1 photo in the album, found $found" >&2; exit 1; }
grep -Eq '"LastFilterUsed" *: *1[^0-9]' "$work/config/defaults.json" ||
    { echo "the preview clicked was not kept as the filter" >&2; exit 1; }
echo "clicked at scale $scale: $found photo in the album"
