# Sourced by the real-window tests. window_session SCREEN: skips (status 77) when Xvfb or
# xdotool is missing; makes a scratch folder $work (removed at exit, with the application
# in $app_pid and Xvfb) holding a settings folder in which a filter is already kept, so the
# picker does not open at start, and an empty album; starts a private Xvfb with one screen of
# SCREEN (WIDTHxHEIGHTxDEPTH) on a free display and exports DISPLAY for it; skips when Xvfb
# cannot start. The caller sets -u and defines nothing of these names.
skip() { echo "SKIPPED: $*"; exit 77; }

window_session() {
    for tool in Xvfb xdotool; do
        command -v $tool >/dev/null 2>&1 ||
            skip "$tool is not installed (scripts/install-deps installs it)"
    done
    work=$(mktemp -d "${TMPDIR:-/tmp}/quorbit-window-XXXXXX") || exit 1
    xvfb_pid= app_pid=
    trap window_session_end EXIT
    mkdir -p "$work/config" "$work/album"
    printf '{"LastFilterUsed": 3}\n' > "$work/config/defaults.json"

    # Xvfb picks a free display number and writes it to the descriptor given.
    Xvfb -displayfd 3 -screen 0 "$1" -nolisten tcp -noreset 3>"$work/display" \
        >"$work/xvfb.log" 2>&1 &
    xvfb_pid=$!
    for _ in $(seq 50); do
        [ -s "$work/display" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -s "$work/display" ] || { cat "$work/xvfb.log"; skip "Xvfb could not start"; }
    DISPLAY=":$(head -n1 "$work/display")"
    export DISPLAY
    unset WAYLAND_DISPLAY SDL_VIDEODRIVER
}

window_session_end() {
    [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
    wait 2>/dev/null
    rm -rf "$work"
}
