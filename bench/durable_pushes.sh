#!/usr/bin/env bash
# Durable pushes from 64 connections, in one run:
#  - 10 whitelist keys per request into a whitelist of 100,000 keys with full history,
#    against redis-server with every write fsynced before its answer (appendonly,
#    appendfsync always), SADD from 64 clients, data on the same disk. Both share a
#    2-core machine with the load generator, so one pair of runs swings by a fifth:
#    BENCH_ROUNDS pairs (3 unless set) alternate, and the median ratio is the figure;
#  - 10 training-database descriptors of 50 values per request (first round only).
# Usage: durable_pushes.sh <build folder>
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
SERVER_BIN=$build/bin/VantorSyncSvc
source "$here/lib/common.sh"
require_tools wrk redis-server redis-benchmark
ulimit -n "$(ulimit -Hn)"
seconds=${WRK_SECONDS:-10}
rounds=${BENCH_ROUNDS:-3}

start_bench_work vsbench
redis_port=$(free_port)
start_redis "$work/redis" "$redis_port"
# A short first run sizes the measured ones to about the same duration as the pushes.
read -r pilot _ < <(run_redis_sadd "$redis_port" 64 5000)
requests=$(python3 -c "print(min(3000000, max(10000, int(float('$pilot') * $seconds))))")

ratios=()
for round in $(seq "$rounds"); do
    rm -rf "${work:?}/home"
    start_server_with_data "$work/home" 100000 100000 1
    read -r wl wl_p99 < <(run_wrk 64 "http://127.0.0.1:$port/post_wl_updates" "$here/lib/push_whitelist.lua")
    if [ "$round" = 1 ]; then
        read -r ts ts_p99 < <(run_wrk 64 "http://127.0.0.1:$port/post_ts_updates" "$here/lib/push_descriptors.lua")
    fi
    stop_sync_server; SERVER_PID=""
    read -r sadd sadd_p99 < <(run_redis_sadd "$redis_port" 64 "$requests")
    ratios+=("$(ratio "$wl" "$sadd")")
    echo "round $round: whitelist pushes (10 keys, 100,000 keys, full history) ${wl}/s p99 ${wl_p99} ms;" \
        "redis SADD ${sadd}/s p99 ${sadd_p99} ms; rate ratio ${ratios[-1]}, p99 ratio $(ratio "$wl_p99" "$sadd_p99")"
done
stop_redis; REDIS_PID=""

median=$(printf '%s\n' "${ratios[@]}" | sort -g | awk '{ r[NR] = $1 } END { print r[int((NR + 1) / 2)] }')
echo "whitelist pushes vs redis (appendfsync always): median rate ratio $median of $rounds rounds (target >= 0.5)"
echo "training-database pushes (10 descriptors of 50 values): ${ts}/s p99 ${ts_p99} ms (target: 10x the rate before group commit)"
