#!/usr/bin/env bash
# Whitelist snapshot pulls of 1,000,000 keys, all figures from one run: the time per pull
# of one keep-alive client against a memcpy of the same bytes (target <= 3x), and the
# server's resident size while 64 clients pull the same snapshot at once (target: one
# copy held). The budget is set high, so that copies, not refusals, show.
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
SERVER_BIN=${SERVER_BIN:-$build/bin/VantorSyncSvc}
source "$here/lib/common.sh"
ulimit -n "$(ulimit -Hn)"

start_bench_work vssnapshot
VANTORSYNC_BUFFER_BUDGET_MB=2048 start_server_with_data "$work" 1000000 1000 0
timeout 300 python3 "$here/lib/snapshot_pull.py" concurrent "$port" "$SERVER_PID" 64
timeout 300 python3 "$here/lib/snapshot_pull.py" sequential "$port" "${PULLS:-20}"
