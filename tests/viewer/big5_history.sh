#!/usr/bin/env bash
# Writes a history as a Traditional Chinese Windows machine would have: the
# logger's format in the Big5 code page, Chinese site names and messages.
# For looking at legacy histories in the viewer and its report:
#
#     bash tests/viewer/big5_history.sh /tmp/big5.log 1000
#     xvfb-run -a -s '-screen 0 1280x800x24' build/bin/orvane_snapshot /tmp/big5 /tmp/big5.log -na
#     build/bin/orvane /tmp/big5.log -na -pdf /tmp/big5.pdf && pdftoppm -png -r 60 /tmp/big5.pdf /tmp/big5
set -euo pipefail
out=${1:?usage: big5_history.sh OUT.log [RECORDS]}
records=${2:-1000}
awk -v n="$records" 'BEGIN {
    split("北區泵站,南區水廠,東門加壓站,西郊污水廠,中央監控室,河濱抽水站,山頂配水池,新竹淨水場", site, ",")
    split("水位過高警報,泵浦故障 請派員檢查,電源異常 已切換備援,流量低於設定值,通訊中斷後恢復,門禁開啟", text, ",")
    t = 0
    for (i = 0; i < n; i++) {
        t += 37 + (i * 7919) % 600          # seconds, irregular steps
        day = int(t / 86400); s = t % 86400
        month = 1 + int(day / 28) % 12; dom = 1 + day % 28; year = 2019 + int(day / 336)
        printf "%02d/%02d/%04d %02d:%02d:%02d [%s] %s 代碼%d\r\n", month, dom, year,
               int(s / 3600), int(s / 60) % 60, s % 60, site[1 + i % 8], text[1 + (i * 5) % 6], i
    }
}' | iconv -f UTF-8 -t BIG5 > "$out"
echo "$out: $records records in Big5"
