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

# Xvfb picks a free display number itself and writes it to the file.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [[ -s "$work/display" ]] && break
    sleep 0.1
done
if [[ ! -s "$work/display" ]]; then
    echo "screenshots: Xvfb did not start" >&2
    exit 1
fi
export DISPLAY=":$(head -n1 "$work/display")"
for _ in $(seq 50); do
    xdpyinfo >/dev/null 2>&1 && break
    sleep 0.1
done
if ! xdpyinfo >/dev/null 2>&1; then
    echo "screenshots: cannot reach Xvfb on $DISPLAY" >&2
    exit 1
fi

# shots <name> <locale>: starts Kelpo in that locale and takes three pictures: the main
# view, the list mode, and the main view with its menu open.
shots() {
    local name=$1 loc=$2
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

    # The toolbar is 8% of 768 high; its buttons are squares of 80% of that, 10 apart,
    # the menu button at the right edge, then the mode toggle, add and search.
    local bar=$((768 * 8 / 100)) btn=$((768 * 64 / 1000))
    local add_x=$((1024 - 2 * btn - 20 - btn / 2)) field_x=$((1024 - 4 * btn - 30 - 60))

    # Two quick notes for today: typed into the search field, stored with "add".
    local note
    for note in "${notes[@]}"; do
        xdotool mousemove $field_x $((bar / 2)) click 1
        xdotool windowfocus --sync "$wid" 2>/dev/null || true
        xdotool type --delay 20 "$note"
        xdotool mousemove $add_x $((bar / 2)) click 1
        sleep 0.5
    done

    xdotool mousemove 350 20 # the empty middle of the toolbar: no hover marks
    sleep 1
    import -window root "$out/$name.png"
    echo "screenshots: $out/$name.png"
    local toggle_x=$((1024 - btn - 10 - btn / 2))
    xdotool mousemove $toggle_x $((bar / 2)) click 1
    sleep 1.5
    import -window root "$out/$name-list.png"
    echo "screenshots: $out/$name-list.png"
    xdotool mousemove $toggle_x $((bar / 2)) click 1
    sleep 1

    # Last, as nothing closes a popup on a display without a window manager.
    xdotool mousemove $((1024 - btn / 2)) $((bar / 2)) click 1
    sleep 1
    import -window root "$out/$name-menu.png"
    echo "screenshots: $out/$name-menu.png"

    kill "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
}

notes=("Low tide: walked out to the kelp beds" "Bought bread and green tea")
shots main-en en_US.UTF-8
notes=("Low tide: walked out to the kelp beds" "Tea with Lin")
shots main-zh_CN zh_CN.UTF-8
