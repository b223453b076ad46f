#!/usr/bin/env python3
"""The metrics listener of the real server program, read by an independent parser.

Each test starts VantorSyncSvc -Foreground in a private data folder on a free sync
port, scrapes /metrics with http.client, parses the text with prometheus_client's
parser (a stricter reader than ours would be) and checks that counters move as sync
requests are made, and that the sync port answers as it always did.
"""
import os
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from sync_wire import descriptor, free_port, http_request, wl_record  # noqa: E402

from prometheus_client.parser import text_string_to_metric_families  # noqa: E402

SERVER = None  # set from argv


class Server:
    def __init__(self, home, args=(), env_extra=None):
        self.folder = os.path.join(home, "VantorSyncSvc")
        os.makedirs(self.folder)
        self.port = free_port()
        with open(os.path.join(self.folder, "config.xml"), "wb") as f:
            f.write(b"<config><port>%d</port></config>" % self.port)
        env = dict(os.environ, XDG_CONFIG_HOME=home, HOME=home, VANTORSYNC_BUS="none")
        env.pop("VANTORSYNC_METRICS", None)
        env.update(env_extra or {})
        self.proc = subprocess.Popen([SERVER, "-Foreground"] + list(args), env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                     text=True)
        self.lines = [self.proc.stdout.readline(), self.proc.stdout.readline()]
        assert "listening on port %d" % self.port in self.lines[0], self.lines
        found = re.search(r"metrics on http://([0-9.]+):(\d+)/metrics", self.lines[1])
        self.metrics_port = int(found.group(2)) if found else None

    def stop(self):
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            self.proc.wait(timeout=30)
        self.proc.stdout.close()

    def sync(self, method, path, body=b"", headers=None):
        return http_request(self.port, method, path, body, headers)

    def scrape(self):
        response, body = http_request(self.metrics_port, "GET", "/metrics")
        assert response.status == 200, response.status
        assert response.getheader("Content-Type").startswith("text/plain; version=0.0.4")
        return body.decode()


def samples(text):
    """(name, frozenset of labels) -> value, through the independent parser."""
    found = {}
    for family in text_string_to_metric_families(text):
        for sample in family.samples:
            found[(sample.name, frozenset(sample.labels.items()))] = sample.value
    return found


def value(found, name, **labels):
    return found.get((name, frozenset(labels.items())), 0.0)


class MetricsTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="vsmetrics")
        self.server = None

    def tearDown(self):
        if self.server:
            self.server.stop()
        shutil.rmtree(self.home, ignore_errors=True)

    def test_counters_move_with_sync_requests_and_the_text_parses(self):
        self.server = Server(self.home, ["-Metrics=127.0.0.1:0"])
        self.assertIsNotNone(self.server.metrics_port, self.server.lines)
        before = samples(self.server.scrape())
        self.assertEqual(value(before, "vantorsync_open_connections"), 0)
        build = [key for key in before if key[0] == "vantorsync_build_info"]
        self.assertEqual(len(build), 1)
        self.assertRegex(dict(build[0][1])["version"], r"^\d+\.\d+\.\d+$")

        records = [wl_record(1, 11), wl_record(1, 22), wl_record(1, 33)]
        push_body = b"".join(records)
        response, body = self.server.sync("POST", "/post_wl_updates", push_body,
                                          {"User-Host": "ws1"})
        self.assertEqual((response.status, response.getheader("newIndex")), (200, "3"))
        response, _ = self.server.sync("GET", "/get_wl_updates", b"",
                                       {"User-Host": "ws1", "startIndex": "0"})
        self.assertEqual(response.status, 200)
        self.server.sync("POST", "/post_ts_updates", descriptor(1, [5, 6, 7]),
                         {"User-Host": "ws1"})
        response, body = self.server.sync("GET", "/version")
        self.assertEqual((response.status, body), (200, b"1.0"))  # the sync port as before
        response, _ = self.server.sync("GET", "/nowhere")
        self.assertEqual(response.status, 500)

        after = samples(self.server.scrape())
        requests = "vantorsync_http_requests_total"
        self.assertEqual(value(after, requests, endpoint="/post_wl_updates", status="200"), 1)
        self.assertEqual(value(after, requests, endpoint="/get_wl_updates", status="200"), 1)
        self.assertEqual(value(after, requests, endpoint="/version", status="200"), 1)
        self.assertEqual(value(after, requests, endpoint="other", status="500"), 1)
        self.assertGreaterEqual(value(after, "vantorsync_http_received_bytes_total"),
                                len(push_body))
        self.assertGreater(value(after, "vantorsync_http_sent_bytes_total"),
                           value(before, "vantorsync_http_sent_bytes_total"))
        ops = "vantorsync_sync_operations_total"
        self.assertEqual(value(after, ops, collection="whitelist", operation="push",
                               result="ok"), 1)
        self.assertEqual(value(after, ops, collection="whitelist", operation="pull",
                               result="ok"), 1)
        self.assertEqual(value(after, ops, collection="training_db", operation="push",
                               result="ok"), 1)
        self.assertEqual(value(after, "vantorsync_store_keys", collection="whitelist"), 3)
        self.assertEqual(value(after, "vantorsync_store_history_entries",
                               collection="whitelist"), 3)
        self.assertEqual(value(after, "vantorsync_store_history_entries",
                               collection="training_db"), 1)
        self.assertEqual(value(after, "vantorsync_store_descriptors",
                               collection="training_db"), 1)
        self.assertEqual(value(after, "vantorsync_store_file_bytes", file="whitelist.bin"),
                         os.path.getsize(os.path.join(self.server.folder, "whitelist.bin")))
        saves = "vantorsync_store_save_seconds_count"
        self.assertEqual(value(after, saves, collection="whitelist"), 1)
        self.assertEqual(value(after, saves, collection="training_db"), 1)
        self.assertEqual(value(after, "vantorsync_store_save_seconds_bucket",
                               collection="whitelist", le="+Inf"), 1)
        for reason in ("timeout", "budget"):
            self.assertIn(("vantorsync_requests_closed_total", frozenset({"reason": reason}.items())),
                          after)

    def test_open_connections_follow_the_clients(self):
        import socket
        self.server = Server(self.home, ["-Metrics=127.0.0.1:0"])
        clients = [socket.create_connection(("127.0.0.1", self.server.port)) for _ in range(3)]
        try:
            # A request on each proves the server has taken every connection.
            for client in clients:
                client.sendall(b"GET /version HTTP/1.1\r\nHost: x\r\n\r\n")
                self.assertIn(b"200 OK", client.recv(4096))
            self.assertEqual(value(samples(self.server.scrape()), "vantorsync_open_connections"),
                             3)
        finally:
            for client in clients:
                client.close()

    def test_environment_turns_it_on_and_nothing_does_by_default(self):
        self.server = Server(self.home, env_extra={"VANTORSYNC_METRICS": "127.0.0.1:0"})
        self.assertIsNotNone(self.server.metrics_port, self.server.lines)
        response, _ = http_request(self.server.metrics_port, "GET", "/elsewhere")
        self.assertEqual(response.status, 404)
        response, _ = http_request(self.server.metrics_port, "POST", "/metrics", b"x")
        self.assertEqual(response.status, 405)
        self.server.stop()

        quiet = os.path.join(self.home, "quiet")
        os.makedirs(quiet)
        self.server = Server(quiet)
        self.assertIsNone(self.server.metrics_port)
        self.assertNotIn("metrics", self.server.lines[1])

    def test_time_outs_and_budget_refusals_are_counted(self):
        import socket
        self.server = Server(self.home, ["-Metrics=127.0.0.1:0"],
                             {"VANTORSYNC_REQUEST_TIMEOUT": "0.2",
                              "VANTORSYNC_BUFFER_BUDGET_MB": "1"})
        # Half a head, then silence: the server gives up on it and closes.
        slow = socket.create_connection(("127.0.0.1", self.server.port))
        slow.sendall(b"GET /version HTTP/1.1\r\n")
        slow.settimeout(60)
        self.assertEqual(slow.recv(100), b"")
        slow.close()
        # A body larger than the whole budget is refused with the failure answer.
        big = socket.create_connection(("127.0.0.1", self.server.port))
        declared = 8 * 1024 * 1024
        big.sendall(b"POST /post_wl_updates HTTP/1.1\r\nUser-Host: ws1\r\n"
                    b"Content-Length: %d\r\n\r\n" % declared + b"\x01" * 65536)
        big.settimeout(60)
        self.assertTrue(big.recv(100).startswith(b"HTTP/1.1 500 Request failed"))
        big.close()
        found = samples(self.server.scrape())
        self.assertEqual(value(found, "vantorsync_requests_closed_total", reason="timeout"), 1)
        self.assertEqual(value(found, "vantorsync_requests_closed_total", reason="budget"), 1)

    def test_unusable_address_leaves_the_sync_server_running(self):
        self.server = Server(self.home, ["-Metrics=127.0.0.1:99999"])
        self.assertIsNone(self.server.metrics_port)
        self.assertIn("running without metrics", self.server.lines[1])
        response, body = self.server.sync("GET", "/version")
        self.assertEqual((response.status, body), (200, b"1.0"))


if __name__ == "__main__":
    SERVER = sys.argv.pop(1)
    unittest.main(verbosity=2)
