#!/usr/bin/env python3
"""Stops and starts of the HTTP server under push and pull load: does every start answer?

32 keep-alive clients push and pull while VantorSyncCtl stops and starts the server 30
times; after each start 20 new clients ask for /version (2 s each), and 20 more once the
load has ended. Prints the requests left unanswered per cycle and in total.
Usage (on a private bus): dbus-run-session -- bench/stop_start_cycles.py SVC CTL [CYCLES]
"""
import http.client
import os
import shutil
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests",
                                "support"))
import management_harness as harness  # noqa: E402
from sync_wire import descriptor, wait_until, wl_record  # noqa: E402

CLIENTS = 32
PROBES = 20


def load(port, number, done):
    conn = None
    serial = 0
    while not done.is_set():
        serial += 1
        key = (number + 1) * 10**9 + serial
        path, body, method = [("/post_wl_updates", wl_record(1, key), "POST"),
                              ("/post_ts_updates", descriptor(1, [key]), "POST"),
                              ("/get_wl_updates", b"", "GET")][serial % 3]
        try:
            if conn is None:
                conn = http.client.HTTPConnection("127.0.0.1", port, timeout=2)
            conn.request(method, path, body=body, headers={"User-Host": "ws",
                                                           "startIndex": "0"})
            conn.getresponse().read()
        except (OSError, http.client.HTTPException):
            if conn is not None:
                conn.close()
            conn = None
            time.sleep(0.02)


def unanswered_probes(port):
    missing = 0
    for _ in range(PROBES):
        try:
            if harness.http_request(port, "GET", "/version", timeout=2)[0].status != 200:
                missing += 1
        except (OSError, http.client.HTTPException):
            missing += 1
    return missing


def main():
    harness.PROGRAMS["server"], harness.PROGRAMS["ctl"] = sys.argv[1:3]
    cycles = int(sys.argv[3]) if len(sys.argv) > 3 else 30
    home = tempfile.mkdtemp(prefix="vscycles")
    service = harness.Service(home).start()
    try:
        wait_until(lambda: unanswered_probes(service.port) == 0)
        done = threading.Event()
        clients = [threading.Thread(target=load, args=(service.port, n, done), daemon=True)
                   for n in range(CLIENTS)]
        for client in clients:
            client.start()
        time.sleep(1)
        per_cycle = []
        for _ in range(cycles):
            harness.ctl("stop")
            harness.ctl("start")
            per_cycle.append(unanswered_probes(service.port))
        done.set()
        for client in clients:
            client.join()
        after = unanswered_probes(service.port)
        print("unanswered /version per cycle (of %d): %s" % (PROBES, per_cycle))
        print("cycles with unanswered requests: %d of %d; unanswered in total: %d of %d;"
              " after the load: %d of %d" % (sum(1 for m in per_cycle if m), cycles,
                                             sum(per_cycle), PROBES * cycles, after, PROBES))
    finally:
        service.stop()
        shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    main()
