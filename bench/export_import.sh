#!/usr/bin/env bash
# Export and import throughput, in one short run:
#  - a server with BENCH_KEYS whitelist keys (default 1,000,000) and BENCH_DESCRIPTORS
#    training descriptors of 20 values (default 20,000) exports both into a folder;
#  - an empty server imports each file (batches of 10,000 records, durable before the
#    next is answered);
#  - another empty server takes the same records as durable HTTP pushes of the same batch
#    size from 4 connections: the baseline (target: import >= 0.5x of it);
#  - the server's peak resident size during export and import, against its size before.
# Usage: export_import.sh <build folder>
set -euo pipefail
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ] || [ -z "${VS_BENCH_OWN_BUS:-}" ]; then
    command -v dbus-run-session >/dev/null || { echo "skipped: dbus-run-session not installed"; exit 0; }
    VS_BENCH_OWN_BUS=1 exec dbus-run-session -- bash "$0" "$@"
fi
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
SERVER_BIN=$build/bin/VantorSyncSvc
CTL="$build/bin/VantorSyncCtl --bus session"
source "$here/lib/common.sh"
keys=${BENCH_KEYS:-1000000}
descriptors=${BENCH_DESCRIPTORS:-20000}

start_bench_work vsexport
# A server on the session bus, for the management calls.
start_managed_server() {
    local home=$1
    port=$(free_port)
    mkdir -p "$home/VantorSyncSvc"
    printf '<config><port>%s</port><log_enabled>0</log_enabled></config>' "$port" \
        > "$home/VantorSyncSvc/config.xml"
    XDG_CONFIG_HOME=$home VANTORSYNC_BUS=session "$SERVER_BIN" -Foreground > "$home/server.out" 2>&1 &
    SERVER_PID=$!
    wait_for_port "$port"
    for _ in $(seq 1 100); do $CTL status >/dev/null 2>&1 && return 0; sleep 0.1; done
    echo "the server did not take its bus name" >&2
    return 1
}
rss_kib() { awk '/^VmRSS/ { print $2 }' "/proc/$SERVER_PID/status"; }
peak_kib() { awk '/^VmHWM/ { print $2 }' "/proc/$SERVER_PID/status"; }
reset_peak() { echo 5 > "/proc/$SERVER_PID/clear_refs"; }
seconds_of() { local t0 t1; t0=$(date +%s.%N); "$@" > /dev/null || return 1; t1=$(date +%s.%N); python3 -c "print($t1 - $t0)"; }
rate() { python3 -c "print('%.0f' % ($1 / $2))"; }

mkdir -p "$work/source/VantorSyncSvc"
python3 "$here/lib/make_sync_data.py" "$work/source/VantorSyncSvc" "$keys" 100000
start_managed_server "$work/source"
python3 "$here/lib/push_export.py" "$port" --descriptors "$descriptors" 20
rss_before_export=$(rss_kib); reset_peak
export_s=$(seconds_of $CTL export "$work/export")
peak_export=$(peak_kib)
stop_sync_server; SERVER_PID=""

start_managed_server "$work/target"
rss_before_import=$(rss_kib); reset_peak
import_wl_s=$(seconds_of $CTL import "$work/export/whitelist.jsonl")
import_ts_s=$(seconds_of $CTL import "$work/export/trainingdb.jsonl")
peak_import=$(peak_kib)
stop_sync_server; SERVER_PID=""

start_sync_server "$work/http" "$(free_port)" "<log_enabled>0</log_enabled>"
port=$(sed -n 's:.*<port>\([0-9]*\)</port>.*:\1:p' "$work/http/VantorSyncSvc/config.xml")
http_wl=$(python3 "$here/lib/push_export.py" "$port" "$work/export/whitelist.jsonl")
http_ts=$(python3 "$here/lib/push_export.py" "$port" "$work/export/trainingdb.jsonl")
stop_sync_server; SERVER_PID=""

import_wl=$(rate "$keys" "$import_wl_s")
import_ts=$(rate "$descriptors" "$import_ts_s")
echo "export of $keys keys + $descriptors descriptors: $(rate $((keys + descriptors)) "$export_s") records/s"
echo "import of the keys: $import_wl records/s; as durable HTTP pushes of 10,000: $http_wl/s; ratio $(ratio "$import_wl" "$http_wl") (target >= 0.5)"
echo "import of the descriptors: $import_ts records/s; as durable HTTP pushes of 10,000: $http_ts/s; ratio $(ratio "$import_ts" "$http_ts") (target >= 0.5)"
echo "server resident size: export peak $(ratio "$peak_export" "$rss_before_export")x of its size before (${rss_before_export} KiB); import peak ${peak_import} KiB from ${rss_before_import} KiB"
