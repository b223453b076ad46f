# Shared by the tests in this folder: the names an administrator sees, waiting with a
# limit, one sync exchange with curl, and checks that say what they expected.
set -euo pipefail

TESTS=$(cd "$(dirname "$0")" && pwd)
UNIT=VantorSyncSvc.service
DATA=/var/lib/VantorSyncSvc
PORT=17080
METRICS=http://127.0.0.1:9817/metrics
TMP=${AUTOPKGTEST_TMP:-$(mktemp -d)}
export DEBIAN_FRONTEND=noninteractive

fail() {
    # A looping client left running would hold the test's output open.
    [ -z "${CLIENT_LOOP:-}" ] || touch "$TMP/loop-stop"
    echo "FAIL: $*" >&2
    echo "--- systemctl status $UNIT" >&2
    systemctl status --no-pager "$UNIT" >&2 2>&1 || true
    echo "--- journal of $UNIT (last 20 lines)" >&2
    journalctl -u "$UNIT" -o cat --no-pager -n 20 >&2 || true
    exit 1
}
ok() { echo "ok: $*"; }

# expect WHAT ACTUAL EXPECTED
expect() {
    [ "$2" = "$3" ] || fail "$1: expected \"$3\", got \"$2\""
    ok "$1 ($2)"
}

# wait_for SECONDS COMMAND...: true once COMMAND succeeds, false after SECONDS.
wait_for() {
    local limit=$1
    shift
    local end=$(($(date +%s) + limit))
    until "$@" >/dev/null 2>&1; do
        [ "$(date +%s)" -lt "$end" ] || return 1
        sleep 1
    done
}

serving() { curl -s --max-time 5 -o /dev/null "http://127.0.0.1:$PORT/version"; }

wait_serving() {
    wait_for 90 serving || fail "nothing answers on the sync port $PORT"
}

main_pid() { systemctl show -p MainPID --value "$UNIT"; }

# apt_get ARGS...: apt-get with a limit, quiet unless it fails.
apt_get() {
    timeout 300 apt-get -y -q -o Dpkg::Options::=--force-confnew "$@" > "$TMP/apt.log" 2>&1 ||
        { cat "$TMP/apt.log" >&2; fail "apt-get $*"; }
}

# exchange PATH HOST START [BODY_FILE]: one request; the answer's body lands in
# $TMP/body and its newIndex is printed.
exchange() {
    local path=$1 host=$2 start=$3 body=${4:-}
    local send=()
    [ -n "$body" ] && send=(--data-binary "@$body")
    curl -sS --max-time 30 -D "$TMP/head" -o "$TMP/body" -H "User-Host: $host" \
        -H "startIndex: $start" "${send[@]}" "http://127.0.0.1:$PORT$path" ||
        fail "$path: no answer"
    head -n1 "$TMP/head" | grep -q '^HTTP/1.1 200' || fail "$path: $(head -n1 "$TMP/head")"
    sed -n 's/^newIndex: *\([0-9]*\).*/\1/p' "$TMP/head"
}

# push_wl HOST add KEY remove KEY ...; push_ts HOST LABEL:V,V ...: print the new index.
push_wl() {
    local host=$1
    shift
    python3 "$TESTS/wire.py" wl "$@" > "$TMP/push"
    exchange /post_wl_updates "$host" 0 "$TMP/push"
}
push_ts() {
    local host=$1
    shift
    python3 "$TESTS/wire.py" ts "$@" > "$TMP/push"
    exchange /post_ts_updates "$host" 0 "$TMP/push"
}

# pull_wl HOST START, pull_ts HOST START: the records as text, one per line, then a
# line "index N" with the new index.
pull_wl() {
    local index
    index=$(exchange /get_wl_updates "$1" "$2")
    python3 "$TESTS/wire.py" wl-read < "$TMP/body"
    echo "index $index"
}
pull_ts() {
    local index
    index=$(exchange /get_ts_updates "$1" "$2")
    python3 "$TESTS/wire.py" ts-read < "$TMP/body"
    echo "index $index"
}

# ensure_user NAME [GROUP]: an ordinary login account, in GROUP when given.
ensure_user() {
    id "$1" >/dev/null 2>&1 || useradd --create-home ${2:+--groups "$2"} "$1"
}

# as USER COMMAND...: the command as that user, with the user's own groups.
as() {
    local user=$1
    shift
    runuser -u "$user" -- "$@"
}

files_not_0600() { find "$DATA" -type f ! -perm 0600 -printf '%m %p\n'; }

# start_client_loop, then expect_no_refusal WHEN: a client that opens a new connection for
# each /version request in the background, and the check that none was refused.
start_client_loop() {
    rm -f "$TMP/loop-stop" "$TMP/loop-result"
    (
        refused=0 answered=0 other=0
        while [ ! -e "$TMP/loop-stop" ]; do
            rc=0
            curl -s --max-time 10 -o /dev/null "http://127.0.0.1:$PORT/version" || rc=$?
            case $rc in
                0) answered=$((answered + 1)) ;;
                7) refused=$((refused + 1)) ;;  # curl: could not connect
                *) other=$((other + 1)) ;;
            esac
        done
        echo "$refused $answered $other" > "$TMP/loop-result"
    ) < /dev/null > /dev/null 2>&1 &
    CLIENT_LOOP=$!
    sleep 1
}

expect_no_refusal() {
    touch "$TMP/loop-stop"
    wait "$CLIENT_LOOP"
    local refused answered other
    read -r refused answered other < "$TMP/loop-result"
    echo "$1: $answered answered, $refused refused, $other closed without an answer"
    expect "connections refused $1" "$refused" 0
    [ "$answered" -gt 0 ] || fail "the looping client got no answer at all"
}
