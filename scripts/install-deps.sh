#!/usr/bin/env bash
# Installs every Debian 12 package the project needs to build, test and run.
set -euo pipefail
packages=(
    build-essential cmake ninja-build ccache clang libclang-rt-14-dev
    qt6-base-dev qt6-base-dev-tools qt6-serialport-dev qt6-multimedia-dev
    qt6-tools-dev qt6-tools-dev-tools qt6-l10n-tools libqt6sql6-sqlite libgl-dev
    xvfb xauth dbus dbus-x11 poppler-utils sqlite3 fonts-noto-cjk fonts-wqy-microhei
    locales mbpoll tzdata
    dpkg-dev file lintian systemd adduser strace
    postgresql-15 libqt6sql6-psql libpq-dev
    mosquitto mosquitto-clients
)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    export DEBIAN_FRONTEND=noninteractive
    # postgresql-15 creates a cluster and starts it through invoke-rc.d. With
    # no systemd (a container, CI) that runs the init script, whose failure
    # would fail the install: the start is refused here, only for postgresql
    # and mosquitto and only while installing. The tests start private
    # servers of their own.
    policy=/usr/sbin/policy-rc.d
    own_policy=
    if [ ! -d /run/systemd/system ] && [ ! -e "$policy" ]; then
        printf '#!/bin/sh\ncase "$1" in postgresql|mosquitto) exit 101;; esac\nexit 0\n' >"$policy"
        chmod 755 "$policy"
        own_policy=1
        trap 'rm -f "$policy"' EXIT
    fi
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
    if [ -n "$own_policy" ]; then rm -f "$policy"; trap - EXIT; fi
fi
# The viewer's reports are tested under a real Traditional Chinese locale.
if ! locale -a 2>/dev/null | grep -qix 'zh_TW.utf-\?8'; then
    grep -qx 'zh_TW.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null ||
        echo 'zh_TW.UTF-8 UTF-8' >>/etc/locale.gen
    locale-gen >/dev/null
fi
