#!/usr/bin/env bash
# The long crash run, not part of CTest: the real logger records a burst of
# alarms from the simulator with the database on while it is killed with
# SIGKILL over and over (right after a record reaches the log, and at random
# moments) and restarted each time. Prints how many alarms the log and the
# database lost or hold twice; exits non-zero when any.
#   bash scripts/crash-run.sh [MESSAGES [SEED]]      (default 1000 messages, seed 1)
# Builds what it needs in build/ (BUILD=dir to use another build).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
[ -f "$build/CMakeCache.txt" ] || cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j2 --target tst_logger_crash quillet quillet-devsim quillet_data | grep -v '^\[' || true
QUILLET_CRASH_MESSAGES=${1:-1000} QUILLET_CRASH_SEED=${2:-1} \
    "$build/bin/tst_logger_crash" everyAlarmOnceAcrossKills 2>&1 |
    sed -n 's/^QINFO  : [^ ]* //p; /^FAIL/,/Loc:/p; /^Totals/p'
