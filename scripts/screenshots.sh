#!/usr/bin/env bash
# Takes pictures of the main window at 1024x768 under Xvfb, in English and in Simplified
# Chinese, into docs/screenshots/. Uses its own settings and data folders, so the
# user's notes and settings are neither read nor touched.
set -euo pipefail
cd "$(dirname "$0")/.."

out=docs/screenshots
# The programs pictured; KELPO_BIN_DIR=build-test uses the test build instead.
bin_dir=${KELPO_BIN_DIR:-build}
kelpo_server="$bin_dir/kelpo-server"
mkdir -p "$out"
work=$(mktemp -d)
xvfb_pid=""
service_pid=""
app_pid=""
cleanup() {
    [[ -n "$app_pid" ]] && kill "$app_pid" 2>/dev/null || true
    [[ -n "$service_pid" ]] && kill "$service_pid" 2>/dev/null || true
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# Xvfb picks a free display number itself and writes it to the file.
# -noreset: the server must outlive each Kelpo that is closed between pictures.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$work/display" >/dev/null 2>&1 &
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
        "$bin_dir/kelpo" >"$work/$loc.log" 2>&1 &
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

# start <home> <locale> [platform theme]: starts Kelpo on that home folder and waits for its
# window. With "qt5ct" the system palette is the dark one set up in that home.
start() {
    local home=$1 loc=$2 theme=${3:-}
    HOME="$home" XDG_CONFIG_HOME="$home/config" XDG_DATA_HOME="$home/data" \
        LANG="$loc" LANGUAGE="${loc%%.*}" LC_ALL="$loc" QT_QPA_PLATFORMTHEME="$theme" \
        "$bin_dir/kelpo" >>"$home.log" 2>&1 &
    app_pid=$!
    local wid=""
    for _ in $(seq 100); do
        wid=$(xdotool search --name '^Kelpo$' 2>/dev/null | head -n1 || true)
        [[ -n "$wid" ]] && break
        sleep 0.1
    done
    if [[ -z "$wid" ]]; then
        echo "screenshots: no Kelpo window for $loc" >&2
        cat "$home.log" >&2
        exit 1
    fi
    xdotool windowsize "$wid" 1024 768 windowmove "$wid" 0 0
    sleep 2
}

stop() {
    kill "$app_pid"
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
}

snap() {
    import -window root "$out/$1.png"
    echo "screenshots: $out/$1.png"
}

# viewshots <suffix> <locale> <y of the login view's buttons>: a diary with a few notes of this month, one of them with a
# picture: the calendar, the list, the editor, the date picker, the login and the
# registration views.
viewshots() {
    local sfx=$1 loc=$2 register_y=$3
    local home="$work/views-$loc"
    mkdir -p "$home"
    start "$home" "$loc" # makes local.db
    stop
    local db
    db=$(find "$home/data" -name local.db | head -n1)
    python3 - "$db" res/kelpo.png "$sfx" <<'PY'
import base64, datetime, hashlib, sqlite3, sys, uuid
db, picture, sfx = sys.argv[1:4]
today = datetime.date.today()
now = datetime.datetime.now().strftime("%Y-%m-%d %H:%M:%S")
img = base64.b64encode(open(picture, "rb").read()).decode()
zh = sfx.startswith("zh")
notes = [
    (0, "海带森林散步" if zh else "A walk in the kelp forest",
     ("<p>海边退潮，海带在阳光下闪着光。</p>" if zh else
      "<p>Low tide this morning; the kelp shone in the sun.</p>")
     + '<p><img height="250" width="250" src="data:image/png;base64,%s"></p>' % img),
    (2, "读书笔记" if zh else "Reading notes",
     "<p>读完了第三章。</p>" if zh else "<p>Finished chapter three.</p>"),
    (5, "买菜清单" if zh else "Shopping list",
     "<p>米、豆腐、青菜</p>" if zh else "<p>Rice, tofu, greens</p>"),
    (5, "晚饭" if zh else "Dinner with Ana",
     "<p>和朋友吃饭。</p>" if zh else "<p>Dinner by the harbour.</p>"),
]
con = sqlite3.connect(db)
for back, title, content in notes:
    day = today - datetime.timedelta(days=back)
    if day.month != today.month:
        day = today
    data = content.encode()
    con.execute("INSERT INTO note (server_id, user_id, set_at, created_at, title, content,"
                " content_size, md5, updated_at, deleted, uuid) VALUES"
                " (NULL, 0, ?, ?, ?, ?, ?, ?, ?, 0, ?)",
                (day.strftime("%Y-%m-%d 00:00:00"), now, title, content, len(data),
                 hashlib.md5(data).hexdigest(), now, "{%s}" % uuid.uuid4()))
con.commit()
PY

    # The toolbar is 8% of 768 high; its buttons are squares of 80% of that, 10 apart.
    local bar=$((768 * 8 / 100)) btn=$((768 * 64 / 1000))
    local toggle_x=$((1024 - btn - 10 - btn / 2))

    start "$home" "$loc"
    xdotool mousemove 1000 700
    sleep 0.5
    snap "calendar-$sfx"
    xdotool mousemove $toggle_x $((bar / 2)) click 1
    sleep 1.5
    snap "list-$sfx"
    # The first row holds the newest note, the one with the picture.
    xdotool mousemove 300 $((bar + 30)) click 1
    sleep 1.5
    xdotool mousemove 1000 740
    sleep 0.5
    snap "editor-$sfx"
    # The date field: 20% of the toolbar's height below it, 60% of it high.
    xdotool mousemove 512 $((bar + bar / 5 + bar * 3 / 10)) click 1
    sleep 1.5
    snap "datepicker-$sfx"
    stop

    start "$home" "$loc"
    xdotool mousemove $((1024 - btn / 2)) $((bar / 2)) click 1
    sleep 1
    xdotool mousemove 990 160 click 1 # the menu's "Login"
    sleep 1.5
    xdotool mousemove 1000 740
    sleep 0.5
    snap "login-$sfx"
    xdotool mousemove 512 "$register_y" click 1 # "Register"
    sleep 1.5
    xdotool mousemove 1000 740
    sleep 0.5
    snap "register-$sfx"
    stop
}

# interfaceshots <suffix> <locale>: a diary whose notes belong to carol, seen after a start
# without automatic login (the hint names her), and the calendar and list in the dark theme.
interfaceshots() {
    local sfx=$1 loc=$2
    local home="$work/interface-$loc"
    mkdir -p "$home"
    start "$home" "$loc"
    stop
    local db ini
    db=$(find "$home/data" -name local.db | head -n1)
    ini=$(find "$home/config" -name '*.ini' | head -n1)
    # A service address where nobody listens: logins there fail at once.
    printf 'm_strServerUrl=http://127.0.0.1:9/mobile/\n' >>"$ini"
    python3 - "$db" "$sfx" <<'PY'
import datetime, hashlib, sqlite3, sys, uuid
db, sfx = sys.argv[1:3]
zh = sfx.startswith("zh")
today = datetime.date.today()
now = datetime.datetime.now().strftime("%Y-%m-%d %H:%M:%S")
con = sqlite3.connect(db)
con.execute("INSERT INTO user (server_id, name, pwd, nickname) VALUES (0, 'carol', ?, 'Carol')",
            (hashlib.md5(b"kelp-forest").hexdigest(),))
uid = con.execute("SELECT id FROM user WHERE name = 'carol'").fetchone()[0]
for back, text in [(1, "潮汐表" if zh else "Tide table"), (3, "海边" if zh else "At the shore"),
                   (4, "读书" if zh else "Reading")]:
    day = today - datetime.timedelta(days=back)
    if day.month != today.month:
        day = today
    content = "<p>%s</p>" % text
    con.execute("INSERT INTO note (server_id, user_id, set_at, created_at, title, content,"
                " content_size, md5, updated_at, deleted, uuid) VALUES"
                " (NULL, ?, ?, ?, ?, ?, ?, ?, ?, 0, ?)",
                (uid, day.strftime("%Y-%m-%d 00:00:00"), now, text, content, len(content),
                 hashlib.md5(content.encode()).hexdigest(), now, "{%s}" % uuid.uuid4()))
con.commit()
PY

    start "$home" "$loc"
    xdotool mousemove 1000 700
    sleep 0.5
    snap "owners-$sfx"
    # A new note with text, then Escape: the question before anything typed is thrown away.
    xdotool mousemove 350 20 click 1
    xdotool key ctrl+n
    sleep 2.5
    xdotool type --delay 20 "$(if [[ $sfx == zh* ]]; then echo 'Kelp 森林'; else echo 'A walk in the kelp forest'; fi)"
    xdotool key Escape
    sleep 1
    snap "cancel-$sfx"
    stop

    # The same diary under a dark system palette.
    mkdir -p "$home/config/qt5ct"
    printf '[Appearance]\ncolor_scheme_path=/usr/share/qt5ct/colors/darker.conf\ncustom_palette=true\nstyle=Fusion\n' \
        >"$home/config/qt5ct/qt5ct.conf"
    start "$home" "$loc" qt5ct
    xdotool mousemove 350 20 click 1
    xdotool mousemove 1000 700
    sleep 0.5
    snap "dark-calendar-$sfx"
    xdotool key ctrl+l
    sleep 1.5
    snap "dark-list-$sfx"
    # The editor on a new note, dark.
    xdotool key ctrl+n
    sleep 1.5
    xdotool type --delay 20 "Low tide at six"
    xdotool mousemove 1000 740
    sleep 0.5
    snap "dark-editor-$sfx"
    stop
}

# errorshots <suffix> <locale>: the diary file cannot be opened (a folder stands in its
# place): the message bar says so, whole, with what to do.
errorshots() {
    local sfx=$1 loc=$2
    local home="$work/error-$loc"
    mkdir -p "$home"
    start "$home" "$loc"
    stop
    local db
    db=$(find "$home/data" -name local.db | head -n1)
    rm -f "$db" "$db-wal" "$db-shm"
    mkdir "$db"
    start "$home" "$loc"
    xdotool mousemove 1000 300
    sleep 1
    snap "error-long-$sfx"
    stop
}

# remember <home> <name> <password> <service url>: automatic login as that user, against
# that service.
remember() {
    local ini
    ini=$(find "$1/config" -name '*.ini' | head -n1)
    sed -i -e '/^m_bAutoLogin=/d' -e '/^m_strUserName=/d' -e '/^m_strPwd=/d' \
        -e '/^m_strServerUrl=/d' "$ini"
    # The remembered password is wrapped in fixed marks, then Base64 and hex encoded.
    printf 'm_bAutoLogin=true\nm_strUserName=%s\nm_strPwd=%s\nm_strServerUrl=%s\n' "$2" \
        "$(printf '~?=&%s]%%;:' "$3" | base64 -w0 | xxd -p | tr -d '\n')" "$4" >>"$ini"
}

# start_service <database> [options]: starts kelpo-server on a port the system chooses; its
# URL in $service_url, its process in $service_pid.
start_service() {
    local db=$1
    shift
    if [[ -n "$service_pid" ]]; then
        kill "$service_pid" 2>/dev/null || true
        wait "$service_pid" 2>/dev/null || true
    fi
    coproc SERVICE { exec "$kelpo_server" --listen 127.0.0.1:0 --db "sqlite:$db" "$@" 2>/dev/null; }
    service_pid=$SERVICE_PID
    local line
    read -r line <&"${SERVICE[0]}"
    service_url="http://${line##* }/mobile/"
}

# syncshots <suffix> <locale>: the sync state under the toolbar: connecting, logged in at the
# service, offline, too many login attempts, and a password changed on another computer.
syncshots() {
    local sfx=$1 loc=$2
    local home="$work/sync-$loc"
    mkdir -p "$home"
    start "$home" "$loc"
    stop
    local db
    db=$(find "$home/data" -name local.db | head -n1)
    python3 - "$db" "$sfx" <<'PY'
import datetime, hashlib, sqlite3, sys, uuid
db, sfx = sys.argv[1:3]
zh = sfx.startswith("zh")
today = datetime.date.today()
now = datetime.datetime.now().strftime("%Y-%m-%d %H:%M:%S")
con = sqlite3.connect(db)
con.execute("INSERT INTO user (server_id, name, pwd, nickname) VALUES (0, 'carol', ?, 'Carol')",
            (hashlib.md5(b"kelp-forest").hexdigest(),))
uid = con.execute("SELECT id FROM user WHERE name = 'carol'").fetchone()[0]
for back, text in [(1, "潮汐表" if zh else "Tide table"), (3, "海边" if zh else "At the shore")]:
    day = today - datetime.timedelta(days=back)
    if day.month != today.month:
        day = today
    content = "<p>%s</p>" % text
    con.execute("INSERT INTO note (server_id, user_id, set_at, created_at, title, content,"
                " content_size, md5, updated_at, deleted, uuid) VALUES"
                " (NULL, ?, ?, ?, ?, ?, ?, ?, ?, 0, ?)",
                (uid, day.strftime("%Y-%m-%d 00:00:00"), now, text, content, len(content),
                 hashlib.md5(content.encode()).hexdigest(), now, "{%s}" % uuid.uuid4()))
con.commit()
PY

    # A service that takes the request and never answers: "connecting".
    coproc SILENT { exec python3 -c '
import socket, sys, time
s = socket.socket(); s.bind(("127.0.0.1", 0)); s.listen(8)
print(s.getsockname()[1], flush=True)
held = []
while True:
    held.append(s.accept()[0])
'; }
    local silent_pid=$SILENT_PID port
    read -r port <&"${SILENT[0]}"
    remember "$home" carol kelp-forest "http://127.0.0.1:$port/mobile/"
    start "$home" "$loc"
    snap "sync-connecting-$sfx"
    stop
    kill "$silent_pid" 2>/dev/null || true
    wait "$silent_pid" 2>/dev/null || true

    # Nobody listens: offline, retried every minute.
    remember "$home" carol kelp-forest "http://127.0.0.1:9/mobile/"
    start "$home" "$loc"
    sleep 1
    snap "sync-offline-$sfx"
    stop

    # The real service, carol registered there.
    start_service "$home/service.db"
    curl -s -o /dev/null -F email=carol@example.com -F name=carol -F nickname=Carol \
        -F "pwd=$(printf kelp-forest | md5sum | cut -c1-32)" -F pwd_org=kelp-forest \
        "${service_url}register_user"
    remember "$home" carol kelp-forest "$service_url"
    start "$home" "$loc"
    sleep 3
    snap "sync-online-$sfx"
    stop

    # The password was changed on another computer: the remembered one is refused.
    remember "$home" carol old-password "$service_url"
    python3 - "$db" <<'PY'
import hashlib, sqlite3, sys
con = sqlite3.connect(sys.argv[1])
con.execute("UPDATE user SET pwd = ? WHERE name = 'carol'", (hashlib.md5(b"old-password").hexdigest(),))
con.commit()
PY
    start "$home" "$loc"
    sleep 1
    snap "sync-password-$sfx"
    stop

    # Too many attempts: the service allows one login a minute.
    start_service "$home/service.db" --login-rate 1
    local i
    for i in 1 2; do
        curl -s -o /dev/null -F name=carol -F pwd=00000000000000000000000000000000 \
            -F lang=en -F login_from=shots "${service_url}login"
    done
    remember "$home" carol kelp-forest "$service_url"
    python3 - "$db" <<'PY'
import hashlib, sqlite3, sys
con = sqlite3.connect(sys.argv[1])
con.execute("UPDATE user SET pwd = ? WHERE name = 'carol'", (hashlib.md5(b"kelp-forest").hexdigest(),))
con.commit()
PY
    start "$home" "$loc"
    sleep 1
    snap "sync-toomany-$sfx"
    stop
    kill "$service_pid" 2>/dev/null || true
    wait "$service_pid" 2>/dev/null || true
    service_pid=""
}

# optionsshots <suffix> <locale>: the backup, export and import view with one backup made
# from it (Return on its focused button), in the light and in the dark theme.
optionsshots() {
    local sfx=$1 loc=$2
    local home="$work/options-$loc"
    mkdir -p "$home/config/qt5ct"
    printf '[Appearance]\ncolor_scheme_path=/usr/share/qt5ct/colors/darker.conf\ncustom_palette=true\nstyle=Fusion\n' \
        >"$home/config/qt5ct/qt5ct.conf"
    local bar=$((768 * 8 / 100)) btn=$((768 * 64 / 1000))
    local theme shot
    for theme in "" qt5ct; do
        shot="options-$sfx"
        [[ -n "$theme" ]] && shot="dark-options-$sfx"
        start "$home" "$loc" "$theme"
        xdotool mousemove $((1024 - btn / 2)) $((bar / 2)) click 1
        sleep 1
        xdotool mousemove 990 195 click 1 # the menu's "Backup, export and import"
        sleep 1.5
        [[ -z "$theme" ]] && xdotool key Return # "Back up now" has the focus
        xdotool mousemove 1000 740
        sleep 1.5
        snap "$shot"
        stop
    done
}

# One group alone: `scripts/screenshots.sh sync` (or views, interface, error, options).
if [[ -n "${1:-}" ]]; then
    case "$1" in
    sync | error | options)
        "${1}shots" en en_US.UTF-8
        "${1}shots" zh_CN zh_CN.UTF-8
        ;;
    views)
        viewshots en en_US.UTF-8 403
        viewshots zh_CN zh_CN.UTF-8 438
        ;;
    interface)
        interfaceshots en en_US.UTF-8
        interfaceshots zh_CN zh_CN.UTF-8
        ;;
    *)
        echo "screenshots: unknown group $1 (sync, views, interface, error, options)" >&2
        exit 2
        ;;
    esac
    exit 0
fi

notes=("Low tide: walked out to the kelp beds" "Bought bread and green tea")
shots main-en en_US.UTF-8
notes=("Low tide: walked out to the kelp beds" "Tea with Lin")
shots main-zh_CN zh_CN.UTF-8
viewshots en en_US.UTF-8 403
viewshots zh_CN zh_CN.UTF-8 438
interfaceshots en en_US.UTF-8
interfaceshots zh_CN zh_CN.UTF-8
syncshots en en_US.UTF-8
syncshots zh_CN zh_CN.UTF-8
errorshots en en_US.UTF-8
errorshots zh_CN zh_CN.UTF-8
optionsshots en en_US.UTF-8
optionsshots zh_CN zh_CN.UTF-8
