#!/usr/bin/env bash
# Runs every fuzz target of a VANTORSYNC_FUZZ build for a bounded time each.
# Usage: fuzz/run_fuzz.sh <build folder> [target ...]; FUZZ_SECONDS (default 60) per target.
# Each target works on a copy of its seed corpus in <build>/fuzz-corpus/<target>; inputs
# that crash, leak, hang or break an invariant land in <build>/fuzz-findings/ (keep each in
# fuzz/regressions/<target>/). Inputs that once failed seed every run too.
set -u
build=${1:?usage: run_fuzz.sh <build folder> [target ...]}
shift
seconds=${FUZZ_SECONDS:-60}
here=$(cd "$(dirname "$0")" && pwd)
targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
    targets=(request_reader chunked http_object settings whitelist_load trainingdb_load
             whitelist_push trainingdb_push proxy_header export_reader)
fi

# The store targets fsync their files; on a memory-backed folder that costs nothing.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then
    export TMPDIR=/dev/shm
fi

findings="$build/fuzz-findings"
mkdir -p "$findings"
failed=0
printf '%-18s %12s %10s %s\n' target executions seconds result
for target in "${targets[@]}"; do
    program="$build/bin/fuzz_$target"
    corpus="$build/fuzz-corpus/$target"
    mkdir -p "$corpus"
    cp -n "$here/corpus/$target/"* "$corpus/" 2>/dev/null
    cp -n "$here/regressions/$target/"* "$corpus/" 2>/dev/null
    log="$findings/$target.log"
    "$program" "$corpus" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
        -max_len=4096 -print_final_stats=1 -artifact_prefix="$findings/$target-" \
        >"$log" 2>&1
    status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    if [ $status -eq 0 ]; then
        result=ok
    else
        result="FAILED (exit $status, see $log)"
        failed=1
    fi
    printf '%-18s %12s %10s %s\n' "$target" "${runs:-?}" "$seconds" "$result"
done
exit $failed
