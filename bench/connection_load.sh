#!/usr/bin/env bash
# Connection load on 127.0.0.1, all figures from one run:
#  - 10,000 keep-alive connections open at once, one pull on each, all in flight together,
#    then a second round on the same connections; server resident size and CPU;
#  - the latency of clients pulling again and again, alone and then while 50 slow clients
#    read a 900 kB answer one byte at a time (the baseline is the same clients alone).
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
SERVER_BIN=$build/bin/VantorSyncSvc
source "$here/lib/common.sh"
# Both ends need a descriptor per connection; the server raises its own limit too.
ulimit -n "$(ulimit -Hn)"
connections=${CONNECTIONS:-10000}

start_bench_work vsconn
# 100,000 keys with the newest 100 changes held: a pull from 0 is the whole set (900 kB),
# a pull of the newest changes a 900-byte answer.
start_server_with_data "$work" 100000 100 0

echo "--- $connections concurrent keep-alive connections, one pull (900-byte answer) each"
timeout 300 python3 "$here/lib/connection_load.py" many "$port" "$SERVER_PID" "$connections" ||
    echo "connection load: not every connection was answered"

echo "--- slow readers: 50 clients reading a 900 kB answer one byte at a time"
timeout 120 python3 "$here/lib/connection_load.py" slow "$port" "$SERVER_PID" 50 20 10
