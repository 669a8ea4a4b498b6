#!/usr/bin/env bash
# Installs the Debian 12 packages that building, running and testing Kelpo need.
# Quiet and quick when everything is present; run as root (or through sudo).
set -euo pipefail

packages=(
    build-essential cmake ninja-build pkg-config
    qtbase5-dev qtdeclarative5-dev qttools5-dev-tools qttools5-dev
    libqt5sql5-sqlite libqt5sql5-psql libqt5svg5-dev libsqlite3-dev
    qml-module-qtquick2 qml-module-qtquick-window2 qml-module-qtquick-controls
    qml-module-qtquick-layouts qml-module-qtquick-dialogs qml-module-qtgraphicaleffects
    qml-module-qtqml-models2 qml-module-qttest qml-module-qt-labs-folderlistmodel
    qt5-image-formats-plugins
    qttranslations5-l10n  # Qt's own dialog texts in Chinese and Japanese
    libsodium-dev libmicrohttpd-dev libcpp-httplib-dev libpq-dev libxcb1-dev
    postgresql postgresql-contrib
    strace  # the service's test that confirmed writes are synced to disk
    xvfb xauth xdotool x11-utils imagemagick librsvg2-bin
    qt5ct  # a dark system palette for `make screenshots`
    fonts-noto-cjk fonts-dejavu-core
    desktop-file-utils appstream lintian poppler-utils dpkg-dev
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done

if ((${#missing[@]})); then
    echo "install-deps: installing ${missing[*]}"
    sudo=""
    [[ $(id -u) -eq 0 ]] || sudo="sudo"
    export DEBIAN_FRONTEND=noninteractive
    $sudo apt-get update -qq
    $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
