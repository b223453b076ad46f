#!/usr/bin/env python3
"""Bad input from the network and in the data folder against the real server program:
each kind gets a defined answer, and the server keeps serving well-formed clients.
Usage: bad_input_test.py <VantorSyncSvc program>
"""
import os
import shutil
import socket
import struct
import sys
import tempfile
import unittest

import crash_durability_test as common
from crash_durability_test import Server, descriptor, parse_descriptors, wl_record

FAILURE = b"HTTP/1.1 500 Request failed"


def exchange(port, data, read_timeout=2.0):
    """Sends data (stopping early if the server closes) and returns (answer, closed)."""
    with socket.create_connection(("127.0.0.1", port), timeout=30) as s:
        try:
            for at in range(0, len(data), 1 << 16):
                s.sendall(data[at:at + (1 << 16)])
        except (BrokenPipeError, ConnectionResetError):
            pass
        s.settimeout(read_timeout)
        chunks = []
        try:
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    return b"".join(chunks), True
                chunks.append(chunk)
        except socket.timeout:
            return b"".join(chunks), False
        except ConnectionResetError:
            return b"".join(chunks), True


def request(method, path, body=b"", fields=None):
    head = "%s %s HTTP/1.1\r\nHost: t\r\n" % (method, path)
    for name, value in (fields or {}).items():
        head += "%s: %s\r\n" % (name, value)
    if body:
        head += "Content-Length: %d\r\n" % len(body)
    return head.encode() + b"\r\n" + body


class BadInputTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="vsbad")
        cls.server = Server(cls.home).start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.home, ignore_errors=True)

    def tearDown(self):
        # Whatever came before, the server still answers a well-formed client.
        self.assertIsNone(self.server.proc.poll(), "the server died")
        status, _, body = self.server.request("GET", "/version")
        self.assertEqual(status, 200)

    def assertClosedWithoutAnswer(self, data):
        answer, closed = exchange(self.server.port, data)
        self.assertTrue(closed, "the connection stayed open")
        self.assertEqual(answer, b"")

    def test_endless_head_is_cut_off(self):
        self.assertClosedWithoutAnswer(b"GET /version HTTP/1.1\r\nX: " + b"a" * (1100 * 1024))

    def test_body_larger_than_any_buffer_is_refused_at_once(self):
        # Refused on the head alone: the server does not wait for 200 MB that never come.
        self.assertClosedWithoutAnswer(
            b"POST /post_wl_updates HTTP/1.1\r\nContent-Length: 200000000\r\n\r\nabc")

    def test_malformed_chunk_sizes_close_the_connection(self):
        for size in (b"-5", b"fffffffffffffffff", b"+1"):
            with self.subTest(size=size):
                self.assertClosedWithoutAnswer(
                    b"POST /post_wl_updates HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\n" +
                    size + b"\r\nabcde\r\n0\r\n\r\n")

    def test_unknown_path_gets_the_failure_answer_and_a_close(self):
        answer, closed = exchange(self.server.port, request("GET", "/etc/passwd"))
        self.assertTrue(answer.startswith(FAILURE))
        self.assertTrue(closed)

    def test_garbage_request_line_gets_the_failure_answer(self):
        answer, closed = exchange(self.server.port, b"\x00\xff\xfe garbage\r\n\r\n")
        self.assertTrue(answer.startswith(FAILURE))
        self.assertTrue(closed)

    def test_partial_whitelist_record_is_ignored(self):
        status, new_index, _ = self.server.request("GET", "/get_wl_updates",
                                                   headers={"startIndex": "0"})
        before = int(new_index)
        status, new_index, _ = self.server.request(
            "POST", "/post_wl_updates", wl_record(1, 777001) + b"\x01\x02\x03\x04")
        self.assertEqual((status, int(new_index)), (200, before + 1))

    def test_descriptor_with_too_many_values_ends_the_push(self):
        end, _ = self.server.pull("/get_ts_updates")
        oversized = struct.pack("<IiI", 1, 1, 10001) + b"\0" * 8 * 10001
        body = descriptor(4, [888001, 888002]) + oversized + descriptor(4, [888003])
        status, new_index, _ = self.server.request("POST", "/post_ts_updates", body)
        self.assertEqual((status, int(new_index)), (200, end + 1))
        _, pulled = self.server.pull("/get_ts_updates", end)
        self.assertEqual([values for _, _, values in parse_descriptors(pulled)],
                         [(888001, 888002)])

    def test_descriptor_cut_short_ends_the_push(self):
        end, _ = self.server.pull("/get_ts_updates")
        status, new_index, _ = self.server.request(
            "POST", "/post_ts_updates", descriptor(4, [889001]) + descriptor(4, [889002])[:-3])
        self.assertEqual((status, int(new_index)), (200, end + 1))

    def test_request_without_user_host_gets_an_empty_answer(self):
        answer, _ = exchange(self.server.port, b"GET /get_wl_updates HTTP/1.1\r\n"
                                               b"startIndex: 0\r\n\r\n", read_timeout=1)
        self.assertTrue(answer.startswith(b"HTTP/1.1 200"))
        self.assertTrue(answer.endswith(b"\r\n\r\n"), "a denied pull carries no body")

    def test_start_index_that_is_no_number_reads_as_zero(self):
        _, _, by_text = self.server.request("GET", "/get_wl_updates",
                                            headers={"startIndex": "abc"})
        _, _, by_zero = self.server.request("GET", "/get_wl_updates",
                                            headers={"startIndex": "0"})
        self.assertEqual(by_text, by_zero)

    def test_many_bad_connections_in_a_row(self):
        for i in range(200):
            exchange(self.server.port, os.urandom(64 + i) + b"\r\n\r\n", read_timeout=0.2)


class BadFilesTest(unittest.TestCase):
    def test_torn_and_foreign_store_files_are_loaded_as_far_as_they_are_whole(self):
        home = tempfile.mkdtemp(prefix="vsbadfiles")
        try:
            server = Server(home)
            whole = descriptor(3, [1, 2, 3]) + descriptor(4, [9])
            files = {
                "histdata.bin": whole + descriptor(5, [7, 8])[:-5],  # a torn last record
                "histdata.bin.fm": os.urandom(100),                  # an index of nonsense
                "histopt.bin": b"\x01",                              # numbering cut short
                "whitelist.bin": struct.pack("<3q", 30, 10, 20) + b"\x01\x02",
                "whitelist_h.bin": struct.pack("<I", 2) + wl_record(1, 10) + b"\x00\x01",
            }
            for name, data in files.items():
                with open(os.path.join(server.folder, name), "wb") as f:
                    f.write(data)
            server.start()
            try:
                end, pulled = server.pull("/get_ts_updates")
                self.assertEqual(pulled, whole)
                self.assertEqual(end, 2)
                # The torn tail is gone: the next record follows the last whole one.
                status, new_index, _ = server.request("POST", "/post_ts_updates",
                                                      descriptor(6, [5]))
                self.assertEqual((status, int(new_index)), (200, 3))
                self.assertEqual(server.pull("/get_ts_updates", 2)[1], descriptor(6, [5]))

                end, snapshot = server.pull("/get_wl_updates", 0)
                self.assertEqual(end, 3)
                self.assertEqual(snapshot, wl_record(1, -1) + b"".join(
                    wl_record(1, k) for k in (10, 20, 30)))
            finally:
                server.stop()
        finally:
            shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    common.SERVER = sys.argv.pop(1)
    unittest.main(verbosity=2)
