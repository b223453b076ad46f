#!/usr/bin/env python3
"""Pushes N descriptors of V random values to a running server, in batches.

Usage: push_descriptors.py PORT COUNT VALUES
"""
import http.client
import random
import struct
import sys

port, count, values = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(7)
batch = 1000
conn = http.client.HTTPConnection("127.0.0.1", port, timeout=120)
sent = 0
while sent < count:
    n = min(batch, count - sent)
    body = b"".join(
        struct.pack("<IiI", rng.randrange(2), 0, values) +
        struct.pack("<%dq" % values, *(rng.randrange(-2**63, 2**63) for _ in range(values)))
        for _ in range(n))
    conn.request("POST", "/post_ts_updates", body, {"User-Host": "bench"})
    response = conn.getresponse()
    response.read()
    if response.status != 200:
        sys.exit("push failed: %d" % response.status)
    sent += n
print(response.getheader("newIndex"))
