#!/usr/bin/env python3
"""Pushes the records of an export file through HTTP as fast as the server acknowledges
them: batches of the same size an import uses, from a few keep-alive connections at once.
Prints the records per second. With --descriptors N VALUES it instead pushes N random
descriptors (setting up a store) and prints nothing.

Usage: push_export.py PORT FILE [CONNECTIONS]
       push_export.py PORT --descriptors N VALUES
"""
import http.client
import json
import random
import struct
import sys
import threading
import time

BATCH = 10000


def bodies_of(path):
    bodies, records, kind = [], [], None
    with open(path) as f:
        for line in f:
            item = json.loads(line)
            if "key" in item:
                records.append(struct.pack("<Bq", 1, item["key"]))
                kind = "/post_wl_updates"
            elif "label" in item:
                values = item["values"]
                records.append(struct.pack("<IiI%dq" % len(values), item["label"], 1,
                                           len(values), *values))
                kind = "/post_ts_updates"
            if len(records) == BATCH:
                bodies.append(b"".join(records))
                records = []
    if records:
        bodies.append(b"".join(records))
    return kind, bodies


def push_all(port, path, bodies, connections):
    queue = list(enumerate(bodies))
    lock = threading.Lock()
    failures = []

    def worker():
        conn = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
        while True:
            with lock:
                if not queue:
                    break
                _, body = queue.pop(0)
            conn.request("POST", path, body=body, headers={"User-Host": "bench"})
            response = conn.getresponse()
            response.read()
            if response.status != 200:
                failures.append(response.status)
        conn.close()

    threads = [threading.Thread(target=worker) for _ in range(connections)]
    began = time.monotonic()
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    if failures:
        raise SystemExit("pushes failed: %r" % failures[:5])
    return time.monotonic() - began


def main():
    port = int(sys.argv[1])
    if sys.argv[2] == "--descriptors":
        count, values = int(sys.argv[3]), int(sys.argv[4])
        rng = random.Random(5)
        bodies = []
        for start in range(0, count, 1000):
            bodies.append(b"".join(
                struct.pack("<IiI%dq" % values, rng.randrange(2**32), 1, values,
                            *[rng.randrange(-2**63, 2**63) for _ in range(values)])
                for _ in range(min(1000, count - start))))
        push_all(port, "/post_ts_updates", bodies, 1)
        return
    kind, bodies = bodies_of(sys.argv[2])
    connections = int(sys.argv[3]) if len(sys.argv) > 3 else 4
    records = sum(1 for _ in open(sys.argv[2])) - 3
    seconds = push_all(port, kind, bodies, connections)
    print("%.0f" % (records / seconds))


if __name__ == "__main__":
    main()
