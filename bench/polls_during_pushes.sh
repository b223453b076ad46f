#!/usr/bin/env bash
# Idle polls while others push, in one run: 16 connections poll the training database at its
# end (every answer empty), first alone, then while 16 other connections push 10 whitelist
# keys per request into a whitelist of 100,000 keys with full history. Reports the poll rate
# and p99 under pushes as ratios of the polls alone. Usage: polls_during_pushes.sh <build>
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
SERVER_BIN=$build/bin/VantorSyncSvc
source "$here/lib/common.sh"
require_tools wrk
ulimit -n "$(ulimit -Hn)"
seconds=${WRK_SECONDS:-10}

pusher=""
bench_extra_cleanup() {
    [ -n "$pusher" ] && kill "$pusher" 2>/dev/null && wait "$pusher" 2>/dev/null
}
start_bench_work vsbench
start_server_with_data "$work/home" 100000 100000 1
end=$(python3 "$here/lib/push_descriptors.py" "$port" 1000 50)
export PULL_PATH=/get_ts_updates START_INDEX=$end

read -r alone alone_p99 < <(WRK_THREADS=1 run_wrk 16 "http://127.0.0.1:$port/get_ts_updates" "$here/lib/idle_poll.lua")

# The pushers start first and stop last, so every poll of the measured window meets them.
WRK_THREADS=1 WRK_SECONDS=$((seconds + 2)) run_wrk 16 "http://127.0.0.1:$port/post_wl_updates" \
    "$here/lib/push_whitelist.lua" > "$work/pushes" &
pusher=$!
sleep 1
read -r busy busy_p99 < <(WRK_THREADS=1 run_wrk 16 "http://127.0.0.1:$port/get_ts_updates" "$here/lib/idle_poll.lua")
wait "$pusher"; pusher=""
read -r pushes pushes_p99 < "$work/pushes"

echo "polls alone: ${alone} req/s p99 ${alone_p99} ms"
echo "polls during pushes: ${busy} req/s p99 ${busy_p99} ms (pushes ${pushes}/s p99 ${pushes_p99} ms)"
echo "rate ratio $(ratio "$busy" "$alone") (target >= 0.5), p99 ratio $(ratio "$busy_p99" "$alone_p99") (target <= 5)"
