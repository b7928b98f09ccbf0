#!/usr/bin/env bash
# Time from process start to the main window shown, and resident memory then,
# for the program and for a bare Qt window, measured alternately in one run.
# Usage: scripts/measure-startup.sh [runs]   (needs an X display or xvfb-run)
set -euo pipefail
TOP="$(cd "$(dirname "$0")/.." && pwd)"
runs="${1:-20}"
if [ -z "${DISPLAY:-}" ]; then exec xvfb-run -a -s '-screen 0 1400x1000x24' "$0" "$@"; fi

probe() { # prints: milliseconds rss_kb
    local start out
    start=$(date +%s%N)
    out=$(TRELLIKON_STARTUP_PROBE=1 "$@" 2>/dev/null)
    local shown=${out#shown_ns=}; shown=${shown%% *}
    local rss=${out##*rss_kb=}
    echo "$(( (shown - start) / 1000 )) $rss"
}

median() { sort -n | awk '{a[NR]=$1} END {print (NR%2 ? a[(NR+1)/2] : (a[NR/2]+a[NR/2+1])/2)}'; }

: >/tmp/trellikon-probe-app; : >/tmp/trellikon-probe-bare
for _ in $(seq "$runs"); do
    probe "${BUILD_DIR:-$TOP/build}/app/trellikon" >>/tmp/trellikon-probe-app
    probe "${BUILD_DIR:-$TOP/build}/tools/trellikon-bare-window" >>/tmp/trellikon-probe-bare
done
for which in app bare; do
    t=$(awk '{print $1}' /tmp/trellikon-probe-$which | median)
    m=$(awk '{print $2}' /tmp/trellikon-probe-$which | median)
    awk -v w="$which" -v t="$t" -v m="$m" -v n="$runs" 'BEGIN {
        printf "%-5s start-up to window shown: median %6.1f ms   resident memory: median %6.1f MiB  (%s runs)\n",
               w, t / 1000, m / 1024, n }'
done
