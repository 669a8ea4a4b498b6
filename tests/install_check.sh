#!/usr/bin/env bash
# Installs the build folder $1 into a temporary prefix and checks what a desktop install
# needs: the programs, the menu entry, the icons, the AppStream data, the translations and
# the service unit.
set -euo pipefail
build="$1"
prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
id=example.greyfen.Kelpo

for f in bin/kelpo bin/kelpo-server; do
    [[ -x "$prefix/$f" ]] || fail "$f is not installed as a program"
done
expected=(
    "share/applications/$id.desktop"
    "share/metainfo/$id.metainfo.xml"
    "share/icons/hicolor/scalable/apps/$id.svg"
    share/kelpo/translations/kelpo_zh_cn.qm
    share/kelpo/translations/kelpo_ja_jp.qm
    lib/systemd/system/kelpo-server.service
    share/doc/kelpo/copyright
    share/doc/kelpo-server/copyright
)
for size in 16 24 32 48 64 128 256 512; do
    expected+=("share/icons/hicolor/${size}x${size}/apps/$id.png")
done
for f in "${expected[@]}"; do
    [[ -s "$prefix/$f" ]] || fail "$f is missing"
done
# Each icon has the size its folder names.
for size in 16 48 256; do
    actual=$(identify -format '%wx%h' "$prefix/share/icons/hicolor/${size}x${size}/apps/$id.png")
    [[ "$actual" == "${size}x${size}" ]] || fail "the ${size}x${size} icon is $actual"
done

desktop="$prefix/share/applications/$id.desktop"
desktop-file-validate "$desktop" || fail "desktop-file-validate refuses $desktop"
for key in 'Name[zh_CN]' 'Name[ja]' 'Comment[zh_CN]' 'Comment[ja]' 'Keywords[zh_CN]' 'Keywords[ja]'; do
    grep -qF -- "$key=" "$desktop" || fail "the menu entry has no $key"
done
grep -q "^Exec=kelpo$" "$desktop" || fail "the menu entry does not start kelpo"
grep -q "^Icon=$id$" "$desktop" || fail "the menu entry's icon is not $id"

appstreamcli validate --no-net "$prefix/share/metainfo/$id.metainfo.xml" >/dev/null \
    || fail "appstreamcli refuses the metainfo file"
grep -q "<launchable type=\"desktop-id\">$id.desktop</launchable>" \
    "$prefix/share/metainfo/$id.metainfo.xml" || fail "the metainfo file does not name the menu entry"

unit="$prefix/lib/systemd/system/kelpo-server.service"
for line in 'DynamicUser=yes' 'StateDirectory=kelpo-server' 'ProtectSystem=strict' \
            'NoNewPrivileges=yes' 'ProtectHome=yes' 'PrivateTmp=yes' \
            'ExecStart=/usr/bin/kelpo-server --listen 127.0.0.1:8420 --db sqlite:/var/lib/kelpo-server/kelpo-server.db'; do
    grep -qx "$line" "$unit" || fail "the unit lacks $line"
done

# The installed programs run from there.
version=$(QT_QPA_PLATFORM=offscreen "$prefix/bin/kelpo" --version)
[[ "$version" == *"3.0"* ]] || fail "kelpo --version says: $version"
"$prefix/bin/kelpo-server" --help >/dev/null || fail "kelpo-server --help fails"
echo "install into $prefix: OK"
