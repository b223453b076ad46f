#!/usr/bin/env bash
# wrk against this server's "/version" and against nginx serving a 3-byte file, in one
# run: keep-alive, 10 s each, at 64 and at 1000 connections. Then the server's CPU use
# with 1000 idle keep-alive connections over 10 s. Usage: http_vs_nginx.sh <build folder>
set -uo pipefail
build="${1:-build}"
server="$build/bin/vs_test_http_server"
duration="${BENCH_SECONDS:-10}"

for tool in wrk nginx python3; do
    command -v "$tool" >/dev/null || { echo "skipped: $tool not installed"; exit 0; }
done
if [ ! -x "$server" ]; then
    cmake --build "$build" --target vs_test_http_server >/dev/null 2>&1 ||
        { echo "cannot build $server"; exit 1; }
fi
ulimit -n "$(ulimit -Hn)"

work="$(mktemp -d)"
server_pid=""
nginx_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
    [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

free_port() {
    python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# nginx: one worker, no access log, a 3-byte file, in the foreground.
nginx_port="$(free_port)"
mkdir -p "$work/www"
printf '1.0' > "$work/www/version"
cat > "$work/nginx.conf" <<CONF
worker_processes 1;
daemon off;
pid $work/nginx.pid;
error_log $work/nginx-error.log;
worker_rlimit_nofile 20000;
events { worker_connections 8192; }
http {
    access_log off;
    client_body_temp_path $work/client_body;
    proxy_temp_path $work/proxy;
    fastcgi_temp_path $work/fastcgi;
    uwsgi_temp_path $work/uwsgi;
    scgi_temp_path $work/scgi;
    keepalive_requests 1000000;
    server {
        listen 127.0.0.1:$nginx_port;
        root $work/www;
    }
}
CONF
nginx -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!

"$server" 0 > "$work/server.out" &
server_pid=$!
for _ in $(seq 50); do
    [ -s "$work/server.out" ] && curl -s "http://127.0.0.1:$nginx_port/version" >/dev/null && break
    sleep 0.1
done
server_port="$(awk '/^port/ {print $2}' "$work/server.out")"
[ -n "$server_port" ] || { echo "server did not start"; exit 1; }

# Prints "<requests per second> <p99 in microseconds>" for one wrk run.
measure() {
    local url="$1" connections="$2"
    wrk -t2 -c"$connections" -d"${duration}s" --latency "$url" 2>&1 | awk '
        function us(v) {
            if (v ~ /us$/) return v + 0;
            if (v ~ /ms$/) return v * 1000;
            if (v ~ /m$/) return v * 60000000;
            if (v ~ /s$/) return v * 1000000;
            return v;
        }
        /Requests\/sec:/ { rps = $2 }
        $1 == "99%" { p99 = us($2) }
        /Socket errors/ { errors = $0 }
        END { printf "%s %s\n", rps + 0, p99 + 0; if (errors != "") print errors > "/dev/stderr" }'
}

status=0
for connections in 64 1000; do
    read -r ours_rps ours_p99 < <(measure "http://127.0.0.1:$server_port/version" "$connections")
    read -r nginx_rps nginx_p99 < <(measure "http://127.0.0.1:$nginx_port/version" "$connections")
    awk -v c="$connections" -v orps="$ours_rps" -v op99="$ours_p99" \
        -v nrps="$nginx_rps" -v np99="$nginx_p99" 'BEGIN {
        rr = nrps > 0 ? orps / nrps : 0; pr = np99 > 0 ? op99 / np99 : 0;
        printf "connections=%d server_rps=%.0f nginx_rps=%.0f rps_ratio=%.2fx (target >= 0.8x)\n",
               c, orps, nrps, rr;
        printf "connections=%d server_p99=%.0fus nginx_p99=%.0fus p99_ratio=%.2fx (target <= 2x)\n",
               c, op99, np99, pr;
    }'
done

# CPU of the server while 1000 keep-alive connections sit idle.
ticks_of() { awk '{print $14 + $15}' "/proc/$1/stat"; }
python3 - "$server_port" "$duration" "$work/idle.ready" <<'PY' &
import socket, sys, time
port, seconds, ready = int(sys.argv[1]), float(sys.argv[2]), sys.argv[3]
conns = []
for _ in range(1000):
    s = socket.create_connection(("127.0.0.1", port))
    s.sendall(b"GET /version HTTP/1.1\r\nHost: x\r\n\r\n")
    conns.append(s)
for s in conns:
    got = b""
    while not got.endswith(b"1.0"):
        got += s.recv(100)
open(ready, "w").close()
time.sleep(seconds + 2)
PY
idle_pid=$!
for _ in $(seq 300); do [ -e "$work/idle.ready" ] && break; sleep 0.1; done
before="$(ticks_of "$server_pid")"
sleep "$duration"
after="$(ticks_of "$server_pid")"
wait "$idle_pid"
awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s="$duration" 'BEGIN {
    printf "idle_connections=1000 server_cpu=%.2f%% of a core over %ds (target < 1%%)\n",
           100 * t / hz / s, s }'
exit $status
