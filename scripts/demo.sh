#!/usr/bin/env bash
# Installs, builds and runs Quillet's main job on its embedded default: the
# device simulator with a handful of sample alarms on a pseudo-terminal, the
# logger polling it, and (with a display) the viewer on the resulting log.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_INSTALL_PREFIX=/usr
cmake --build build -j"$(nproc)"

bin=$root/build/bin
demo=$root/demo
rm -rf "$demo"
mkdir -p "$demo/Logs"
cp "$bin/Quillet.sys" "$bin/GSMCodeMap.cod" "$bin/Notify.wav" "$demo/"

# The simulated device: a SIM with sample alarms from several sites, a
# Chinese (UCS2) text and one unknown sender; more arrive over the FIFO.
control=$demo/control
mkfifo "$control"
"$bin/quillet-devsim" --link "$demo/device" --control "$control" \
    --serial 0102:0304:0506:0708 --state-file "$demo/sim-state.txt" \
    --message 'number=+886912345678 text="A3 Pump 2 tripped" time=26/12/08,06:12:40+32' \
    --message 'number=+886922221234 text="R12 Reservoir level low" time=26/12/08,06:30:02+32' \
    --message 'number=+886933339012 alphabet=ucs2 text="東區配水池 水位過高" time=26/12/08,07:01:55+32' \
    --message 'number=+886912345678 text="A3 Pump 2 running again" time=26/12/08,07:05:10+32' \
    --message 'number=+886955550000 text="Hello from an unknown phone" time=26/12/08,07:20:00+32' \
    > "$demo/devsim.out" 2> "$demo/devsim.err" &
sim=$!
trap 'kill $sim 2>/dev/null || true; kill ${tailer:-} 2>/dev/null || true' EXIT
for _ in $(seq 50); do [ -e "$demo/device" ] && break; sleep 0.1; done

printf '%s\r\n' '[BASIC]' 'LogFilePath=Logs/Quillet.log' 'IsSaveAsMDB=1' 'MDBFilePath=Logs/Quillet.mdb' \
    'IsDeleteSMS=1' 'IsUseSoundAlert=0' 'IsIgnoreZoneIdentifier=0' 'IsDebugMode=0' '' \
    '[COMM]' "COMPORT=$demo/device" 'BAUDRATE=9600' 'DATABIT=8' 'PARITYBIT=None' 'STOPBIT=1' '' \
    '[SitePhoneNumberMAP]' 'EnableSitePhoneNumberMap=1' 'IsGiveUpUnKnownSitePhoneNumberSMS=0' \
    'SitePhoneNumberMAP1=5678,North Pump Station' 'SitePhoneNumberMAP2=1234,South Reservoir' \
    'SitePhoneNumberMAP3=9012,東區配水池' '' '[DDEMAP]' 'IsUseDDE=0' > "$demo/Quillet.set"

cat <<MSG
Quillet runs in $demo on the simulated device $demo/device.
Every alarm line it writes to $demo/Logs/Quillet.log is printed here.
Inject another alarm from a second terminal, for example:
    echo 'deliver number=+886912345678 text="A7 Door open"' > $control
Ctrl+C ends the demo.
MSG

touch "$demo/Logs/Quillet.log"
tail -n +1 -F "$demo/Logs/Quillet.log" 2>/dev/null | sed -u 's/^/log: /' &
tailer=$!

cd "$demo"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: Quillet runs headless (its boxes go to standard error)."
    # The viewer's side: once the first poll has logged the alarms, it writes
    # its report of the log as a PDF.
    ( sleep 12; QT_QPA_PLATFORM=offscreen "$bin/orvane" "$demo/Logs/Quillet.log" -na \
        -pdf "$demo/report.pdf" 2>/dev/null &&
        echo "viewer: report of the log written to $demo/report.pdf" ) &
    "$bin/quillet"
else
    # The viewer opens the log once the first poll has written it.
    ( sleep 12; [ -x "$bin/orvane" ] && "$bin/orvane" "$demo/Logs/Quillet.log" -na ) &
    "$bin/quillet"
fi
