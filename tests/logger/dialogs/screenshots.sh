#!/usr/bin/env bash
# Pictures of the logger's window, tray and dialogs for a person to look at,
# in English and in Traditional Chinese (under a real zh_TW.UTF-8 locale).
#
#     bash tests/logger/dialogs/screenshots.sh /tmp/shots [BUILD_DIR]
set -euo pipefail
out=${1:?usage: screenshots.sh OUTDIR [BUILD_DIR]}
bin=$(cd "${2:-build}/bin" && pwd)
mkdir -p "$out"
out=$(cd "$out" && pwd)
for lang in en zh_TW; do
    locale=C.UTF-8
    [ "$lang" = zh_TW ] && locale=zh_TW.UTF-8
    mkdir -p "$out/$lang"
    # Its own folder: the settings dialog reads and writes beside it.
    (cd "$out/$lang" && LANG=$locale LC_ALL= LANGUAGE= QUILLET_LANG=$lang \
        xvfb-run -a -s '-screen 0 1280x1024x24' "$bin/dialog_shots" "$out/$lang")
done
ls "$out"/*/*.png
