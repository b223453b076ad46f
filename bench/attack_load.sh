#!/usr/bin/env bash
# Hostile clients on 127.0.0.1, all figures from one run:
#  - 2000 connections each sending a 1 MB head that never ends;
#  - 10 connections each sending 100 MB of a 104 MB body and never the rest;
#  - 400 silent connections from one address against a cap of 200 and a 2 s time-out: a
#    client from another address must get /version at every moment (target: within 1 s);
#  - 60 clients that ask for the snapshot of 1,000,000 keys and never read it, with a
#    32 MiB budget: peak resident size at most budget + one snapshot + 50 MiB, and a push
#    is answered meanwhile;
#  - metrics scrapes beside 1000 silent connections on the metrics port (target: within 1 s);
# for each: the server's resident size idle, at its peak (target: at most the buffer
# budget plus 100 MB) and after the attackers left (target: within 2x idle), and the p99
# of fast clients pulling during the attack against the same clients alone (target <= 3x).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
SERVER_BIN=${SERVER_BIN:-$build/bin/VantorSyncSvc}
source "$here/lib/common.sh"
ulimit -n "$(ulimit -Hn)"
budget_mb=${BUDGET_MB:-256}

# SCENARIOS picks some of: heads bodies silent slow metrics (default: all).
scenarios=" ${SCENARIOS:-heads bodies silent slow metrics} "
wanted() { [[ "$scenarios" == *" $1 "* ]]; }

start_bench_work vsattack
export VANTORSYNC_BUFFER_BUDGET_MB=$budget_mb

if wanted heads || wanted bodies; then
    start_server_with_data "$work" 100000 100 0
    if wanted heads; then
        echo "--- 2000 slow heads of 1 MB (buffer budget $budget_mb MiB)"
        timeout 300 python3 "$here/lib/attack_load.py" heads "$port" "$SERVER_PID" 2000 1000000 "$budget_mb"
    fi
    if wanted bodies; then
        echo "--- 10 unfinished bodies: 100 MB sent of 104 MB declared"
        timeout 300 python3 "$here/lib/attack_load.py" bodies "$port" "$SERVER_PID" 10 104000000 100000000 "$budget_mb"
    fi
    stop_sync_server
fi

if wanted silent; then
    echo "--- 400 silent connections from 127.0.0.2, cap 200, time-out 2 s"
    VANTORSYNC_MAX_CONNECTIONS=200 VANTORSYNC_REQUEST_TIMEOUT=2 \
        start_server_with_data "$work/silent" 1000 10 0
    timeout 120 python3 "$here/lib/attack_load.py" silent "$port" 400 6
    stop_sync_server
fi

if wanted slow; then
    echo "--- 60 never-reading snapshot pulls of 1,000,000 keys, budget 32 MiB"
    VANTORSYNC_BUFFER_BUDGET_MB=32 start_server_with_data "$work/slow" 1000000 1000 0
    timeout 120 python3 "$here/lib/snapshot_pull.py" slow "$port" "$SERVER_PID" 60 32
    stop_sync_server
fi

if wanted metrics; then
    echo "--- metrics scrapes beside 1000 silent connections"
    metrics_port=$(free_port)
    port=$(free_port)
    mkdir -p "$work/metrics/VantorSyncSvc"
    printf '<config><port>%s</port></config>' "$port" > "$work/metrics/VantorSyncSvc/config.xml"
    XDG_CONFIG_HOME=$work/metrics VANTORSYNC_BUS=none "$SERVER_BIN" -Foreground \
        "-Metrics=127.0.0.1:$metrics_port" > "$work/metrics/server.out" 2>&1 &
    SERVER_PID=$!
    wait_for_port "$metrics_port"
    timeout 120 python3 "$here/lib/metrics_scrape.py" "$metrics_port" "$SERVER_PID" 1000
fi
