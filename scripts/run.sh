#!/usr/bin/env bash
# Starts Kelpo from the build folder; without a display, under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."

xvfb_pid=""
cleanup() {
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT

if [[ -z "${DISPLAY:-}" && -z "${WAYLAND_DISPLAY:-}" ]]; then
    n=99
    while [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]]; do n=$((n + 1)); done
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=":$n"
    for _ in $(seq 50); do
        xdpyinfo >/dev/null 2>&1 && break
        sleep 0.1
    done
    echo "No display found: Kelpo runs under Xvfb on DISPLAY=$DISPLAY"
    echo "  find the window:  DISPLAY=$DISPLAY xdotool search --name Kelpo"
    echo "  take a picture:   import -display $DISPLAY -window root shot.png"
fi

set +e
build/kelpo "$@"
rc=$?
set -e
exit $rc
