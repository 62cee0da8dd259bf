#!/usr/bin/env bash
# Builds the Debian packages and tries them on this machine the way an
# operator meets them: lintian at the info level and the units' exposure
# figures; the previous build installed, then two loggers run as instances of
# quillet@.service on two simulators, one with its SQLite database and one
# feeding a central PostgreSQL server over its socket; the package upgraded
# to this build while they run, and each logger answering from the new
# program afterwards; the second one moved to the server's TCP port with the
# network drop-in; the viewer's report of a log; the package removed while a
# logger runs. Needs root.
#
# Where no systemd runs (a container, CI), the check runs in a mount
# namespace of its own in which scripts/service-standin.sh plays systemctl and
# udevadm: the maintainer scripts' calls are noted and checked, and the
# instances run in the sandbox scripts/service-sandbox.sh builds, with their
# system calls compared against the unit's filter. Where systemd runs, the
# instances are systemd's own and systemd-run runs a program under the unit's
# properties.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
export DEBIAN_FRONTEND=noninteractive

standin=
fail() {
    echo "package-check: $*" >&2
    if [ -n "$standin" ] && [ -s "$standin/calls" ]; then
        echo "package-check: the service manager was asked for:" >&2
        sed 's/^/    /' "$standin/calls" >&2
    fi
    exit 1
}
say() { echo "package-check: $*"; }

if [ ! -d /run/systemd/system ]; then
    if [ "${1:-}" != --standin ]; then
        bash scripts/package.sh
        unshare --mount true 2>/dev/null ||
            fail "no systemd runs here and a mount namespace is refused: the service cannot be tried"
        # /run/udev is made here, outside, if udev never ran: the stand-in's
        # control socket goes on a tmpfs over it inside.
        made_udev=
        [ -d /run/udev ] || { mkdir /run/udev && made_udev=1; }
        status=0
        unshare --mount --propagation private -- bash "$0" --standin || status=$?
        [ -z "$made_udev" ] || rmdir /run/udev
        exit "$status"
    fi
    standin=/run/systemd/quillet-standin
    mount -t tmpfs -o mode=0755 tmpfs /run/systemd
    mkdir -p /run/systemd/system "$standin"
    echo "$root/scripts/service-sandbox.sh" >"$standin/sandbox"
    mount --bind "$root/scripts/service-standin.sh" /usr/bin/systemctl
    # udevadm also where udev is not installed: first in the PATH that
    # maintainer scripts get (/usr/sbin), laid over that folder.
    # A container's policy-rc.d, which refuses every start, is hidden (a
    # whiteout): this namespace plays a machine whose services run.
    mkdir "$standin/sbin"
    ln -s "$root/scripts/service-standin.sh" "$standin/sbin/udevadm"
    [ -e /usr/sbin/policy-rc.d ] && mknod "$standin/sbin/policy-rc.d" c 0 0
    mount -t overlay overlay -o "lowerdir=$standin/sbin:/usr/sbin" /usr/sbin
    mount -t tmpfs -o mode=0755 tmpfs /run/udev
    perl -MIO::Socket::UNIX -e 'IO::Socket::UNIX->new(Local => "/run/udev/control", Listen => 1) or die "$!\n"'
    say "no systemd runs here: systemctl and udevadm are played by scripts/service-standin.sh," \
        "the instances run in scripts/service-sandbox.sh, and systemd-run is skipped"
else
    bash scripts/package.sh
fi

debs=$root/build-deb
version=$(dpkg-deb -f "$debs"/quillet_*.deb Version)
work=$(mktemp -d)
chmod 0755 "$work"
pg=/run/quillet-pkgcheck-pg
instances=(pkgcheck-a pkgcheck-b)
sims=()
cleanup() {
    set +e
    for unit in "${instances[@]}"; do systemctl stop "quillet@$unit.service" 2>/dev/null; done
    for pid in "${sims[@]}"; do kill "$pid" 2>/dev/null; done
    [ -f "$pg/data/postmaster.pid" ] && runuser -u postgres -- "$pg_bin/pg_ctl" -D "$pg/data" -m immediate stop >/dev/null
    rm -rf /run/systemd/system/quillet@pkgcheck-*.service.d "$pg" "$work" /run/quillet-pkgcheck-syscalls
    for unit in "${instances[@]}"; do rm -rf "/var/lib/quillet/$unit" "/run/quillet/$unit"; done
    rmdir /run/quillet 2>/dev/null
    apt-get purge -y -qq quillet orvane libtamsin-dev libtamsin0 >/dev/null 2>&1
    systemctl daemon-reload
}
trap cleanup EXIT

lintian -I --fail-on error,warning,info "$debs"/*.deb || fail "lintian finds fault with the packages"

# The previous build: this one's quillet as a lower version (the programs
# are the same; what an upgrade must do to a running logger is not).
previous=$work/previous
dpkg-deb -R "$debs"/quillet_*.deb "$previous"
sed -i "s/^Version: .*/Version: $version~previous/" "$previous/DEBIAN/control"
dpkg-deb --root-owner-group -Zgzip --build "$previous" "$work/quillet_previous.deb" >/dev/null
rm -rf "$previous"
apt-get install -y -qq --no-install-recommends "$work/quillet_previous.deb" \
    "$debs"/orvane_*.deb "$debs"/libtamsin0_*.deb "$debs"/libtamsin-dev_*.deb >/dev/null
[ "$(dpkg-query -W -f='${Version}' quillet)" = "$version~previous" ] || fail "the previous build is not installed"
if [ -n "$standin" ]; then
    grep -qx 'systemctl --system daemon-reload' "$standin/calls" || fail "installing reloads no units"
    ! grep -E 'systemctl .*(start|restart|enable).*quillet' "$standin/calls" ||
        fail "a first install starts or enables a unit"
    grep -qx 'udevadm trigger --subsystem-match=tty --action=change' "$standin/calls" ||
        fail "installing does not apply the udev rule to the ttys there"
fi

# The units as systemd reads them, and their exposure (no systemd needs to
# run for either).
man_check=()
command -v man >/dev/null || man_check=(--man=no)
systemd-analyze verify "${man_check[@]}" /lib/systemd/system/quillet.service
exposure() {
    systemd-analyze security --offline=true "$1" 2>/dev/null |
        sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\) .*/\1/p'
}
for unit in quillet.service quillet@pkgcheck.service; do
    figure=$(exposure "$unit")
    [ -n "$figure" ] || fail "systemd-analyze gives no exposure for $unit"
    say "$unit: exposure $figure"
    awk -v f="$figure" 'BEGIN { exit !(f <= 2.5) }' || fail "$unit is exposed above 2.5"
done

# The system user and its folder, with the default files in place.
id -nG quillet | grep -qw dialout || fail "user quillet is not in group dialout"
for f in Quillet.set Quillet.sys GSMCodeMap.cod Notify.wav; do
    [ -e "/var/lib/quillet/$f" ] || fail "/var/lib/quillet/$f is missing"
done
[ "$(stat -c %U /var/lib/quillet/Quillet.set)" = quillet ] || fail "Quillet.set is not the user's"
# An operator's settings survive a reinstall.
printf '; kept\r\n' >>/var/lib/quillet/Quillet.set
apt-get install -y -qq --reinstall "$work/quillet_previous.deb" >/dev/null
tail -c 8 /var/lib/quillet/Quillet.set | grep -q kept || fail "a reinstall overwrote Quillet.set"

# A PostgreSQL server of the check's own, on a socket and a loopback port.
pg_bin=$(ls -d /usr/lib/postgresql/*/bin | sort -V | tail -n 1)
pg_port=$(perl -MIO::Socket::INET -e 'print IO::Socket::INET->new(Listen => 1, LocalAddr => "127.0.0.1")->sockport')
install -d -o postgres -m 0755 "$pg"
runuser -u postgres -- "$pg_bin/initdb" -D "$pg/data" -A trust -U postgres >/dev/null
runuser -u postgres -- "$pg_bin/pg_ctl" -D "$pg/data" -w -l "$pg/server.log" \
    -o "-k $pg -c listen_addresses=127.0.0.1 -p $pg_port" start >/dev/null
runuser -u postgres -- "$pg_bin/psql" -h "$pg" -p "$pg_port" -qc 'CREATE ROLE quillet LOGIN' postgres
runuser -u postgres -- "$pg_bin/psql" -h "$pg" -p "$pg_port" -qc 'CREATE DATABASE alarms OWNER quillet' postgres
central_rows() {
    runuser -u postgres -- "$pg_bin/psql" -h "$pg" -p "$pg_port" -At \
        -c "SELECT count(*) FROM tarrow WHERE logger = '$1' AND AlarmMessage = '$2'" alarms 2>/dev/null || echo 0
}

# Two instances, set up as the README shows, each with a simulator of its own.
declare -A database=(
    [pkgcheck-a]=Quillet.mdb
    [pkgcheck-b]="postgresql://quillet@/alarms?host=$pg&port=$pg_port"
)
for i in "${instances[@]}"; do
    folder=/var/lib/quillet/$i
    install -d -o quillet -g dialout -m 0750 "$folder"
    cp -P /var/lib/quillet/{GSMCodeMap.cod,Quillet.sys,Notify.wav} "$folder/"
    sed -e "s|^COMPORT=.*|COMPORT=$folder/device\r|" \
        -e "s|^MDBFilePath=.*|MDBFilePath=${database[$i]//&/\\&}\r|" \
        -e "s|^\[BASIC\]\r$|[BASIC]\r\nLoggerName=$i\r|" \
        /usr/share/quillet/Quillet.set >"$folder/Quillet.set"
    chown quillet:dialout "$folder/Quillet.set"
    runuser -u quillet -- mkfifo "$folder/control"
    (cd "$folder" && exec setpriv --reuid=quillet --regid=dialout --init-groups -- \
        quillet-devsim --link "$folder/device" --control "$folder/control" --exit-with-parent \
        >"$work/$i.sim.out" 2>"$work/$i.sim.err") &
    sims+=($!)
    mkdir -p "/run/systemd/system/quillet@$i.service.d"
    printf '[Service]\nEnvironment=QUILLET_POLL_INTERVAL_MS=500\nEnvironment=QUILLET_CENTRAL_RETRY_MS=100\n' \
        >"/run/systemd/system/quillet@$i.service.d/pkgcheck.conf"
done
for i in "${instances[@]}"; do
    for _ in $(seq 50); do [ -e "/var/lib/quillet/$i/device" ] && break; sleep 0.1; done
    [ -e "/var/lib/quillet/$i/device" ] || fail "the simulator of $i did not start"
done
deliver() { echo "deliver number=+8529123456$3 text=\"$2\" time=26/12/08,09:15:0$3+32" >"/var/lib/quillet/$1/control"; }
# Whether instance $1 logged alarm $2 exactly once, and nothing of the other.
logged_once() {
    local log=/var/lib/quillet/$1/Quillet.log
    [ "$(grep -c "] $2"$'\r$' "$log" 2>/dev/null)" = 1 ]
}
await() {
    for _ in $(seq 150); do "$@" && return 0; sleep 0.2; done
    return 1
}
stored_once() {
    if [ "$1" = pkgcheck-a ]; then
        [ "$(sqlite3 /var/lib/quillet/pkgcheck-a/Quillet.mdb \
            "SELECT count(*) FROM Tarrow WHERE AlarmMessage = '$2'" 2>/dev/null)" = 1 ]
    else
        [ "$(central_rows "$1" "$2")" = 1 ]
    fi
}
journal() {
    if [ -n "$standin" ]; then cat "$standin/quillet@$1.service.journal"; else journalctl -q -u "quillet@$1"; fi
}
# Everything the instance was given is in its log and its database once, and
# the other instance's alarms in neither.
check_instance() {
    local i=$1 other=$2 alarm
    shift 2
    for alarm in "$@"; do
        await logged_once "$i" "$alarm" || { journal "$i" >&2; fail "$i did not log \"$alarm\" once"; }
        await stored_once "$i" "$alarm" || { journal "$i" >&2; fail "$i did not store \"$alarm\" once"; }
    done
    ! grep -q "$other" "/var/lib/quillet/$i/Quillet.log" || fail "$i logged the other instance's alarm"
}
main_pid() { systemctl show -p MainPID --value "quillet@$1.service"; }

syscalls=/run/quillet-pkgcheck-syscalls # outside the logger's private /tmp
if [ -n "$standin" ] && command -v strace >/dev/null; then
    install -d -o quillet "$syscalls"
    for i in "${instances[@]}"; do echo "$syscalls/$i" >"$standin/quillet@$i.service.trace"; done
fi
systemctl daemon-reload
systemctl start quillet@pkgcheck-a.service quillet@pkgcheck-b.service
[ -n "$standin" ] && rm -f "$standin"/quillet@*.service.trace # these runs only
deliver pkgcheck-a "Pump 3 stopped" 1
deliver pkgcheck-b "Valve 7 open" 2
check_instance pkgcheck-a "Valve 7" "Pump 3 stopped"
check_instance pkgcheck-b "Pump 3" "Valve 7 open"
say "two instances on two simulators: each alarm logged and stored once, by its own logger"

# The upgrade, while both run.
declare -A before
for i in "${instances[@]}"; do before[$i]=$(main_pid "$i"); done
[ -n "$standin" ] && : >"$standin/calls"
apt-get install -y -qq "$debs"/quillet_"$version"_*.deb >/dev/null
[ "$(dpkg-query -W -f='${Version}' quillet)" = "$version" ] || fail "the upgrade did not install $version"
[ "$(quillet --version)" = "quillet $version" ] || fail "quillet --version does not name the package's version"
for i in "${instances[@]}"; do
    pid=$(main_pid "$i")
    [ "$pid" -gt 0 ] && [ "$pid" != "${before[$i]}" ] || fail "the upgrade did not restart $i"
    ! kill -0 "${before[$i]}" 2>/dev/null || fail "the old program of $i still runs"
    [ "$(readlink "/proc/$pid/exe")" = /usr/bin/quillet ] ||
        fail "$i runs $(readlink "/proc/$pid/exe"), not the installed program"
    answer=$("/proc/$pid/exe" --version)
    [ "$answer" = "quillet $version" ] || fail "$i's program answers \"$answer\""
done
if [ -n "$standin" ]; then
    grep -A1 -x 'systemctl --system daemon-reload' "$standin/calls" |
        grep -qx 'systemctl try-restart quillet.service quillet@\*.service' ||
        fail "the upgrade does not restart the running units after reloading them"
    for i in "${instances[@]}"; do
        [ "$(cat "$standin/quillet@$i.service.ended")" = 0 ] || fail "the old program of $i did not end cleanly"
    done
fi
say "upgraded while running: both instances restarted, each program answers \"$answer\""
deliver pkgcheck-a "Pump 3 running" 3
deliver pkgcheck-b "Valve 7 closed" 4
check_instance pkgcheck-a "Valve 7" "Pump 3 stopped" "Pump 3 running"
check_instance pkgcheck-b "Pump 3" "Valve 7 open" "Valve 7 closed"

# What the sandbox would refuse and the loggers did: their system calls, all
# within the unit's filter, and their sockets, all local (SQLite on the one,
# PostgreSQL over its socket on the other).
if [ -d "$syscalls" ]; then
    set_of() {
        systemd-analyze syscall-filter "$1" | awk 'NR > 1 && $1 !~ /^#/ { print $1 }' |
            while read -r item; do if [[ $item == @* ]]; then set_of "$item"; else echo "$item"; fi; done
    }
    allowed=$(comm -23 <(set_of @system-service | sort -u) <({ set_of @privileged; set_of @resources; } | sort -u))
    for i in "${instances[@]}"; do
        used=$(sed -nE 's/^[0-9]+ +([a-z0-9_]+)\(.*/\1/p' "$syscalls/$i" | sort -u)
        refused=$(comm -23 <(echo "$used") <(echo "$allowed"))
        [ -z "$refused" ] || fail "$i made system calls the unit's filter refuses: $refused"
        families=$(sed -nE 's/^[0-9]+ +socket\((AF_[A-Z0-9]+).*/\1/p' "$syscalls/$i" | sort -u | xargs)
        [ -z "$(echo "$families" | tr ' ' '\n' | grep -vx 'AF_UNIX')" ] ||
            fail "$i opened sockets the unit refuses: $families"
        say "$i made $(wc -l <<<"$used") kinds of system calls, all in the unit's filter; sockets: ${families:-none}"
    done
elif [ -n "$standin" ]; then
    say "strace is missing: the loggers' system calls are not compared with the unit's filter"
fi

# A central server over TCP: the network drop-in the README shows, on
# pkgcheck-b.
dropin=/run/systemd/system/quillet@pkgcheck-b.service.d/central.conf
printf '[Service]\nPrivateNetwork=no\nRestrictAddressFamilies=AF_INET AF_INET6\nIPAddressAllow=127.0.0.1\n' >"$dropin"
sed -i "s|^MDBFilePath=.*|MDBFilePath=postgresql://quillet@127.0.0.1:$pg_port/alarms\r|" \
    /var/lib/quillet/pkgcheck-b/Quillet.set
systemctl daemon-reload
systemctl restart quillet@pkgcheck-b.service
say "quillet@pkgcheck-b.service with the central database's drop-in: exposure $(exposure quillet@pkgcheck-b.service)"
deliver pkgcheck-b "Valve 8 open" 5
check_instance pkgcheck-b "Pump 3" "Valve 7 open" "Valve 7 closed" "Valve 8 open"

for i in "${instances[@]}"; do
    systemctl stop "quillet@$i.service"
    [ "$(systemctl show -p ExecMainStatus --value "quillet@$i.service")" = 0 ] || fail "$i did not end cleanly"
done

# A program run under the unit's sandbox, as a program the logger starts
# would be (the instances have stopped: nothing of theirs is shared).
if [ -z "$standin" ]; then
    properties=()
    while IFS= read -r line; do properties+=(-p "$line"); done < <(
        sed -n '/^\[Service\]/,/^\[/p' /lib/systemd/system/quillet@.service |
            grep -E '^[A-Za-z]+=' | grep -vE '^(Type|NotifyAccess|ExecStart|Watchdog|Restart|TimeoutStop|RuntimeDirectory|StateDirectory)' |
            sed 's/%i/pkgcheck-a/g')
    answer=$(systemd-run --quiet --pipe --wait "${properties[@]}" /bin/sh -c 'exec quillet --version')
    [ "$answer" = "quillet $version" ] || fail "a program under the unit's sandbox answers \"$answer\""
    say "systemd-run: a shell and a program run under the unit's properties"
fi

install -d -o quillet "$work/home"
runuser -u quillet -- env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen HOME="$work/home" \
    orvane /var/lib/quillet/pkgcheck-a/Quillet.log -na -pdf "$work/home/report.pdf" 2>/dev/null ||
    fail "the viewer wrote no report"
pdftotext "$work/home/report.pdf" - | grep -q 'Pump 3 running' || fail "the viewer's report lacks the alarm"

# Removed while a logger runs: it is stopped first, through its clean end.
systemctl start quillet@pkgcheck-a.service
pid=$(main_pid pkgcheck-a)
[ -n "$standin" ] && : >"$standin/calls"
apt-get remove -y -qq quillet >/dev/null
for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
! kill -0 "$pid" 2>/dev/null || fail "removing the package leaves its logger running"
if [ -n "$standin" ]; then
    grep -qx 'systemctl stop quillet.service quillet@\*.service' "$standin/calls" ||
        fail "removing the package does not stop its units"
    grep -qx 'udevadm trigger --subsystem-match=tty --action=change' "$standin/calls" ||
        fail "removing the package does not apply the udev rules again"
fi

say "packages pass lintian, install, upgrade under running loggers, log, report and remove"
