#!/usr/bin/env python3
"""The service program as a bus-activated local server (when it ends by itself, what it
does when it cannot take its bus name), as the systemd service (what it tells systemd
and the metrics when it cannot serve, and when another instance holds its name), and any
server asked by SIGHUP to read its configuration again. Runs under dbus-run-session, like
the management tests; the session bus stands in for the system bus.
"""
import os
import signal
import socket
import subprocess
import sys
import time
import unittest
import urllib.request

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from sync_wire import free_port, wl_record  # noqa: E402
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


class ServiceStartTest(ServiceTest):
    def as_service(self, name, port=None):
        """A server that runs the way systemd starts the registered service."""
        root = os.path.join(self.home, "root")
        subprocess.run([PROGRAMS["server"], "-Service"], env=dict(os.environ, VANTORSYNC_ROOT=root),
                       check=True, timeout=60)
        home = os.path.join(self.home, name)
        os.makedirs(home)
        service = Service(home, root=root, port=port)
        service.env.update(INVOCATION_ID="test",
                           DBUS_SYSTEM_BUS_ADDRESS=os.environ["DBUS_SESSION_BUS_ADDRESS"])
        return service

    def test_a_service_without_its_bus_name_ends_with_status_1_and_says_why(self):
        holder = Service(self.home).start()
        try:
            cases = (
                ("no bus", {"DBUS_SYSTEM_BUS_ADDRESS": "unix:path=/nonexistent"}, (), 1,
                 "management interface unavailable on the system bus"),
                ("second service", {}, (), 1, "another instance of VantorSyncSvc holds the name "
                 "com.mailvane.VantorSyncSvc on the system bus"),
                # By hand it serves sync on, but says why it cannot be managed.
                ("second by hand", {}, ("-Foreground",), 0, "another instance of VantorSyncSvc "
                 "holds the name com.mailvane.VantorSyncSvc on the session bus"),
            )
            for name, env, args, code, expected in cases:
                second = self.as_service(name.replace(" ", "-"))
                second.env.update(env)
                second.start(args=args, wait_for_bus=False)
                if args:
                    time.sleep(1)
                    second.proc.send_signal(signal.SIGTERM)
                ended, rest = second.finish(limit=60)
                text = second.banner + rest
                self.assertEqual(ended, code, name + ": " + text)
                self.assertIn(expected, text, name)
                self.assertNotIn("File exists", text, name)
        finally:
            holder.stop()

    def test_a_service_that_cannot_serve_sync_tells_systemd_and_the_metrics(self):
        notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        notify.bind(os.path.join(self.home, "notify"))
        notify.settimeout(30)
        service = self.as_service("bad-port", port=70000)
        service.env["NOTIFY_SOCKET"] = os.path.join(self.home, "notify")
        metrics_port = free_port()
        self.service = service.start(args=("-Metrics=127.0.0.1:%d" % metrics_port,))
        message = notify.recv(4096).decode()
        self.assertIn("READY=1", message)
        self.assertIn("HTTP server not started: port 70000 is outside 1-65535; sync is not "
                      "served", message)
        with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % metrics_port,
                                    timeout=30) as scrape:
            self.assertIn("\nvantorsync_sync_serving 0\n", scrape.read().decode())
        # Started once the port is fixed: systemd and the metrics hear of it.
        with open(service.path("config.xml"), "wb") as f:
            f.write(config_text(free_port()))
        service.proc.send_signal(signal.SIGHUP)
        self.assertEqual(self.ctl_ok("start"), "started\n")
        self.assertIn("listening on port", notify.recv(4096).decode())
        with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % metrics_port,
                                    timeout=30) as scrape:
            self.assertIn("\nvantorsync_sync_serving 1\n", scrape.read().decode())
        notify.close()

    def test_foreground_without_a_bus_or_a_port_ends_with_status_1(self):
        service = Service(self.home, port=70000, bus="none").start(wait_for_bus=False)
        code, rest = service.finish(limit=60)
        self.assertEqual(code, 1, service.banner + rest)
        self.assertIn("nothing would ever be served", rest)


if __name__ == "__main__":
    PROGRAMS["server"], PROGRAMS["ctl"] = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
