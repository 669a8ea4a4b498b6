#!/usr/bin/env bash
# The note service benchmark: the HTTP ceiling, kelpo-server on SQLite and on a private
# PostgreSQL cluster, each with the same load driver. Run from the repository root after
# `make build`:  bash bench/run-bench-server.sh [build folder] [extra bench_server options]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
shift || true
state=$(mktemp -d /tmp/kelpo-bench.XXXXXX)
trap 'bash tests/pgcluster.sh stop "$state" >/dev/null; rm -rf "$state"' EXIT

"$build/bench_server" --ceiling "$@"
"$build/bench_server" --db sqlite "$@"
bash tests/pgcluster.sh start "$state" >/dev/null
url=$(sed -n 's/^PG_URL=//p' "$state/pg.env")
"$build/bench_server" --db "$url" "$@"
