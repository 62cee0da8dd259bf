#!/usr/bin/env bash
# Builds the Debian packages, installs them on this machine, runs the
# installed quillet against the installed quillet-devsim for one alarm and the
# installed orvane -pdf on the result, checks the packages with lintian and the
# unit with systemd-analyze, then removes the packages again. Needs root.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

bash scripts/package.sh
export DEBIAN_FRONTEND=noninteractive

work=
cleanup() {
    [ -n "${sim:-}" ] && kill "$sim" 2>/dev/null || true
    [ -n "${logger:-}" ] && kill "$logger" 2>/dev/null || true
    [ -n "$work" ] && rm -rf "$work"
    apt-get purge -y -qq quillet orvane libtamsin-dev libtamsin0 >/dev/null || true
}
trap cleanup EXIT
fail() {
    echo "package-check: $*" >&2
    exit 1
}

lintian --fail-on error "$root"/build-deb/*.deb

apt-get install -y -qq --no-install-recommends "$root"/build-deb/*.deb >/dev/null

# The unit, checked as systemd reads it (no systemd needs to run for that).
man_check=()
command -v man >/dev/null || man_check=(--man=no)
systemd-analyze verify "${man_check[@]}" /lib/systemd/system/quillet.service

# The system user and its folder, with the default files in place.
id -nG quillet | grep -qw dialout || fail "user quillet is not in group dialout"
for f in Quillet.set Quillet.sys GSMCodeMap.cod Notify.wav; do
    [ -e "/var/lib/quillet/$f" ] || fail "/var/lib/quillet/$f is missing"
done
[ "$(stat -c %U /var/lib/quillet/Quillet.set)" = quillet ] || fail "Quillet.set is not the user's"
# An operator's settings survive a reinstall.
printf '; kept\r\n' >>/var/lib/quillet/Quillet.set
apt-get install -y -qq --reinstall "$root"/build-deb/quillet_*.deb >/dev/null
tail -c 8 /var/lib/quillet/Quillet.set | grep -q kept || fail "a reinstall overwrote Quillet.set"

[ "$(quillet --version)" = "quillet $(dpkg-query -W -f='${Version}' quillet)" ] ||
    fail "quillet --version does not name the package's version"

# One alarm from the installed simulator through the installed logger, as the
# service's user, in a folder set up from the installed defaults.
work=$(mktemp -d)
chown quillet:dialout "$work"
as_quillet() {
    setpriv --reuid=quillet --regid=dialout --init-groups -- \
        env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$work" "$@"
}
cp -L /var/lib/quillet/{Quillet.sys,GSMCodeMap.cod} "$work/"
sed "s|^COMPORT=.*|COMPORT=$work/device\r|" /usr/share/quillet/Quillet.set >"$work/Quillet.set"
chown quillet:dialout "$work"/*
(cd "$work" && exec setpriv --reuid=quillet --regid=dialout --init-groups -- quillet-devsim --link "$work/device" --exit-with-parent \
    --message 'number=+85291234567 text="Pump 3 stopped" time=26/12/08,09:15:00+32' \
    >"$work/devsim.out" 2>"$work/devsim.err") &
sim=$!
for _ in $(seq 50); do [ -e "$work/device" ] && break; sleep 0.1; done
(cd "$work" && exec setpriv --reuid=quillet --regid=dialout --init-groups -- \
    env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM HOME="$work" TMPDIR="$work" \
    QUILLET_POLL_INTERVAL_MS=500 quillet 2>"$work/quillet.err") &
logger=$!
for _ in $(seq 150); do grep -q 'Pump 3 stopped' "$work/Quillet.log" 2>/dev/null && break; sleep 0.2; done
grep -qx $'12/08/2026 09:15:00 \\[+85291234567\\] Pump 3 stopped\r' "$work/Quillet.log" ||
    { cat "$work/quillet.err" >&2; fail "the installed logger did not log the alarm"; }
kill -TERM "$logger"
wait "$logger" || fail "the installed logger did not end cleanly on SIGTERM"
logger=

as_quillet QT_QPA_PLATFORM=offscreen orvane "$work/Quillet.log" -na -pdf "$work/report.pdf" 2>/dev/null
pdftotext "$work/report.pdf" - | grep -q 'Pump 3 stopped' || fail "the viewer's report lacks the alarm"

echo "package-check: packages install, log an alarm, report it, pass lintian and systemd-analyze"
