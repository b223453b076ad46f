#!/usr/bin/env bash
# Runs every benchmark program and every benchmark script; figures go to stdout.
set -uo pipefail
build="${1:-build}"
here="$(cd "$(dirname "$0")" && pwd)"
status=0
for program in "$build"/bin/bench_*; do
    [ -x "$program" ] || continue
    echo "=== $(basename "$program")"
    "$program" --benchmark_counters_tabular=true || status=1
done
for script in "$here"/*.sh; do
    [ "$(basename "$script")" = run_all.sh ] && continue
    echo "=== $(basename "$script")"
    bash "$script" "$build" || status=1
done
exit $status
