#!/usr/bin/env bash
# Scrapes of the metrics listener while idle connections sit on its port, all figures from
# one run: the time per scrape alone (the baseline), then with IDLE (default 1000)
# connections that never send a byte, as median and worst of 20 scrapes and as a ratio to
# the baseline; and the server's resident size.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
SERVER_BIN=$build/bin/VantorSyncSvc
source "$here/lib/common.sh"
ulimit -n "$(ulimit -Hn)"

start_bench_work vsmetrics
metrics_port=$(free_port)
port=$(free_port)
mkdir -p "$work/VantorSyncSvc"
printf '<config><port>%s</port></config>' "$port" > "$work/VantorSyncSvc/config.xml"
XDG_CONFIG_HOME=$work VANTORSYNC_BUS=none "$SERVER_BIN" -Foreground \
    "-Metrics=127.0.0.1:$metrics_port" > "$work/server.out" 2>&1 &
SERVER_PID=$!
wait_for_port "$metrics_port"
timeout 120 python3 "$here/lib/metrics_scrape.py" "$metrics_port" "$SERVER_PID" "${IDLE:-1000}"
