#!/usr/bin/env bash
# Runs a command the way the quillet units sandbox the logger, as far as a
# machine without a running systemd allows; for scripts/package-check.sh.
# Needs root.
#
#   service-sandbox.sh FOLDER USER GROUP UMASK NETWORK -- [NAME=VALUE ...] COMMAND [ARG ...]
#
# NETWORK is "private" (PrivateNetwork=yes) or "host". What is done:
#   User=, Group=, UMask=, WorkingDirectory=    setpriv, umask, cd
#   NoNewPrivileges=, CapabilityBoundingSet=    setpriv: no new privileges, empty bounding set
#   ProtectSystem=full, ProtectHome=yes         /usr, /boot, /etc read-only; /home, /root, /run/user empty
#   PrivateTmp=                                 /tmp and /var/tmp empty and private
#   PrivateNetwork=, ProtectHostname=           network and UTS namespaces
#   ProtectKernelTunables=, ProtectControlGroups=  /sys and /sys/fs/cgroup read-only
#   ProtectProc=invisible, ProcSubset=pid       a /proc of its own with those options
#   DevicePolicy=closed, DeviceAllow=           a /dev holding only the pseudo-devices, ttys and ptys
#   MemoryDenyWriteExecute=                     the kernel's PR_SET_MDWE, where it has it
# What only systemd does (system call filter, address families, namespaces,
# realtime, personality, PrivateUsers=, IPAddressDeny=) is left out; the
# package check compares the system calls the logger makes with the filter
# instead.
set -euo pipefail
[ $# -ge 7 ] && [ "$6" = -- ] || {
    echo "usage: $0 FOLDER USER GROUP UMASK private|host -- [NAME=VALUE ...] COMMAND [ARG ...]" >&2
    exit 2
}
folder=$1 user=$2 group=$3 mask=$4 network=$5
shift 6
namespaces=(--mount --uts --ipc --propagation private)
[ "$network" = private ] && namespaces+=(--net)

# The unit's whole environment is what follows "--"; nothing else passes.
exec unshare "${namespaces[@]}" -- bash -euo pipefail -c '
folder=$1 user=$2 group=$3 mask=$4
shift 4
readonly_bind() { [ -d "$1" ] && mount --bind "$1" "$1" && mount -o remount,bind,ro "$1"; true; }
for d in /usr /boot /etc; do readonly_bind "$d"; done
for d in /home /root /run/user; do [ -d "$d" ] && mount -t tmpfs -o ro,mode=0755 tmpfs "$d"; done
mount -t tmpfs -o mode=1777 tmpfs /tmp
mount -t tmpfs -o mode=1777 tmpfs /var/tmp
mountpoint -q /sys/fs/cgroup && readonly_bind /sys/fs/cgroup
readonly_bind /sys
mount -t proc -o hidepid=invisible,subset=pid,nosuid,nodev,noexec proc /proc

dev=$(mktemp -d)
mount -t tmpfs -o mode=0755,nosuid,noexec tmpfs "$dev"
for node in null zero full random urandom tty /dev/ttyS* /dev/ttyUSB* /dev/ttyACM*; do
    node=/dev/${node#/dev/}
    [ -c "$node" ] || continue
    touch "$dev/${node#/dev/}"
    mount --bind "$node" "$dev/${node#/dev/}"
done
mkdir "$dev/pts" "$dev/shm"
mount --bind /dev/pts "$dev/pts"
mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$dev/shm"
ln -s pts/ptmx "$dev/ptmx"
ln -s /proc/self/fd "$dev/fd"
ln -s /proc/self/fd/0 "$dev/stdin"
ln -s /proc/self/fd/1 "$dev/stdout"
ln -s /proc/self/fd/2 "$dev/stderr"
mount --move "$dev" /dev
rmdir "$dev"

vars=(PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin)
while [ $# -gt 0 ] && [[ $1 == [A-Za-z_]*=* ]]; do vars+=("$1"); shift; done
# W^X refused by the kernel (6.3 and later) from here on, inherited by what
# the command starts; an older kernel leaves that line unproven.
mdwe=()
if perl -e "require q(syscall.ph); exit(syscall(&SYS_prctl, 66, 0, 0, 0, 0) < 0)"; then
    mdwe=(perl -e "require q(syscall.ph); syscall(&SYS_prctl, 65, 1, 0, 0, 0) == 0 or die qq(PR_SET_MDWE: \$!\n); exec { \$ARGV[0] } @ARGV or die qq(\$ARGV[0]: \$!\n)" --)
fi
cd "$folder"
umask "$mask"
exec setpriv --reuid="$user" --regid="$group" --init-groups --no-new-privs \
    --bounding-set=-all --inh-caps=-all -- env -i "${vars[@]}" "${mdwe[@]}" "$@"
' sandbox "$folder" "$user" "$group" "$mask" "$@"
