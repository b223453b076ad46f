# Shared pieces of the benchmark scripts: free ports, the server program, nginx, wrk.

BENCH_LIB=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# require_tools TOOL...: ends the script with "skipped" when one of them is not installed.
require_tools() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null || { echo "skipped: $tool not installed"; exit 0; }
    done
}

# start_bench_work PREFIX: makes a fresh folder in $work and arranges that on exit the
# server, nginx and redis still running are stopped and the folder removed. A script with
# more to stop first defines bench_extra_cleanup.
start_bench_work() {
    work=$(mktemp -d "/tmp/$1.XXXXXX")
    SERVER_PID=""
    NGINX_PID=""
    REDIS_PID=""
    trap bench_cleanup EXIT
}

bench_cleanup() {
    if declare -F bench_extra_cleanup >/dev/null; then bench_extra_cleanup || true; fi
    if [ -n "$SERVER_PID" ]; then stop_sync_server; fi
    if [ -n "$NGINX_PID" ]; then stop_nginx; fi
    if [ -n "$REDIS_PID" ]; then stop_redis; fi
    rm -rf "$work"
}

# start_server_with_data HOME WHITELIST_KEYS HISTORY LOG_ENABLED: generated data in HOME's
# data folder, then the server on a free port (in $port) with the log on (1) or off (0).
start_server_with_data() {
    local home=$1 keys=$2 history=$3 log=$4
    mkdir -p "$home/VantorSyncSvc"
    python3 "$BENCH_LIB/make_sync_data.py" "$home/VantorSyncSvc" "$keys" "$history"
    port=$(free_port)
    start_sync_server "$home" "$port" "<log_enabled>$log</log_enabled>"
}

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# start_sync_server HOME PORT [EXTRA_CONFIG]: runs VantorSyncSvc -Foreground with its data
# folder under HOME; sets SERVER_PID.
start_sync_server() {
    local home=$1 port=$2 extra=${3:-}
    mkdir -p "$home/VantorSyncSvc"
    printf '<config><port>%s</port>%s</config>' "$port" "$extra" > "$home/VantorSyncSvc/config.xml"
    XDG_CONFIG_HOME=$home VANTORSYNC_BUS=none "$SERVER_BIN" -Foreground > "$home/server.out" 2>&1 &
    SERVER_PID=$!
    wait_for_port "$port"
}

stop_sync_server() {
    kill -TERM "$SERVER_PID" 2>/dev/null || true
    wait "$SERVER_PID" 2>/dev/null || true
}

wait_for_port() {
    local port=$1
    for _ in $(seq 1 200); do
        if python3 -c "import socket,sys; socket.create_connection(('127.0.0.1', $port), 0.2)" 2>/dev/null; then
            return 0
        fi
        sleep 0.05
    done
    echo "nothing listens on port $port" >&2
    return 1
}

# start_nginx DIR PORT: one worker, access log off, a 3-byte file at /version; sets NGINX_PID.
start_nginx() {
    local dir=$1 port=$2
    mkdir -p "$dir/www" "$dir/logs"
    printf '1.0' > "$dir/www/version"
    chmod -R a+rX "$dir"
    cat > "$dir/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $dir/nginx.pid;
error_log $dir/logs/error.log;
worker_rlimit_nofile 20000;
events { worker_connections 20000; }
http {
    access_log off;
    client_body_temp_path $dir/client_body;
    proxy_temp_path $dir/proxy;
    fastcgi_temp_path $dir/fastcgi;
    uwsgi_temp_path $dir/uwsgi;
    scgi_temp_path $dir/scgi;
    keepalive_requests 100000000;
    keepalive_timeout 300s;
    server {
        listen 127.0.0.1:$port;
        root $dir/www;
    }
}
CONF
    nginx -p "$dir" -c "$dir/nginx.conf" &
    NGINX_PID=$!
    wait_for_port "$port"
}

stop_nginx() {
    kill -QUIT "$NGINX_PID" 2>/dev/null || true
    wait "$NGINX_PID" 2>/dev/null || true
}

# run_wrk CONNECTIONS URL [SCRIPT]: prints "RPS P99_MS".
run_wrk() {
    local connections=$1 url=$2 script=${3:-}
    local args=(-t"${WRK_THREADS:-2}" -c"$connections" -d"${WRK_SECONDS:-10}"s --latency --timeout 10s)
    [ -n "$script" ] && args+=(-s "$script")
    wrk "${args[@]}" "$url" | awk '
        /Requests\/sec/ { rps = $2 }
        $1 == "99%" { v = $2; ms = v + 0;
                      if (v ~ /us$/) ms = ms / 1000; else if (v ~ /ms$/) ms = ms;
                      else if (v ~ /s$/) ms = ms * 1000; p99 = ms }
        END { printf "%s %.3f\n", rps, p99 }'
}

# start_redis DIR PORT: redis-server on loopback with every write fsynced before its answer
# (append-only file, appendfsync always), data in DIR; sets REDIS_PID.
start_redis() {
    local dir=$1 port=$2
    mkdir -p "$dir"
    redis-server --bind 127.0.0.1 --port "$port" --dir "$dir" --appendonly yes \
        --appendfsync always --save "" --daemonize no --logfile "$dir/redis.log" &
    REDIS_PID=$!
    wait_for_port "$port"
}

stop_redis() {
    kill -TERM "$REDIS_PID" 2>/dev/null || true
    wait "$REDIS_PID" 2>/dev/null || true
}

# run_redis_sadd PORT CLIENTS REQUESTS: SADD of random members to one set; prints "RPS P99_MS".
run_redis_sadd() {
    local port=$1 clients=$2 requests=$3
    timeout 300 redis-benchmark -h 127.0.0.1 -p "$port" -c "$clients" -n "$requests" \
        -r 100000000 -t sadd --csv | python3 -c '
import csv, sys
rows = [r for r in csv.DictReader(sys.stdin) if r.get("test") == "SADD"]
print("%s %s" % (rows[0]["rps"], rows[0].get("p99_latency_ms", "nan")) if rows else "0 nan")'
}

ratio() { python3 -c "print('%.3g' % (float('$1') / float('$2')) if float('$2') else 'n/a')"; }

# cpu_ticks PID: user + system clock ticks used so far.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }

# hold_idle_connections PORT COUNT SECONDS READY_FILE: opens COUNT keep-alive connections,
# makes one request on each, touches READY_FILE and keeps them idle for SECONDS.
hold_idle_connections() {
    python3 - "$@" <<'PY'
import socket, sys, time
port, count, seconds, ready = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3]), sys.argv[4]
conns = []
for _ in range(count):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(b"GET /version HTTP/1.1\r\nHost: x\r\n\r\n")
    conns.append(s)
for s in conns:
    got = b""
    while not got.endswith(b"1.0"):
        got += s.recv(100)
open(ready, "w").close()
time.sleep(seconds)
PY
}

# idle_cpu_percent PID PORT: CPU use of PID over 10 s while 1000 idle connections are open.
idle_cpu_percent() {
    local pid=$1 port=$2 ready
    ready=$(mktemp -u)
    hold_idle_connections "$port" 1000 12 "$ready" &
    local holder=$!
    for _ in $(seq 300); do [ -e "$ready" ] && break; sleep 0.1; done
    local before after
    before=$(cpu_ticks "$pid")
    sleep 10
    after=$(cpu_ticks "$pid")
    wait "$holder"
    rm -f "$ready"
    python3 -c "print('%.2f' % (100.0 * ($after - $before) / $(getconf CLK_TCK) / 10))"
}
