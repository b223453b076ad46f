#!/usr/bin/env python3
"""Whitelist snapshot answers against the real server program: many clients pulling the
snapshot at once get the same, correct bytes; a push makes the next pull a new snapshot;
clients that ask for it and never read hold neither more memory than the buffer budget,
one snapshot and a margin, nor up a push. Usage: shared_snapshot_test.py <VantorSyncSvc>
"""
import hashlib
import os
import shutil
import socket
import struct
import sys
import tempfile
import threading
import time
import unittest

import crash_durability_test as common
from crash_durability_test import Server
from hostile_client_test import resident_kib

KEYS = 1000000
HISTORY = 1000
BUDGET_MB = 32
MARGIN_MB = 50
PULL = b"GET /get_wl_updates HTTP/1.1\r\nUser-Host: ws\r\nstartIndex: 0\r\n\r\n"


def write_whitelist(folder, keys):
    """The store's files with every key added and the history trimmed to its last HISTORY
    changes, so a pull from 0 is answered with the snapshot."""
    with open(os.path.join(folder, "whitelist.bin"), "wb") as f:
        f.write(struct.pack("<%dq" % len(keys), *keys))
    with open(os.path.join(folder, "whitelist_h.bin"), "wb") as f:
        f.write(struct.pack("<I", len(keys) - HISTORY))
        f.write(b"".join(struct.pack("<Bq", 1, k) for k in keys[-HISTORY:]))


def snapshot_of(keys):
    """The reset marker and an add record per key, put together a byte column at a time."""
    packed = b"\xff" * 8 + struct.pack("<%dq" % len(keys), *keys)
    records = bytearray(9 * (len(keys) + 1))
    records[0::9] = b"\x01" * (len(keys) + 1)
    for byte in range(8):
        records[1 + byte::9] = packed[byte::8]
    return bytes(records)


def pull_snapshot(port):
    """The head fields and body of one snapshot pull on a new connection."""
    with socket.create_connection(("127.0.0.1", port), timeout=60) as sock:
        sock.sendall(PULL)
        data = b""
        while b"\r\n\r\n" not in data:
            data += sock.recv(65536)
        head, body = data.split(b"\r\n\r\n", 1)
        fields = dict(line.split(b": ", 1) for line in head.split(b"\r\n")[1:])
        length = int(fields[b"Content-Length"])
        view = bytearray(length)
        view[:len(body)] = body
        got = len(body)
        while got < length:
            n = sock.recv_into(memoryview(view)[got:], length - got)
            if n == 0:
                break
            got += n
        return head.split(b"\r\n")[0], fields, bytes(view[:got])


class SharedSnapshotTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="vssnapshot")
        # Spread over the whole signed range, ascending, negative ones first.
        step = 2**64 // KEYS
        cls.keys = list(range(-2**63 + 12345, 2**63 - 1, step))[:KEYS]
        cls.server = Server(cls.home)
        write_whitelist(cls.server.folder, cls.keys)
        saved = dict(os.environ)
        os.environ["VANTORSYNC_BUFFER_BUDGET_MB"] = str(BUDGET_MB)
        try:
            cls.server.start()
        finally:
            os.environ.clear()
            os.environ.update(saved)

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.home, ignore_errors=True)

    def pull_at_once(self, clients):
        answers = [None] * clients
        barrier = threading.Barrier(clients)

        def pull(i):
            barrier.wait()
            status, fields, body = pull_snapshot(self.server.port)
            answers[i] = status, fields, hashlib.sha256(body).digest()

        threads = [threading.Thread(target=pull, args=(i,)) for i in range(clients)]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join(timeout=120)
        return answers

    def test_1_concurrent_pulls_share_one_correct_snapshot_and_a_push_renews_it(self):
        expected = hashlib.sha256(snapshot_of(self.keys)).digest()
        answers = self.pull_at_once(64)
        for status, fields, digest in answers:
            self.assertEqual(status, b"HTTP/1.1 200 OK")
            self.assertEqual(fields[b"newIndex"], b"%d" % len(self.keys))
            self.assertEqual(digest, expected, "a snapshot answer differs from the keys")
        # A new key between two pulls: the next snapshot has it and the index after it.
        status, new_index, _ = self.server.request(
            "POST", "/post_wl_updates", body=struct.pack("<Bq", 1, 7))
        self.assertEqual((status, new_index), (200, str(len(self.keys) + 1)))
        status, fields, body = pull_snapshot(self.server.port)
        self.assertEqual(fields[b"newIndex"], b"%d" % (len(self.keys) + 1))
        self.assertTrue(body == snapshot_of(sorted(self.keys + [7])), "no new snapshot after a push")

    def test_2_readers_that_never_read_stay_within_the_budget(self):
        size = 9 * (len(self.keys) + 2)
        baseline = resident_kib(self.server.proc.pid)
        readers = []
        for _ in range(60):
            sock = socket.create_connection(("127.0.0.1", self.server.port), timeout=30)
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
            sock.sendall(PULL)
            readers.append(sock)
        peak = 0
        for _ in range(30):
            peak = max(peak, resident_kib(self.server.proc.pid))
            time.sleep(0.05)
        began = time.monotonic()
        status, new_index, _ = self.server.request(
            "POST", "/post_wl_updates", body=struct.pack("<Bq", 1, 8), timeout=10)
        self.assertEqual(status, 200)
        self.assertLess(time.monotonic() - began, 10)
        peak = max(peak, resident_kib(self.server.proc.pid))
        # All of them were admitted: the snapshot is counted once, not once per reader.
        for sock in readers:
            self.assertTrue(sock.recv(15).startswith(b"HTTP/1.1 200"))
            sock.close()
        # Measured over the server's size before the pulls, which the sanitizers inflate.
        limit = BUDGET_MB * 1024 + size // 1024 + MARGIN_MB * 1024
        self.assertLessEqual(peak - baseline, limit,
                             "resident size grew %d KiB, limit %d KiB" % (peak - baseline, limit))


if __name__ == "__main__":
    common.SERVER = sys.argv.pop(1)
    unittest.main(verbosity=2)
