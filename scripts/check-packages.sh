#!/usr/bin/env bash
# Lists the Debian packages in the folder $1 and runs lintian on them: errors fail.
set -euo pipefail
dir="$1"
shopt -s nullglob
debs=("$dir"/kelpo_*.deb "$dir"/kelpo-server_*.deb)
((${#debs[@]} == 2)) || { echo "expected the packages kelpo and kelpo-server in $dir" >&2; exit 1; }
for deb in "${debs[@]}"; do
    echo "$deb"
    dpkg-deb --field "$deb" Package Version Depends | sed 's/^/    /'
done
# lintian refuses to run as root unless told it may.
lintian --allow-root --fail-on error "${debs[@]}"
