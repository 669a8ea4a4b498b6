#!/usr/bin/env bash
# Starts Kelpo from the build folder; without a display, under Xvfb.
set -euo pipefail
cd "$(dirname "$0")/.."

xvfb_pid=""
server_pid=""
cleanup() {
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
    if [[ -n "$server_pid" ]]; then
        # SIGTERM lets the service finish its requests and close its database.
        kill "$server_pid" 2>/dev/null || true
        wait "$server_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

# The note service for registration, login and synchronisation: started here unless
# something already listens on its address (another copy, or a service you run yourself).
server_host=127.0.0.1
server_port=8420
listening() { (exec 3<>"/dev/tcp/$server_host/$server_port") 2>/dev/null; }
if ! listening; then
    server_log="build/kelpo-server.log"
    build/kelpo-server --listen "$server_host:$server_port" >>"$server_log" 2>&1 &
    server_pid=$!
    for _ in $(seq 50); do
        listening && break
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    if listening; then
        echo "kelpo-server runs on http://$server_host:$server_port/mobile/ (log: $server_log)"
    else
        echo "kelpo-server did not start; see $server_log" >&2
        server_pid=""
    fi
fi

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
