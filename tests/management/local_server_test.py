#!/usr/bin/env python3
"""The service program as a bus-activated local server (when it ends by itself, what it
does when it cannot take its bus name) and any server asked by SIGHUP to read its
configuration again. Runs under dbus-run-session, like the management tests.
"""
import os
import signal
import socket
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from sync_wire import wl_record  # noqa: E402
from management_harness import (OBJECT, PROGRAMS, Service, ServiceTest,  # noqa: E402
                                assert_well_formed, busctl, config_text, wait_until)


class LocalServerTest(ServiceTest):
    def start_local_server(self):
        root = os.path.join(self.home, "root")
        env = dict(os.environ, VANTORSYNC_ROOT=root)
        subprocess.run([PROGRAMS["server"], "-RegServer"], env=env, check=True, timeout=60)
        self.service = Service(self.home, root=root).start(args=())
        return self.service

    def test_ends_after_its_last_client_left(self):
        service = self.start_local_server()
        left = time.monotonic()
        self.assertEqual(self.ctl_ok("status"), "running\n")
        code, rest = service.finish(limit=60)
        self.assertEqual(code, 0)
        self.assertIn("VantorSyncSvc: stopped", rest)
        # About five seconds; only a bound far below that is checked.
        self.assertGreater(time.monotonic() - left, 2.0)

    def test_stays_while_clients_keep_returning(self):
        service = self.start_local_server()
        began = time.monotonic()
        while time.monotonic() - began < 10:
            self.assertEqual(busctl("get-property", *OBJECT, "Enabled").returncode, 0)
            time.sleep(1)
        self.assertIsNone(service.proc.poll(), "ended while clients came every second")
        code, _ = service.finish(limit=60)
        self.assertEqual(code, 0)

    def test_unused_local_server_ends_by_itself(self):
        service = self.start_local_server()
        # Only pinging the peer (not on the object's path) and watching the bus, never a
        # counted client: the idle end is armed from the start.
        self.assertEqual(busctl("call", OBJECT[0], "/", "org.freedesktop.DBus.Peer", "Ping")
                         .returncode, 0)
        code, rest = service.finish(limit=60)
        self.assertEqual(code, 0)
        self.assertIn("VantorSyncSvc: stopped", rest)
        assert_well_formed(self, service.path("config.xml"))

    def test_local_server_without_its_bus_name_ends_and_says_why(self):
        holder_home = os.path.join(self.home, "holder")
        os.makedirs(holder_home)
        holder = Service(holder_home).start()
        try:
            root = os.path.join(self.home, "root")
            subprocess.run([PROGRAMS["server"], "-RegServer"], env=dict(os.environ, VANTORSYNC_ROOT=root),
                           check=True, timeout=60)
            second = Service(self.home, root=root)
            second.start(args=(), wait_for_bus=False)
            code, rest = second.finish(limit=60)
            self.assertEqual(code, 1)
            self.assertIn("a local server cannot run without it", second.banner + rest)
            # It gave its port back: a new server can listen there at once.
            probe = socket.socket()
            probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
            probe.bind(("0.0.0.0", second.port))
            probe.close()
        finally:
            holder.stop()


class ReloadTest(ServiceTest):
    def test_sighup_reads_the_configuration_again_and_never_ends_the_service(self):
        service = self.start_service()
        response, _ = service.request("POST", "/post_wl_updates", wl_record(1, 1),
                                      {"User-Host": "ws1"})
        self.assertEqual(response.getheader("newIndex"), "1")
        with open(service.path("config.xml"), "wb") as f:
            f.write(config_text(service.port).replace(
                b"</config>", b"<access_list><acl host=\"ws1\" enabled_get=\"1\"/>"
                              b"</access_list></config>"))
        service.proc.send_signal(signal.SIGHUP)
        self.assertTrue(wait_until(lambda: service.request(
            "POST", "/post_wl_updates", wl_record(1, 2),
            {"User-Host": "ws1"})[0].getheader("newIndex") is None))
        # A file that breaks off leaves the settings as they are, also the values before
        # the break.
        with open(service.path("config.xml"), "wb") as f:
            f.write(b"<config><common_whitelist_enabled>0</common_whitelist_enabled><broken")
        service.proc.send_signal(signal.SIGHUP)
        service.proc.send_signal(signal.SIGHUP)
        self.assertEqual(self.ctl_ok("status"), "running\n")
        response, _ = service.request("GET", "/get_wl_updates", b"",
                                      {"User-Host": "ws1", "startIndex": "0"})
        self.assertEqual(response.status, 200)
        self.assertIsNone(service.proc.poll())
        code, rest = service.stop()
        self.assertEqual(code, 0)
        self.assertIn("configuration read again", rest)
        self.assertIn("configuration not read again", rest)
        self.assertIn("line 1: not well-formed", rest)
        with open(service.path("config.xml"), "rb") as f:
            self.assertIn(b"<acl host=\"ws1\" enabled_get=\"1\" enabled_post=\"0\"/>",
                          f.read())
        assert_well_formed(self, service.path("config.xml"))


if __name__ == "__main__":
    PROGRAMS["server"], PROGRAMS["ctl"] = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
