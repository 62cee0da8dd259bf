#!/usr/bin/env bash
# Installs, builds and runs Quillet on its embedded default: a demo folder
# with the sample settings beside the programs' data files.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/install-deps.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j"$(nproc)"

demo=$root/demo
mkdir -p "$demo"
cp build/bin/Quillet.sys "$demo/"
cp build/bin/Quillet.set.sample "$demo/Quillet.set"
[ -f build/bin/GSMCodeMap.cod ] && cp build/bin/GSMCodeMap.cod "$demo/"

cd "$demo"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "No display: running Quillet on the offscreen platform (Ctrl+C ends it)."
    export QT_QPA_PLATFORM=offscreen
fi
exec "$root/build/bin/quillet"
