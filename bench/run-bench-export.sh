#!/usr/bin/env bash
# Export and import of a large diary from the command line: makes a diary of N notes
# (default 10 000; every tenth with a 30 KB picture) in a temporary data folder, then times
# `kelpo --export` (Markdown, HTML, PDF of one month) and `kelpo --import` of the Markdown
# export into an empty diary, and checks that the import gives back every note.
# Usage: bash bench/run-bench-export.sh [build folder] [notes]
set -euo pipefail
build="${1:-build}"
notes="${2:-10000}"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

data="$work/one/Greyfen Software/kelpo"
mkdir -p "$data"
python3 - "$data/local.db" "$notes" <<'PY'
import base64, random, sqlite3, sys, uuid, datetime
db = sqlite3.connect(sys.argv[1])
n = int(sys.argv[2])
db.executescript("""
CREATE TABLE note (id INTEGER PRIMARY KEY AUTOINCREMENT, server_id INTEGER, user_id INTEGER,
 set_at TEXT, created_at TEXT, title TEXT, content TEXT, content_size INTEGER, md5 TEXT,
 updated_at TEXT, deleted INTEGER, uuid TEXT);
CREATE TABLE user (id INTEGER PRIMARY KEY AUTOINCREMENT, server_id INTEGER, name TEXT, pwd TEXT,
 nickname TEXT, nick_name TEXT, classify_string TEXT, server_url TEXT);
CREATE TABLE log (id INTEGER PRIMARY KEY AUTOINCREMENT, log_type TEXT, log_at TEXT, error TEXT,
 result TEXT, user_id INTEGER, log_obj TEXT);
""")
random.seed(1)
# A real PNG of about 30 KB: random pixels do not compress.
import struct, zlib
w = h = 100
raw = b"".join(b"\0" + bytes(random.getrandbits(8) for _ in range(w * 3)) for _ in range(h))
def chunk(t, d): return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0)) \
      + chunk(b"IDAT", zlib.compress(raw)) + chunk(b"IEND", b"")
img = '<img height="100" width="100" src="data:image/png;base64,%s"' % base64.b64encode(png).decode()
words = "kelp forest tide rock pool heron gull wave sand shell 海藻 森 潮 日記 散歩".split()
start = datetime.date(2016, 1, 1)
rows = []
for i in range(n):
    day = start + datetime.timedelta(days=i * 3650 // n)
    text = " ".join(random.choice(words) for _ in range(150))
    content = "<p>%s</p><p>%s</p>" % (text[:500], text[500:]) + (img if i % 10 == 0 else "")
    rows.append((None, day.isoformat() + " 00:00:00", day.isoformat() + " 08:00:00",
                 "Note %d" % i, content, len(content.encode()), day.isoformat() + " 09:00:00",
                 "{%s}" % uuid.uuid4()))
db.executemany("INSERT INTO note (user_id, set_at, created_at, title, content, content_size,"
               " updated_at, uuid) VALUES (?,?,?,?,?,?,?,?)", rows)
db.commit()
PY
echo "diary: $notes notes, $(du -h "$data/local.db" | cut -f1)"

kelpo() { XDG_DATA_HOME="$1" XDG_CONFIG_HOME="$work/config" "$build/kelpo" "${@:2}"; }
timed() {
    local label="$1"; shift
    local t0=$(date +%s.%N)
    "$@" >/dev/null
    local t1=$(date +%s.%N)
    printf '%-34s %6.1f s\n' "$label" "$(echo "$t1 - $t0" | bc)"
}
timed "export, Markdown" kelpo "$work/one" --export "$work/md"
timed "export, HTML" kelpo "$work/one" --export "$work/html" --format html
timed "export, PDF of one month" kelpo "$work/one" --export "$work/month.pdf" --format pdf --from 2020-03-01 --to 2020-03-31
timed "import of the Markdown export" kelpo "$work/two" --import "$work/md"
timed "import again (all unchanged)" kelpo "$work/two" --import "$work/md"
count=$(python3 -c "import sqlite3,sys; print(sqlite3.connect(sys.argv[1]).execute('select count(*) from note').fetchone()[0])" "$work/two/Greyfen Software/kelpo/local.db")
echo "notes after import: $count of $notes"
[[ "$count" == "$notes" ]]
