#!/usr/bin/env python3
"""End-to-end tests of the sync server program against real clients.

Each test starts build/bin/VantorSyncSvc -Foreground in a private data folder
on a free port and talks to it with Python's http.client, raw sockets and curl.
"""
import os
import random
import re
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import xml.etree.ElementTree as ElementTree

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from sync_wire import (config_text, descriptor, free_port, http_request,  # noqa: E402
                       send_and_read, wl_record)

SERVER = None  # set from argv


class Server:
    """One server process with its own data folder (XDG_CONFIG_HOME)."""

    def __init__(self, home, port=None, config_extra="", write_config=True):
        self.home = home
        self.folder = os.path.join(home, "VantorSyncSvc")
        os.makedirs(self.folder, exist_ok=True)
        self.port = port or free_port()
        if write_config:
            with open(self.path("config.xml"), "wb") as f:
                f.write(config_text(self.port, config_extra).encode())
        self.proc = None
        self.banner = ""

    def path(self, name):
        return os.path.join(self.folder, name)

    def start(self, expect_listening=True):
        env = dict(os.environ, XDG_CONFIG_HOME=self.home, VANTORSYNC_BUS="none",
                   HOME=self.home)
        self.proc = subprocess.Popen([SERVER, "-Foreground"], env=env, stdout=subprocess.PIPE,
                                     stderr=subprocess.STDOUT, text=True)
        self.banner = self.proc.stdout.readline()
        if expect_listening and "listening on port %d" % self.port not in self.banner:
            raise AssertionError("server did not start: %r" % self.banner)
        return self

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
            code = self.proc.wait(timeout=30)
            self.proc.stdout.close()
            return code
        return None

    def kill(self):
        self.proc.kill()
        self.proc.wait(timeout=30)
        self.proc.stdout.close()

    def request(self, method, path, body=b"", headers=None):
        return http_request(self.port, method, path, body, headers)

    def raw(self, request_bytes):
        """Sends bytes, returns everything until the server closes or goes quiet."""
        return send_and_read(self.port, [request_bytes])


class ServerTest(unittest.TestCase):
    config_extra = ""

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="vssvc")
        self.server = Server(self.home, config_extra=self.config_extra).start()

    def tearDown(self):
        if self.server.proc.poll() is None:
            self.server.stop()
        shutil.rmtree(self.home, ignore_errors=True)

    def push_wl(self, records, host="ws1"):
        return self.server.request("POST", "/post_wl_updates", b"".join(records),
                                   {"User-Host": host})

    def pull_wl(self, start, host="ws1"):
        return self.server.request("GET", "/get_wl_updates", b"",
                                   {"User-Host": host, "startIndex": str(start)})

    def log_lines(self):
        """Stops the server (a clean stop writes every held line) and reads all day files."""
        self.server.stop()
        lines = []
        for name in sorted(os.listdir(self.server.folder)):
            if name.endswith(".log"):
                with open(self.server.path(name), "rb") as f:
                    lines += f.read().split(b"\r\n")[:-1]
        return lines


class ProtocolTest(ServerTest):
    def test_version_answers_without_access_check_or_log(self):
        for method in ("GET", "POST", "FETCH"):
            response, body = self.server.request(method, "/version", b"ignored")
            self.assertEqual((response.status, body), (200, b"1.0"))
        raw = self.server.raw(b"GET /VERSION HTTP/1.1\r\nHost: x\r\n\r\n")
        self.assertEqual(raw, b"HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\n1.0")
        self.assertEqual(self.log_lines(), [])

    def test_whitelist_push_and_pull_exact_bytes(self):
        body = wl_record(1, 5) + wl_record(1, -3) + b"\x01\x02"  # trailing partial record
        raw = self.server.raw(b"POST /post_wl_updates HTTP/1.1\r\nUser-Host: ws1\r\n"
                              b"Content-Length: %d\r\n\r\n" % len(body) + body)
        self.assertEqual(raw, b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nnewIndex: 2\r\n\r\n")
        raw = self.server.raw(b"GET /get_wl_updates HTTP/1.1\r\nUser-Host: ws1\r\n"
                              b"startIndex: 0\r\n\r\n")
        self.assertEqual(raw, b"HTTP/1.1 200 OK\r\nnewIndex: 2\r\nContent-Length: 18\r\n\r\n" +
                         wl_record(1, 5) + wl_record(1, -3))
        response, data = self.pull_wl(2)
        self.assertEqual((data, response.getheader("newIndex")), (b"", "2"))
        # A start index of -1 is 4294967295: ahead of the end, so everything held, no marker.
        response, data = self.pull_wl(-1)
        self.assertEqual(data, wl_record(1, 5) + wl_record(1, -3))
        # A push without a whole record answers index 0.
        response, data = self.push_wl([b"\x01" * 8])
        self.assertEqual(response.getheader("newIndex"), "0")

    def test_access_denied_echoes_start_index(self):
        response, data = self.server.request("GET", "/get_wl_updates", b"",
                                             {"startIndex": "57abc"})
        self.assertEqual((response.status, data, response.getheader("newIndex")),
                         (200, b"", "57abc"))
        response, data = self.server.request("POST", "/post_wl_updates", wl_record(1, 9), {})
        self.assertEqual((response.status, response.getheader("newIndex")), (200, None))
        response, data = self.pull_wl(0)
        self.assertEqual(data, b"")  # the denied push stored nothing

    def test_training_db_push_and_pull(self):
        d1 = descriptor(7, [1, 2, 3])
        d2 = descriptor(8, [10, 20])
        response, _ = self.server.request("POST", "/post_ts_updates", d1 + d2,
                                          {"User-Host": "ws1"})
        self.assertEqual((response.status, response.getheader("newIndex")), (200, "2"))
        response, data = self.server.request("GET", "/get_ts_updates", b"",
                                             {"User-Host": "ws1", "startIndex": "0"})
        self.assertEqual((data, response.getheader("newIndex")), (d1 + d2, "2"))
        response, data = self.server.request("GET", "/get_ts_updates", b"",
                                             {"User-Host": "ws1", "startIndex": "1"})
        self.assertEqual(data, d2)

    def test_unknown_path_gets_failure_and_close(self):
        raw = self.server.raw(b"GET /versions HTTP/1.1\r\n\r\n")
        self.assertEqual(raw, b"HTTP/1.1 500 Request failed\r\nContent-Type: text/html\r\n"
                              b"Connection: close\r\nContent-Length: 0\r\n\r\n")

    def test_log_line_per_collection_request(self):
        self.push_wl([wl_record(1, 1), wl_record(1, 2)])
        self.pull_wl(0, host="other")
        lines = self.log_lines()
        self.assertEqual(len(lines), 2)
        self.assertRegex(lines[0].decode(),
                         r"^\d\d:\d\d:\d\d 127\.0\.0\.1 ws1 POST /post_wl_updates 200 18 0$")
        self.assertRegex(lines[1].decode(),
                         r"^\d\d:\d\d:\d\d 127\.0\.0\.1 other GET /get_wl_updates 200 0 18$")

    def test_log_follows_a_rotated_file(self):
        self.push_wl([wl_record(1, 1)])
        day = None
        deadline = time.time() + 30
        while time.time() < deadline:  # lines reach the file in batches, shortly after
            names = [n for n in os.listdir(self.server.folder) if n.endswith(".log")]
            if names and os.path.getsize(self.server.path(names[0])) > 0:
                day = names[0]
                break
            time.sleep(0.05)
        self.assertIsNotNone(day)
        os.rename(self.server.path(day), self.server.path("rotated.1"))
        pulls = 0
        deadline = time.time() + 30
        while time.time() < deadline and not os.path.exists(self.server.path(day)):
            self.pull_wl(0)  # until the server notices the move and starts a new file
            pulls += 1
            time.sleep(0.02)
        self.assertTrue(os.path.exists(self.server.path(day)))
        new_lines = self.log_lines()  # stops the server: held lines are written
        with open(self.server.path("rotated.1"), "rb") as f:
            old_lines = f.read().split(b"\r\n")[:-1]
        self.assertIn(b" POST /post_wl_updates 200 9 0", old_lines[0])
        self.assertTrue(new_lines)
        self.assertEqual(len(old_lines) + len(new_lines), 1 + pulls)  # none lost
        for line in old_lines[1:] + new_lines:
            self.assertIn(b" GET /get_wl_updates 200 0 9", line)

    def test_curl_push_and_pull(self):
        curl = shutil.which("curl")
        if not curl:
            self.skipTest("curl missing")
        body_file = os.path.join(self.home, "body.bin")
        with open(body_file, "wb") as f:
            f.write(b"".join(wl_record(1, k) for k in range(20000)))  # large: Expect: 100-continue
        out = subprocess.run([curl, "-s", "-i", "--data-binary", "@" + body_file,
                              "-H", "User-Host: ws1", "-H", "Content-Type:",
                              "http://127.0.0.1:%d/post_wl_updates" % self.server.port],
                             capture_output=True, timeout=60)
        self.assertIn(b"newIndex: 20000", out.stdout)
        out = subprocess.run([curl, "-s", "-H", "User-Host: ws1", "-H", "startIndex: 19999",
                              "http://127.0.0.1:%d/get_wl_updates" % self.server.port],
                             capture_output=True, timeout=60)
        self.assertEqual(out.stdout, wl_record(1, 19999))


class AccessListTest(ServerTest):
    config_extra = ("  <default_acl enabled_get=\"1\" enabled_post=\"0\"/>\r\n"
                    "  <access_list>\r\n\t\t<acl host=\"ws1\" enabled_get=\"0\" enabled_post=\"1\"/>"
                    "\r\n  </access_list>\r\n")

    def test_exact_host_match_and_default_rights(self):
        response, _ = self.push_wl([wl_record(1, 4)], host="ws1")
        self.assertEqual(response.getheader("newIndex"), "1")
        response, data = self.pull_wl(0, host="ws1")  # ws1 may not pull
        self.assertEqual((data, response.getheader("newIndex")), (b"", "0"))
        response, data = self.pull_wl(0, host="WS1")  # another host: default rights
        self.assertEqual(data, wl_record(1, 4))
        response, _ = self.push_wl([wl_record(1, 5)], host="WS1")
        self.assertEqual(response.getheader("newIndex"), None)


class SwitchedOffTest(ServerTest):
    config_extra = "  <common_training_db_enabled>0</common_training_db_enabled>\r\n"

    def test_switched_off_collection_fails_and_logs(self):
        raw = self.server.raw(b"GET /get_ts_updates HTTP/1.1\r\nUser-Host: ws1\r\n\r\n")
        self.assertTrue(raw.startswith(b"HTTP/1.1 500 Request failed\r\n"))
        response, data = self.pull_wl(0)
        self.assertEqual(response.status, 200)
        lines = self.log_lines()
        self.assertEqual(len(lines), 2)
        self.assertIn(b" GET /get_ts_updates 200 0 0", lines[0])


class LoggingSwitchedOffTest(ServerTest):
    config_extra = "  <log_enabled>0</log_enabled>\r\n"

    def test_no_access_lines_while_logging_is_off(self):
        self.push_wl([wl_record(1, 1)])
        response, data = self.pull_wl(0)
        self.assertEqual(data, wl_record(1, 1))
        self.assertEqual(self.log_lines(), [])
        self.assertEqual([n for n in os.listdir(self.server.folder) if n.endswith(".log")], [])


class TrimmedCollectionsTest(ServerTest):
    config_extra = ("  <common_whitelist_max_size>3</common_whitelist_max_size>\r\n"
                    "  <common_training_db_max_size>3</common_training_db_max_size>\r\n")

    def test_each_push_trims_to_the_configured_maximum(self):
        response, _ = self.push_wl([wl_record(1, k) for k in range(1, 6)])
        self.assertEqual(response.getheader("newIndex"), "5")
        _, data = self.pull_wl(2)
        self.assertEqual(data, b"".join(wl_record(1, k) for k in (3, 4, 5)))
        # Index 0 now lies before the held history: a reset marker and the whole set.
        _, data = self.pull_wl(0)
        self.assertNotEqual(data, b"".join(wl_record(1, k) for k in range(1, 6)))
        self.assertEqual(len(data), 9 * 6)

        descriptors = [descriptor(k, [k * 10]) for k in range(1, 6)]
        response, _ = self.server.request("POST", "/post_ts_updates", b"".join(descriptors),
                                          {"User-Host": "ws1"})
        self.assertEqual(response.getheader("newIndex"), "5")
        response, data = self.server.request("GET", "/get_ts_updates", b"",
                                             {"User-Host": "ws1", "startIndex": "0"})
        self.assertEqual(data, b"".join(descriptors[2:]))


class StartupChecksTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="vssvc")

    def tearDown(self):
        shutil.rmtree(self.home, ignore_errors=True)

    def run_server(self, env, cwd):
        return subprocess.run([SERVER, "-Foreground"], env=env, cwd=cwd, capture_output=True,
                              text=True, timeout=60)

    def test_port_zero_or_no_digits_is_refused(self):
        for text in ("0", "abc"):
            server = Server(self.home, config_extra="  <port>%s</port>\r\n" % text)
            server.start(expect_listening=False)
            # Without a management interface nothing could start the server later, so the
            # process ends with an error instead of running with nothing to serve.
            code = server.proc.wait(timeout=30)
            rest = server.proc.stdout.read()
            server.proc.stdout.close()
            self.assertIn("HTTP server not started: port 0 is outside 1-65535", server.banner)
            self.assertEqual(code, 1, rest)
            self.assertIn("nothing would ever be served", rest)

    def test_no_absolute_data_folder_is_refused_and_nothing_written_here(self):
        cwd = os.path.join(self.home, "cwd")
        os.makedirs(cwd)
        base = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "VANTORSYNC_BUS": "none"}
        for extra in ({}, {"XDG_CONFIG_HOME": "rel", "XDG_DATA_HOME": "rel2", "HOME": "home"}):
            result = self.run_server(dict(base, **extra), cwd)
            self.assertEqual(result.returncode, 2, result.stdout)
            self.assertIn("no data folder", result.stderr)
            self.assertEqual(os.listdir(cwd), [])

    def test_store_file_that_cannot_be_read_stops_the_start(self):
        server = Server(self.home)
        server.start()
        response, _ = server.request("POST", "/post_wl_updates", wl_record(1, 7),
                                     {"User-Host": "ws1"})
        self.assertEqual(response.status, 200)
        self.assertEqual(server.stop(), 0)
        with open(server.path("whitelist_h.bin"), "rb") as f:
            history = f.read()
        # A folder where the key file belongs fails its open even for root.
        os.rename(server.path("whitelist.bin"), server.path("keys.saved"))
        os.mkdir(server.path("whitelist.bin"))
        env = dict(os.environ, XDG_CONFIG_HOME=self.home, VANTORSYNC_BUS="none", HOME=self.home)
        result = self.run_server(env, self.home)
        self.assertEqual(result.returncode, 2, result.stdout)
        self.assertIn("common whitelist in %s/ cannot be loaded" % server.folder, result.stderr)
        with open(server.path("whitelist_h.bin"), "rb") as f:
            self.assertEqual(f.read(), history)

    def test_relative_xdg_values_are_ignored(self):
        cwd = os.path.join(self.home, "cwd")
        os.makedirs(cwd)
        port = free_port()
        folder = os.path.join(self.home, ".config", "VantorSyncSvc")
        os.makedirs(folder)
        with open(os.path.join(folder, "config.xml"), "wb") as f:
            f.write(config_text(port).encode())
        env = dict(os.environ, HOME=self.home, XDG_CONFIG_HOME="cfg", VANTORSYNC_BUS="none")
        proc = subprocess.Popen([SERVER, "-Foreground"], env=env, cwd=cwd,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        banner = proc.stdout.readline()
        proc.send_signal(signal.SIGTERM)
        self.assertEqual(proc.wait(timeout=30), 0)
        proc.stdout.close()
        self.assertIn("data folder %s/," % folder, banner)
        self.assertEqual(os.listdir(cwd), [])

    def test_malformed_config_is_replaced_at_start(self):
        server = Server(self.home, write_config=False)
        broken = ("<?xml version=\"1.0\"?>\r\n<config>\r\n  <port>%d</port>\r\n"
                  "  <log_file_lifetime>4</log_file_lifetime>\r\n</wrong>" % server.port)
        with open(server.path("config.xml"), "w") as f:
            f.write(broken)
        server.start()
        try:
            with open(server.path("config.xml"), "rb") as f:
                text = f.read()
            self.assertNotEqual(text, broken.encode())
            self.assertIn(b"<log_file_lifetime>4</log_file_lifetime>", text)
            self.assertTrue(text.endswith(b"</config>"))
            ElementTree.parse(server.path("config.xml"))
        finally:
            self.assertEqual(server.stop(), 0)


class LifecycleTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="vssvc")

    def tearDown(self):
        shutil.rmtree(self.home, ignore_errors=True)

    def test_first_start_writes_defaults_and_creates_store_files(self):
        server = Server(self.home, write_config=False).start(expect_listening=False)
        try:
            expected_files = {"config.xml", "whitelist.bin", "whitelist_h.bin", "histdata.bin",
                              "histdata.bin.fm", "histopt.bin"}
            with open(server.path("config.xml"), "rb") as f:
                text = f.read()
            self.assertTrue(text.startswith(b"<?xml version=\"1.0\" encoding=\"UTF-8\" "
                                            b"standalone=\"yes\"?>\r\n<config>\r\n"
                                            b"  <port>17080</port>\r\n"))
            self.assertTrue(text.endswith(b"</config>"))
        finally:
            self.assertEqual(server.stop(), 0)
        self.assertTrue(expected_files.issubset(set(os.listdir(server.folder))),
                        os.listdir(server.folder))

    def test_restart_keeps_both_stores_and_indexes(self):
        server = Server(self.home).start()
        server.request("POST", "/post_wl_updates", wl_record(1, 11) + wl_record(1, 12),
                       {"User-Host": "a"})
        server.request("POST", "/post_ts_updates", descriptor(1, [5, 6]), {"User-Host": "a"})
        self.assertEqual(server.stop(), 0)
        server = Server(self.home, port=server.port, write_config=False).start()
        try:
            response, data = server.request("GET", "/get_wl_updates", b"",
                                            {"User-Host": "a", "startIndex": "1"})
            self.assertEqual((data, response.getheader("newIndex")), (wl_record(1, 12), "2"))
            response, data = server.request("GET", "/get_ts_updates", b"",
                                            {"User-Host": "a", "startIndex": "0"})
            self.assertEqual((data, response.getheader("newIndex")), (descriptor(1, [5, 6]), "1"))
        finally:
            server.stop()

    def test_acknowledged_pushes_survive_kill(self):
        server = Server(self.home).start()
        acknowledged = []
        stop = threading.Event()

        def pusher(base):
            key = base
            while not stop.is_set():
                try:
                    response, _ = server.request("POST", "/post_wl_updates", wl_record(1, key),
                                                 {"User-Host": "a"})
                    if response.status == 200:
                        acknowledged.append(key)
                    key += 1
                except OSError:
                    return

        threads = [threading.Thread(target=pusher, args=(n * 1000000,)) for n in range(3)]
        for t in threads:
            t.start()
        time.sleep(random.uniform(0.5, 1.5))
        server.kill()
        stop.set()
        for t in threads:
            t.join()
        self.assertGreater(len(acknowledged), 0)
        server = Server(self.home, port=server.port, write_config=False).start()
        try:
            _, data = server.request("GET", "/get_wl_updates", b"",
                                     {"User-Host": "a", "startIndex": "0"})
            held = {struct.unpack_from("<q", data, i + 1)[0] for i in range(0, len(data), 9)}
            self.assertTrue(set(acknowledged).issubset(held))
        finally:
            server.stop()


class TrustAcrossRestartsTest(unittest.TestCase):
    """Indexes name the same change before and after restarts and kills."""

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="vssvc")

    def tearDown(self):
        shutil.rmtree(self.home, ignore_errors=True)

    @staticmethod
    def push_ts(server, body):
        response, _ = server.request("POST", "/post_ts_updates", body, {"User-Host": "a"})
        return response.status, response.getheader("newIndex")

    @staticmethod
    def pull_ts(server, start):
        response, data = server.request("GET", "/get_ts_updates", b"",
                                        {"User-Host": "a", "startIndex": str(start)})
        return data, response.getheader("newIndex")

    def test_training_db_indexes_survive_stop_and_kill(self):
        for kill in (False, True):
            home = tempfile.mkdtemp(prefix="vssvc", dir=self.home)
            server = Server(home).start()
            x1, y, x2, z = (descriptor(1, [1]), descriptor(1, [2]), descriptor(2, [1]),
                            descriptor(1, [3]))
            self.push_ts(server, x1)
            self.push_ts(server, y)
            self.assertEqual(self.pull_ts(server, 0)[1], "2")  # client A at 2
            self.push_ts(server, x2)
            self.assertEqual(self.push_ts(server, z), (200, "4"))
            if kill:
                server.kill()
            else:
                self.assertEqual(server.stop(), 0)
            server = Server(home, port=server.port, write_config=False).start()
            try:
                self.assertEqual(self.pull_ts(server, 2), (descriptor(2, [1], 1) + z, "4"))
                w = descriptor(1, [4])
                self.assertEqual(self.push_ts(server, w), (200, "5"))
                self.assertEqual(self.pull_ts(server, 4), (w, "5"))
            finally:
                server.stop()

    def test_leftover_temporaries_go_and_files_are_private(self):
        server = Server(self.home)
        leftovers = ["config.xml.tmpAbC123", "whitelist.bin.tmpQwErTy", "histopt.bin.tmp000000"]
        for name in leftovers:
            with open(server.path(name), "wb") as f:
                f.write(b"x" * 1000)
        old = os.umask(0o022)
        try:
            server.start()
        finally:
            os.umask(old)
        try:
            server.request("POST", "/post_wl_updates", wl_record(1, 5), {"User-Host": "a"})
            names = set(os.listdir(server.folder))
            for name in leftovers:
                self.assertNotIn(name, names)
        finally:
            self.assertEqual(server.stop(), 0)
        for name in ("config.xml", "whitelist.bin", "whitelist_h.bin", "histdata.bin",
                     "histopt.bin"):
            self.assertEqual(os.stat(server.path(name)).st_mode & 0o777, 0o600, name)


if __name__ == "__main__":
    SERVER = sys.argv.pop(1)
    unittest.main(verbosity=2)
