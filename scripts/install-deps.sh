#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, test and run.
set -euo pipefail
packages=(
    build-essential cmake ninja-build ccache clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-multimedia-dev
    qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libqt6sql6-sqlite libgl-dev
    xvfb xauth dbus dbus-x11 poppler-utils sqlite3 fonts-noto-cjk mbpoll tzdata
    dpkg-dev file lintian systemd adduser
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
