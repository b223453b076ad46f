# Shared pieces of the benchmark scripts: free ports, the server program, nginx, wrk.

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
events { worker_connections 20000; }
http {
    access_log off;
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
    local args=(-t2 -c"$connections" -d"${WRK_SECONDS:-10}"s --latency --timeout 10s)
    [ -n "$script" ] && args+=(-s "$script")
    wrk "${args[@]}" "$url" | awk '
        /Requests\/sec/ { rps = $2 }
        $1 == "99%" { v = $2; ms = v + 0;
                      if (v ~ /us$/) ms = ms / 1000; else if (v ~ /ms$/) ms = ms;
                      else if (v ~ /s$/) ms = ms * 1000; p99 = ms }
        END { printf "%s %.3f\n", rps, p99 }'
}

ratio() { python3 -c "print('%.2f' % (float('$1') / float('$2')) if float('$2') else 'n/a')"; }

# cpu_ticks PID: user + system clock ticks used so far.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
