#!/usr/bin/env bash
# wrk against this server's "/version" and against nginx serving a 3-byte file, in one
# run: keep-alive, 10 s each, at 64 and at 1000 connections. Then the server's CPU use
# with 1000 idle keep-alive connections over 10 s. Usage: http_vs_nginx.sh <build folder>
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/lib/common.sh"
server="$build/bin/vs_test_http_server"

require_tools wrk nginx python3
if [ ! -x "$server" ]; then
    cmake --build "$build" --target vs_test_http_server >/dev/null
fi
ulimit -n "$(ulimit -Hn)"

server_pid=""
bench_extra_cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null && wait "$server_pid" 2>/dev/null
}
start_bench_work vshttp

nginx_port=$(free_port)
start_nginx "$work/nginx" "$nginx_port"
server_port=$(free_port)
"$server" "$server_port" > "$work/server.out" &
server_pid=$!
wait_for_port "$server_port"

for connections in 64 1000; do
    read -r ours ours_p99 < <(run_wrk "$connections" "http://127.0.0.1:$server_port/version")
    read -r theirs theirs_p99 < <(run_wrk "$connections" "http://127.0.0.1:$nginx_port/version")
    echo "connections=$connections: server ${ours} req/s p99 ${ours_p99} ms | nginx ${theirs} req/s p99 ${theirs_p99} ms | rps ratio $(ratio "$ours" "$theirs") (target >= 0.8), p99 ratio $(ratio "$ours_p99" "$theirs_p99") (target <= 2)"
done
echo "idle_connections=1000: server CPU $(idle_cpu_percent "$server_pid" "$server_port")% of a core over 10 s (target < 1%)"
