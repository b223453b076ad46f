#!/usr/bin/env bash
# Hostile clients on 127.0.0.1, all figures from one run:
#  - 2000 connections each sending a 1 MB head that never ends;
#  - 10 connections each sending 100 MB of a 104 MB body and never the rest;
#  - 400 silent connections from one address against a cap of 200 and a 2 s time-out: a
#    client from another address must get /version at every moment (target: within 1 s);
# for each: the server's resident size idle, at its peak (target: at most the buffer
# budget plus 100 MB) and after the attackers left (target: within 2x idle), and the p99
# of fast clients pulling during the attack against the same clients alone (target <= 3x).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
SERVER_BIN=$build/bin/VantorSyncSvc
source "$here/lib/common.sh"
ulimit -n "$(ulimit -Hn)"
budget_mb=${BUDGET_MB:-256}

start_bench_work vsattack
export VANTORSYNC_BUFFER_BUDGET_MB=$budget_mb
start_server_with_data "$work" 100000 100 0

echo "--- 2000 slow heads of 1 MB (buffer budget $budget_mb MiB)"
timeout 300 python3 "$here/lib/attack_load.py" heads "$port" "$SERVER_PID" 2000 1000000 "$budget_mb"
echo "--- 10 unfinished bodies: 100 MB sent of 104 MB declared"
timeout 300 python3 "$here/lib/attack_load.py" bodies "$port" "$SERVER_PID" 10 104000000 100000000 "$budget_mb"
stop_sync_server

echo "--- 400 silent connections from 127.0.0.2, cap 200, time-out 2 s"
VANTORSYNC_MAX_CONNECTIONS=200 VANTORSYNC_REQUEST_TIMEOUT=2 \
    start_server_with_data "$work/silent" 1000 10 0
timeout 120 python3 "$here/lib/attack_load.py" silent "$port" 400 6
