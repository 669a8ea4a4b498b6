#!/usr/bin/env bash
# Takes pictures of the main window at 1024x768 under Xvfb, in English and in Simplified
# Chinese, into docs/screenshots/. Uses its own settings and data folders, so the
# user's notes and settings are neither read nor touched.
set -euo pipefail
cd "$(dirname "$0")/.."

out=docs/screenshots
mkdir -p "$out"
work=$(mktemp -d)
xvfb_pid=""
app_pid=""
cleanup() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

n=99
while [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]]; do n=$((n + 1)); done
Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=":$n"
for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done

# shot <file> <locale>: starts Kelpo in that locale, waits for its window, takes the picture.
shot() {
    local file=$1 loc=$2
    local home="$work/$loc"
    mkdir -p "$home"
    HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
        LANG="$loc" LANGUAGE="${loc%%.*}" LC_ALL="$loc" \
        build/kelpo >"$work/$loc.log" 2>&1 &
    app_pid=$!
    local wid=""
    for _ in $(seq 100); do
        wid=$(xdotool search --name '^Kelpo$' 2>/dev/null | head -n1 || true)
        [[ -n "$wid" ]] && break
        sleep 0.1
    done
    if [[ -z "$wid" ]]; then
        echo "screenshots: no Kelpo window for $loc" >&2
        cat "$work/$loc.log" >&2
        exit 1
    fi
    xdotool windowsize "$wid" 1024 768 windowmove "$wid" 0 0
    sleep 2 # let the views lay out and load their first data
    import -window root "$file"
    kill "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
    echo "screenshots: $file"
}

shot "$out/main-en.png" en_US.UTF-8
shot "$out/main-zh_CN.png" zh_CN.UTF-8
