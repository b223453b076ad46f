#!/usr/bin/env bash
# Backup and restore of a data folder of KEYS whitelist keys and DESCRIPTORS training
# descriptors (50 values each) while the server runs, in one run:
#  - VantorSyncCtl backup and restore against "cp -a" of the same folder plus a sync of
#    the copy (a backup's files are synced before it counts);
#  - the p99 of 16 connections pushing (whitelist, then training database) while backups
#    run back to back, against the same pushes without backups.
# Usage: backup.sh <build folder>   (KEYS, DESCRIPTORS, WRK_SECONDS override the sizes)
set -euo pipefail
if [ -z "${DBUS_SESSION_BUS_ADDRESS:-}" ]; then
    exec dbus-run-session -- "$0" "$@"
fi
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
SERVER_BIN=$build/bin/VantorSyncSvc
CTL="$build/bin/VantorSyncCtl --bus session"
source "$here/lib/common.sh"
require_tools wrk
keys=${KEYS:-1000000}
descriptors=${DESCRIPTORS:-100000}
export WRK_SECONDS=${WRK_SECONDS:-5}

start_bench_work vsbackup
data=$work/home/VantorSyncSvc
mkdir -p "$data"
python3 "$BENCH_LIB/make_sync_data.py" "$data" "$keys" 100000
python3 - "$data" "$descriptors" <<'PY'
import random, struct, sys
folder, count = sys.argv[1], int(sys.argv[2])
rng = random.Random(7)
with open(folder + "/histdata.bin", "wb") as f:
    for _ in range(count):
        values = [rng.randrange(-2**63, 2**63) for _ in range(50)]
        f.write(struct.pack("<IiI50q", 1, 1, 50, *values))
PY
port=$(free_port)
sed_config="<port>$port</port>"
mkdir -p "$work/home"
printf '<config>%s</config>' "$sed_config" > "$data/config.xml"
XDG_CONFIG_HOME=$work/home VANTORSYNC_BUS=session "$SERVER_BIN" -Foreground > "$work/server.out" 2>&1 &
SERVER_PID=$!
wait_for_port "$port"

seconds() { python3 -c 'import time; print(time.monotonic())'; }
elapsed() { python3 -c "print('%.3f' % ($2 - $1))"; }

t0=$(seconds); cp -a "$data" "$work/copy"; sync -f "$work/copy/histdata.bin"; t1=$(seconds)
cp_time=$(elapsed "$t0" "$t1")
t0=$(seconds); $CTL backup "$work/b0" >/dev/null; t1=$(seconds)
backup_time=$(elapsed "$t0" "$t1")
t0=$(seconds); $CTL restore "$work/b0" >/dev/null; t1=$(seconds)
restore_time=$(elapsed "$t0" "$t1")
size=$(du -sb "$work/b0" | cut -f1)

backups_running() {
    local n=0
    while [ ! -e "$work/stop" ]; do
        n=$((n + 1)); $CTL backup "$work/load-$n" >/dev/null; rm -rf "$work/load-$n"
    done
}
measure() {  # collection lua: "p99-without p99-with"
    local quiet busy
    read -r _ quiet < <(run_wrk 16 "http://127.0.0.1:$port/$1" "$here/lib/$2")
    rm -f "$work/stop"; backups_running & local loop=$!
    read -r _ busy < <(run_wrk 16 "http://127.0.0.1:$port/$1" "$here/lib/$2")
    touch "$work/stop"; wait "$loop"
    echo "$quiet $busy"
}
read -r wl_quiet wl_busy < <(measure post_wl_updates push_whitelist.lua)
read -r ts_quiet ts_busy < <(measure post_ts_updates push_descriptors.lua)

echo "data: $keys keys, $descriptors descriptors of 50 values; backup $size bytes"
echo "cp -a + sync: ${cp_time} s; backup: ${backup_time} s (ratio $(ratio "$backup_time" "$cp_time"), target <= 2)"
echo "restore: ${restore_time} s (ratio to cp -a $(ratio "$restore_time" "$cp_time"))"
echo "whitelist push p99, 16 connections: ${wl_quiet} ms, during backups ${wl_busy} ms (ratio $(ratio "$wl_busy" "$wl_quiet"), target <= 2)"
echo "training push p99, 16 connections: ${ts_quiet} ms, during backups ${ts_busy} ms (ratio $(ratio "$ts_busy" "$ts_quiet"), target <= 2)"
