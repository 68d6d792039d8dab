#!/bin/sh
# The application as a native Wayland client of sway (headless backend, pixman renderer, no
# input devices) on one 720 x 1440 output at scale SCALE, tiled by sway to fill it. While
# the application runs SCRIPT (picker-then-live.script), grim takes two screenshots: with
# the filter picker up at start, its live previews must cover the window with picture (not
# black); after the script's key "2" has chosen a preview, the live view must show picture
# and the chosen slot (1) must be kept. The window's Wayland app id must be APP_ID.
#   wayland-window.sh QUORBIT SCRIPT SCALE [APP_ID]
# (ctest -R e2e_wayland runs it at scale 1 and 2.) With QUORBIT_WAYLAND_SHOTS set to a
# folder, the two screenshots (PPM) are kept there to look at.
# sway refuses to run as root: as root, the test runs sway and the application as the
# unprivileged user quorbit-wayland (made with useradd when missing). Exits 77 (skipped)
# when sway or grim is missing, that user cannot be had, or sway cannot start here.
set -u
quorbit=$1 script=$2 scale=$3 app_id=${4:-io.github.quorbit.Flurio}
skip() { echo "SKIPPED: $*"; exit 77; }
fail() { echo "FAILED: $*" >&2; exit 1; }
for tool in sway swaymsg grim python3; do
    command -v "$tool" >/dev/null 2>&1 ||
        skip "$tool is not installed (scripts/install-deps installs sway and grim)"
done

work=$(mktemp -d "${TMPDIR:-/tmp}/quorbit-wayland-XXXXXX") || exit 1
chmod 755 "$work"
sway_pid='' app_pid=''
cleanup() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$sway_pid" ] && kill "$sway_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# Who runs sway and the application: this user, or an unprivileged one when this is root.
# $as is the command prefix for background jobs (a function would run in a subshell whose
# pid is not the program's); as_user runs a command to its end.
as=''
as_user() { "$@"; }
if [ "$(id -u)" -eq 0 ]; then
    user='quorbit-wayland'
    if ! id "$user" >/dev/null 2>&1; then
        useradd --system --no-create-home --home-dir /nonexistent --shell /usr/sbin/nologin \
            "$user" >/dev/null 2>&1 || skip "cannot make the unprivileged user $user (useradd)"
    fi
    command -v setpriv >/dev/null 2>&1 || skip "setpriv is missing: cannot run sway as $user"
    # setpriv execs the command itself, so that a background job's pid is the program's.
    as="setpriv --reuid=$user --regid=$user --init-groups --"
    # shellcheck disable=SC2086
    as_user() { $as "$@"; }
    # The user must reach the program, the script and the resources.
    for path in "$quorbit" "$script" "${QUORBIT_RESOURCES:-$work}"; do
        as_user test -r "$path" || skip "$user cannot read $path"
    done
fi
mkdir -p "$work/run" "$work/home" "$work/config" "$work/album" "$work/shots"
chmod 700 "$work/run"
[ "$(id -u)" -eq 0 ] &&
    chown -R "$user" "$work/run" "$work/home" "$work/config" "$work/album" "$work/shots"

# One output of 720 x 1440 pixels at the scale asked for; windows fill it without borders.
cat >"$work/sway.conf" <<CONF
output HEADLESS-1 mode 720x1440 position 0 0 scale $scale
default_border none
default_floating_border none
xwayland disable
CONF
chmod 644 "$work/sway.conf"

base_env="PATH=/usr/local/bin:/usr/bin:/bin HOME=$work/home XDG_RUNTIME_DIR=$work/run"
# shellcheck disable=SC2086
$as env -i $base_env WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    sway --config "$work/sway.conf" >"$work/sway.log" 2>&1 &
sway_pid=$!
socket='' ipc=''
for _ in $(seq 100); do
    for path in "$work/run"/wayland-*; do
        case "$path" in *.lock | *"*"*) ;; *) socket=${path##*/} ;; esac
    done
    for path in "$work/run"/sway-ipc.*.sock; do
        [ -S "$path" ] && ipc=$path
    done
    [ -n "$socket" ] && [ -n "$ipc" ] && break
    kill -0 "$sway_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$socket" ] || [ -z "$ipc" ]; then
    cat "$work/sway.log"
    skip "sway could not start with the headless backend"
fi
sway_env="$base_env WAYLAND_DISPLAY=$socket SWAYSOCK=$ipc"
# shellcheck disable=SC2086
swaymsg_() { as_user env -i $sway_env swaymsg "$@"; }
swaymsg_ -t get_outputs >"$work/outputs.json" || fail "swaymsg cannot reach sway"

# shellcheck disable=SC2086
# The sanitizers' settings go along (a sanitized build's test run sets them).
$as env -i $sway_env QUORBIT_RESOURCES="${QUORBIT_RESOURCES:-}" \
    ASAN_OPTIONS="${ASAN_OPTIONS:-}" UBSAN_OPTIONS="${UBSAN_OPTIONS:-}" \
    QUORBIT_CAMERA=synthetic SDL_AUDIODRIVER=dummy QUORBIT_LOG=info \
    QUORBIT_CONFIG_DIR="$work/config" QUORBIT_PICTURES_DIR="$work/album" \
    "$quorbit" --new-instance --script "$script" >"$work/app.log" 2>&1 &
app_pid=$!

# The window sway shows for the application: its app id and its place, in pixels.
window() {
    swaymsg_ -t get_tree | python3 -c '
import json, sys
want, scale = sys.argv[1], float(sys.argv[2])
def walk(node):
    yield node
    for child in node.get("nodes", []) + node.get("floating_nodes", []):
        yield from walk(child)
ids = []
for node in walk(json.load(sys.stdin)):
    if node.get("pid") and node.get("type") in ("con", "floating_con"):
        ids.append(str(node.get("app_id")))
        if node.get("app_id") == want:
            r = node["rect"]
            print(*(round(v * scale) for v in (r["x"], r["y"], r["width"], r["height"])))
            sys.exit(0)
print("windows: " + (", ".join(ids) or "none"), file=sys.stderr)
sys.exit(1)' "$app_id" "$scale"
}
rect=
for _ in $(seq 150); do
    rect=$(window 2>"$work/windows") && break
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
done
if [ -z "$rect" ]; then
    cat "$work/app.log"
    fail "no window with the app id $app_id ($(cat "$work/windows"))"
fi
echo "window of $app_id at $rect (pixels)"

# Picture, not black: in each of the four parts of the region (a fraction of the window), at
# least a quarter of the samples are brighter than the near-black of an empty screen (the
# gaps between previews and any room left around them are dark).
check() {
    python3 - "$1" "$rect" "$2" "$3" <<'PY'
import sys
shot, rect, what, region = sys.argv[1], [int(v) for v in sys.argv[2].split()], sys.argv[3], sys.argv[4]
data = open(shot, "rb").read()
fields, pos = [], 0
while len(fields) < 4:  # P6 WIDTH HEIGHT MAXVAL, each after whitespace
    while data[pos:pos + 1].isspace():
        pos += 1
    end = pos
    while not data[end:end + 1].isspace():
        end += 1
    fields.append(data[pos:end])
    pos = end
pos += 1
width, height = int(fields[1]), int(fields[2])
x0, y0, w, h = rect
if w <= 0 or h <= 0 or x0 + w > width or y0 + h > height:
    sys.exit(f"{what}: the window {rect} is not inside the {width} x {height} screenshot")
left, top, right, bottom = (float(v) for v in region.split(","))
# Two by two parts of the region, each sampled on a 12 x 12 grid.
for part_y in range(2):
    for part_x in range(2):
        lit = total = 0
        for j in range(12):
            for i in range(12):
                fx = left + (right - left) * (part_x + (i + 0.5) / 12) / 2
                fy = top + (bottom - top) * (part_y + (j + 0.5) / 12) / 2
                x, y = int(x0 + fx * w), int(y0 + fy * h)
                p = pos + (y * width + x) * 3
                total += 1
                lit += max(data[p:p + 3]) > 40
        if lit < total // 4:
            sys.exit(f"{what}: part {part_x},{part_y} of the window is black "
                     f"({lit} of {total} samples lit)")
print(f"{what}: picture in every part")
PY
}

# shellcheck disable=SC2086
shot() { as_user env -i $sway_env grim -t ppm "$1" || fail "grim could not take a screenshot"; }
sleep 3
shot "$work/shots/picker.ppm"
sleep 9
shot "$work/shots/live.ppm"

wait "$app_pid"
status=$?
app_pid=
if [ $status -ne 0 ]; then
    cat "$work/app.log"
    fail "the application's script failed with status $status"
fi
problems=0
# The previews fill the picker above its page indicator and close control.
check "$work/shots/picker.ppm" "the filter picker's previews" "0.03,0.02,0.97,0.82" || problems=1
# The live view fills the top of the camera screen, above the control bar.
check "$work/shots/live.ppm" "the live view" "0.05,0.05,0.95,0.6" || problems=1
grep -Eq '"LastFilterUsed" *: *1[^0-9]' "$work/config/defaults.json" ||
    { echo "the preview chosen (slot 1) was not kept as the filter" >&2; problems=1; }
[ -n "${QUORBIT_WAYLAND_SHOTS:-}" ] && mkdir -p "$QUORBIT_WAYLAND_SHOTS" &&
    cp "$work/shots/picker.ppm" "$work/shots/live.ppm" "$QUORBIT_WAYLAND_SHOTS/" &&
    echo "screenshots kept in $QUORBIT_WAYLAND_SHOTS"
[ $problems -eq 0 ] || exit 1
echo "sway at scale $scale: $app_id shows live previews, then the live view with slot 1 kept"
