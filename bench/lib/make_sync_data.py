#!/usr/bin/env python3
"""Writes a whitelist of N random keys with a full history into a data folder.

Usage: make_sync_data.py FOLDER KEYS HISTORY
The files are the store's own formats, so the server loads them at start.
"""
import random
import struct
import sys

folder, keys, history = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
rng = random.Random(42)
chosen = set()
while len(chosen) < keys:
    chosen.add(rng.randrange(-2**63, 2**63))
ordered = sorted(chosen)
with open(folder + "/whitelist.bin", "wb") as f:
    f.write(struct.pack("<%dq" % len(ordered), *ordered))
recent = ordered[-history:] if history else []
rng.shuffle(recent)
with open(folder + "/whitelist_h.bin", "wb") as f:
    f.write(struct.pack("<I", keys - history))
    f.write(b"".join(struct.pack("<Bq", 1, k) for k in recent))
