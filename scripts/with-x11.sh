#!/usr/bin/env bash
# Runs a command under a private Xvfb with the openbox window manager, as a studio desktop has,
# and passes its exit code through. Tests run in parallel: Xvfb picks a free display number
# itself (-displayfd), so two runs never share a server. Works as root with no display around.
set -u

if [ "$#" -eq 0 ]; then
    echo "usage: $0 command [arguments...]" >&2
    exit 2
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/with-x11.XXXXXX") || exit 1
xvfbPid=""
openboxPid=""

stopAll() {
    # openbox first: it is a client of the server and would complain when the server vanishes.
    for pid in $openboxPid $xvfbPid; do
        kill "$pid" 2>/dev/null
    done
    for pid in $openboxPid $xvfbPid; do
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap stopAll EXIT
trap 'exit 130' INT TERM

# Xvfb writes the display number it took to fd 3 once it accepts connections.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/display" \
    >"$work/xvfb.log" 2>&1 &
xvfbPid=$!

waitFor() { # waitFor <tenths of a second> <command...>: polls until the command succeeds
    local tries=$1
    shift
    while ! "$@" >/dev/null 2>&1; do
        tries=$((tries - 1))
        [ "$tries" -gt 0 ] || return 1
        sleep 0.1
    done
}

displayKnown() { grep -q '^[0-9][0-9]*$' "$work/display" && kill -0 "$xvfbPid"; }
if ! waitFor 300 displayKnown; then
    echo "with-x11: Xvfb did not start" >&2
    cat "$work/xvfb.log" >&2
    exit 1
fi
export DISPLAY=":$(head -n 1 "$work/display")"
unset WAYLAND_DISPLAY

openbox --sm-disable >"$work/openbox.log" 2>&1 &
openboxPid=$!

# The window manager is ready once it names its check window on the root window.
wmReady() { xprop -root _NET_SUPPORTING_WM_CHECK | grep -q 'window id'; }
if ! waitFor 300 wmReady; then
    echo "with-x11: openbox did not start" >&2
    cat "$work/openbox.log" >&2
    exit 1
fi

"$@"
code=$?
exit "$code"
