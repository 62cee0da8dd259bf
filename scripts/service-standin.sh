#!/usr/bin/env bash
# Plays systemctl (and udevadm) for scripts/package-check.sh on a machine
# where no systemd runs, inside the check's own mount namespace: bound over
# /usr/bin/systemctl and /usr/bin/udevadm there, it notes every call the
# packages' maintainer scripts make, and runs the quillet units it is asked to
# start as their unit files say (user, folder, environment, drop-ins), in the
# sandbox of scripts/service-sandbox.sh. Other units are only noted.
set -uo pipefail
# Where the check keeps what the stand-in knows: the sandbox script's path in
# "sandbox", then per unit its process, exit status (and those of the runs
# stopped before), runtime folder, output.
state=/run/systemd/quillet-standin
mkdir -p "$state"
echo "$(basename "$0") $*" >>"$state/calls"
[ "$(basename "$0")" = systemctl ] || exit 0

# The [Service] settings of a unit, its drop-ins after it, "%i" filled in
# (one assignment a line: Environment= with one variable each).
unit_settings() {
    local unit=$1 instance='' file
    local template=$unit
    if [[ $unit == *@*.service ]]; then
        instance=${unit#*@}
        instance=${instance%.service}
        template=${unit%%@*}@.service
    fi
    for file in /lib/systemd/system/"$template" \
        /etc/systemd/system/"$template".d/*.conf /run/systemd/system/"$template".d/*.conf \
        /etc/systemd/system/"$unit".d/*.conf /run/systemd/system/"$unit".d/*.conf; do
        [ -f "$file" ] || continue
        awk '/^\[/ { service = ($0 == "[Service]") } service && /^[A-Za-z]+=/' "$file"
    done | sed "s/%i/$instance/g"
}
# The last value of KEY (what a later assignment leaves).
setting() { grep "^$2=" <<<"$1" | tail -n 1 | cut -d= -f2-; }

running() { [ -f "$state/$1.pid" ] && [ ! -f "$state/$1.rc" ]; }

start_unit() {
    local unit=$1 settings user group folder runtime env=() line
    running "$unit" && return 0
    settings=$(unit_settings "$unit")
    [ -n "$settings" ] || { echo "Unit $unit not found." >&2; return 5; }
    user=$(setting "$settings" User)
    group=$(setting "$settings" Group)
    folder=$(setting "$settings" WorkingDirectory)
    runtime=$(setting "$settings" RuntimeDirectory)
    install -d -o "$user" -g "$group" -m "$(setting "$settings" StateDirectoryMode)" \
        "/var/lib/$(setting "$settings" StateDirectory)"
    install -d -o "$user" -g "$group" -m "$(setting "$settings" RuntimeDirectoryMode)" "/run/$runtime"
    while IFS= read -r line; do
        if [ -z "$line" ]; then env=(); else env+=("$line"); fi
    done < <(grep '^Environment=' <<<"$settings" | cut -d= -f2-)
    local network=private
    [ "$(setting "$settings" PrivateNetwork)" = no ] && network=host
    local command
    read -r -a command <<<"$(setting "$settings" ExecStart)"
    # The check may ask for the system calls of one unit's run.
    if [ -f "$state/$unit.trace" ]; then
        command=(strace -f -qq -o "$(cat "$state/$unit.trace")" -- "${command[@]}")
    fi
    rm -f "$state/$unit.pid" "$state/$unit.rc" "$state/$unit.traced"
    [ -f "$state/$unit.trace" ] && : >"$state/$unit.traced"
    echo "$runtime $(setting "$settings" RuntimeDirectoryPreserve)" >"$state/$unit.runtime"
    setsid bash -c '
        "$1" "$2" "$3" "$4" "$5" "$6" -- "${@:8}" &
        echo $! >"$7.pid.new" && mv "$7.pid.new" "$7.pid"
        wait $!
        echo $? >"$7.rc"' \
        standin "$(cat "$state/sandbox")" "$folder" "$user" "$group" \
        "$(setting "$settings" UMask)" "$network" "$state/$unit" "${env[@]}" "${command[@]}" \
        </dev/null >>"$state/$unit.journal" 2>&1 &
    for _ in $(seq 50); do [ -f "$state/$unit.pid" ] && return 0; sleep 0.1; done
    echo "$unit did not start" >&2
    return 1
}

stop_unit() {
    local unit=$1 runtime preserve pid
    running "$unit" || return 0
    pid=$(cat "$state/$unit.pid")
    # A traced logger gets the signal itself: strace would only let go of it.
    [ -f "$state/$unit.traced" ] && pid=$(cat /proc/"$pid"/task/*/children 2>/dev/null | awk '{ print $1 }')
    kill -TERM "$pid" 2>/dev/null
    for _ in $(seq 150); do [ -f "$state/$unit.rc" ] && break; sleep 0.1; done
    if [ ! -f "$state/$unit.rc" ]; then
        kill -KILL "$(cat "$state/$unit.pid")" 2>/dev/null
        echo timeout >"$state/$unit.rc"
    fi
    cat "$state/$unit.rc" >>"$state/$unit.ended" # every run's exit status, in order
    read -r runtime preserve <"$state/$unit.runtime"
    [ "$preserve" = yes ] || rm -rf "/run/${runtime:?}"
}

# Units named, or matching a pattern among those started.
units() {
    local name f
    for name in "$@"; do
        if [[ $name == *[*?[]* ]]; then
            for f in "$state"/*.pid; do
                [ -f "$f" ] || continue
                f=$(basename "$f" .pid)
                # shellcheck disable=SC2053 # the pattern is meant to match
                [[ $f == $name ]] && echo "$f"
            done
        else
            echo "$name"
        fi
    done
}

args=() property=
while [ $# -gt 0 ]; do
    case $1 in
    --system | --quiet | -q | --no-block | --value | --no-pager) ;;
    -p | --property) property=$2; shift ;;
    --property=*) property=${1#--property=} ;;
    *) args+=("$1") ;;
    esac
    shift
done
[ ${#args[@]} -gt 0 ] || exit 0
verb=${args[0]}
mapfile -t targets < <(units "${args[@]:1}" | grep '^quillet')
status=0
case $verb in
start) for u in "${targets[@]}"; do start_unit "$u" || status=$?; done ;;
stop) for u in "${targets[@]}"; do stop_unit "$u"; done ;;
restart)
    for u in "${targets[@]}"; do
        stop_unit "$u"
        start_unit "$u" || status=$?
    done
    ;;
try-restart)
    for u in "${targets[@]}"; do
        running "$u" || continue
        stop_unit "$u"
        start_unit "$u" || status=$?
    done
    ;;
is-active)
    status=3
    for u in "${targets[@]}"; do running "$u" && status=0; done
    ;;
is-enabled)
    echo disabled
    status=1
    ;;
show)
    for u in "${targets[@]}"; do
        case $property in
        MainPID) if running "$u"; then cat "$state/$u.pid"; else echo 0; fi ;;
        ExecMainStatus) cat "$state/$u.rc" 2>/dev/null || echo 0 ;;
        esac
    done
    ;;
esac
exit "$status"
