#!/usr/bin/env bash
# Sync server figures, all from one run on this machine:
#  - idle polls (a pull from the current end) against nginx serving a 3-byte file, with
#    the access log on and off;
#  - resident memory with 1,000,000 whitelist keys and 100,000 descriptors loaded.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
SERVER_BIN=$build/bin/VantorSyncSvc
source "$here/lib/common.sh"
ulimit -n "$(ulimit -Hn)"

start_bench_work vsbench

echo "--- idle polls: GET /get_wl_updates from the current end (empty answer), keep-alive"
mkdir -p "$work/idle/VantorSyncSvc"
python3 "$here/lib/make_sync_data.py" "$work/idle/VantorSyncSvc" 100000 100000
port=$(free_port)
nginx_port=$(free_port)
start_nginx "$work/nginx" "$nginx_port"
for log in 1 0; do
    start_sync_server "$work/idle" "$port" "<log_enabled>$log</log_enabled>"
    for c in 64 1000; do
        read -r ours ours_p99 < <(START_INDEX=100000 run_wrk "$c" "http://127.0.0.1:$port/get_wl_updates" "$here/lib/idle_poll.lua")
        read -r theirs theirs_p99 < <(run_wrk "$c" "http://127.0.0.1:$nginx_port/version")
        echo "log=$log c=$c: server ${ours} req/s p99 ${ours_p99} ms | nginx ${theirs} req/s p99 ${theirs_p99} ms | rps ratio $(ratio "$ours" "$theirs") (target >= 1.0 with the log on), p99 ratio $(ratio "$ours_p99" "$theirs_p99") (target <= 1.5)"
    done
    stop_sync_server; SERVER_PID=""
done
stop_nginx; NGINX_PID=""

echo "--- memory: 1,000,000 whitelist keys (full history) and 100,000 descriptors of 50 values"
rm -rf "$work/mem"; mkdir -p "$work/mem/VantorSyncSvc"
python3 "$here/lib/make_sync_data.py" "$work/mem/VantorSyncSvc" 1000000 100000
start_sync_server "$work/mem" "$port"
python3 "$here/lib/push_descriptors.py" "$port" 100000 50 > /dev/null
stop_sync_server; SERVER_PID=""
# Measured after a restart, as the service holds the stores after loading them.
start_sync_server "$work/mem" "$port"
rss_kb=$(awk '/VmRSS/ { print $2 }' "/proc/$SERVER_PID/status")
echo "resident size: $((rss_kb / 1024)) MiB ($rss_kb kB), target at most 40 MiB"

