#!/usr/bin/env bash
# Pictures of the viewer and its report for a person to look at, in English
# and in Traditional Chinese (under a real zh_TW.UTF-8 locale): the window
# maximised on a history of 100,000 records, its menus and dialogs, the
# delete question, and the report's first page.
#
#     bash tests/viewer/screenshots.sh /tmp/shots [BUILD_DIR]
set -euo pipefail
out=${1:?usage: screenshots.sh OUTDIR [BUILD_DIR]}
bin=$(cd "${2:-build}/bin" && pwd)
records=${ORVANE_RECORDS:-100000}
mkdir -p "$out"
out=$(cd "$out" && pwd)
log="$out/Quillet.log"

# The logger's own format: sites by name (Chinese and English) or by number.
awk -v n="$records" 'BEGIN {
    split("北區泵站,南區水廠,東門加壓站,West Reservoir,中央監控室,North Pump Station,0912345678,新竹淨水場", site, ",")
    split("水位過高警報，請派員檢查,A3 Pump failure,電源異常 已切換備援電源,Flow below set point on line 2,通訊中斷後恢復,Door opened,泵浦故障 馬達溫度過高 已自動停機 請儘速派員到場處理", text, ",")
    t = 0
    for (i = 0; i < n; i++) {
        t += 17 + (i * 7919) % 240
        day = int(t / 86400); s = t % 86400
        month = 1 + int(day / 28) % 12; dom = 1 + day % 28; year = 2024 + int(day / 336)
        printf "%02d/%02d/%04d %02d:%02d:%02d [%s] %s\r\n", month, dom, year,
               int(s / 3600), int(s / 60) % 60, s % 60, site[1 + i % 8], text[1 + (i * 5) % 7]
    }
}' >"$log"

for lang in en zh_TW; do
    locale=C.UTF-8
    [ "$lang" = zh_TW ] && locale=zh_TW.UTF-8
    export LANG=$locale LC_ALL= LANGUAGE= ORVANE_LANG=$lang XDG_CONFIG_HOME="$out/config-$lang"
    xvfb-run -a -s '-screen 0 1280x1024x24' "$bin/orvane_snapshot" "$out/$lang" "$log" -na
    QT_QPA_PLATFORM=offscreen "$bin/orvane" "$log" -na -pdf "$out/$lang-report.pdf"
    pdftoppm -png -r 80 -f 1 -l 1 -singlefile "$out/$lang-report.pdf" "$out/$lang-report"
done
ls "$out"/*.png
