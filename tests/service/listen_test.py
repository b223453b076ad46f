#!/usr/bin/env python3
"""Where the server listens, end to end: the listen addresses (config.xml, -Listen=,
VantorSyncCtl), an IPv6 peer from a network namespace this test makes meeting address
entries, and sockets handed over as systemd does (LISTEN_FDS), which outlive a restart.

Run under dbus-run-session: the management cases use the private session bus. Only
loopback and the test's own namespace are ever connected to.
"""
import http.client
import os
import socket
import subprocess
import sys
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
import management_harness as harness  # noqa: E402
from management_harness import Service, ServiceTest, ctl, wait_until  # noqa: E402
from sync_wire import config_text, wl_record  # noqa: E402


def answers(address, port, source=None):
    """True when /version is answered at address; False when the connection is refused."""
    family = socket.AF_INET6 if ":" in address else socket.AF_INET
    try:
        with socket.socket(family, socket.SOCK_STREAM) as s:
            s.settimeout(10)
            if source:
                s.bind((source, 0))
            s.connect((address, port))
            s.sendall(b"GET /version HTTP/1.1\r\nHost: x\r\n\r\n")
            answer = s.recv(100)
    except ConnectionRefusedError:
        return False
    if not answer.startswith(b"HTTP/1.1 200"):
        raise ConnectionResetError("closed without an answer: %r" % answer)
    return True


def push(address, port, source):
    """Pushes one key as a forged host name; True when the push was applied."""
    conn = http.client.HTTPConnection(address, port, timeout=30, source_address=(source, 0))
    try:
        conn.request("POST", "/post_wl_updates", body=wl_record(1, 9),
                     headers={"User-Host": "anyone", "startIndex": "57"})
        response = conn.getresponse()
        response.read()
        return response.getheader("newIndex") != "57"
    finally:
        conn.close()


def acl(host, get, post):
    return "\t\t<acl host=\"%s\" enabled_get=\"%d\" enabled_post=\"%d\"/>\r\n" % (host, get, post)


def write_config(service, extra):
    with open(service.path("config.xml"), "wb") as f:
        f.write(config_text(service.port, extra).encode())


class ActivatedService(Service):
    """Started as systemd starts a socket-activated service: the listening socket is fd 3,
    LISTEN_FDS=1 and LISTEN_PID the service's own process id."""

    def __init__(self, home, listening, **kwargs):
        super().__init__(home, **kwargs)
        self.listening = listening

    def start(self, args=("-Foreground",), wait_for_bus=False):
        fd = self.listening.fileno()
        move = "" if fd == 3 else " 3<&%d %d<&-" % (fd, fd)
        script = 'LISTEN_PID=$$ LISTEN_FDS=1 exec "$0" "$@"' + move
        self.proc = subprocess.Popen(["sh", "-c", script, harness.PROGRAMS["server"]] +
                                     list(args), env=self.env, pass_fds=[fd],
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.banner = self.proc.stdout.readline()
        if wait_for_bus and not wait_until(harness.name_on_bus):
            raise AssertionError("service did not take its bus name: %r" % self.banner)
        return self


class ListenAddressTest(ServiceTest):
    def test_listens_exactly_where_told(self):
        cases = [
            # config.xml, extra switches, answering, refusing
            ("", [], ["127.0.0.1", "127.0.0.2"], ["::1"]),
            ("127.0.0.1, ::1", [], ["127.0.0.1", "::1"], ["127.0.0.2"]),
            ("127.0.0.1, ::1", ["-Listen=::1"], ["::1"], ["127.0.0.1"]),
        ]
        for configured, switches, answering, refusing in cases:
            with self.subTest(configured=configured, switches=switches):
                service = Service(self.home, bus="none")
                if configured:
                    write_config(service, "  <listen_addresses>%s</listen_addresses>\r\n" %
                                 configured)
                service.start(["-Foreground"] + switches, wait_for_bus=False)
                try:
                    self.assertIn("listening on port %d" % service.port, service.banner)
                    for address in answering:
                        self.assertTrue(answers(address, service.port), address)
                    for address in refusing:
                        self.assertFalse(answers(address, service.port), address)
                finally:
                    service.stop()
                # The switch is for one run: config.xml keeps its own addresses, and a file
                # for the default addresses does not name them.
                with open(service.path("config.xml"), "rb") as f:
                    saved = f.read()
                self.assertEqual(b"<listen_addresses>" in saved, bool(configured))
                self.assertIn(("<listen_addresses>%s<" % configured).encode() if configured
                              else b"<port>", saved)

        refused = subprocess.run([harness.PROGRAMS["server"], "-Foreground", "-Listen=127.1"],
                                 capture_output=True, text=True, timeout=60)
        self.assertEqual(refused.returncode, 2)
        self.assertIn("\"127.1\" is not a numeric", refused.stderr)

    def test_ctl_reads_and_sets_the_addresses_for_the_next_start(self):
        service = self.start_service()
        self.assertEqual(self.ctl_ok("listen"), "0.0.0.0\n")
        self.assertIn("\"localhost\" is not a numeric", self.ctl_fails("listen", "localhost"))
        self.ctl_ok("listen", "127.0.0.1", "::1")
        self.assertIn("<listen_addresses>127.0.0.1, ::1</listen_addresses>",
                      self.ctl_ok("config", "get"))
        self.assertFalse(answers("::1", service.port))
        self.ctl_ok("stop")
        self.ctl_ok("start")
        self.assertTrue(answers("::1", service.port))
        self.assertFalse(answers("127.0.0.2", service.port))


@unittest.skipUnless(os.geteuid() == 0, "network namespaces need root")
class Ipv6PeerTest(ServiceTest):
    """A client in a namespace of its own reaches the server over a veth pair with
    addresses from fd00:5e::/64 that only this test uses."""

    def setUp(self):
        super().setUp()
        tag = "%d" % (os.getpid() % 100000)
        self.ns, self.near, self.far = "vsl" + tag, "vslh" + tag, "vsln" + tag
        steps = [
            ["ip", "netns", "add", self.ns],
            ["ip", "link", "add", self.near, "type", "veth", "peer", "name", self.far],
            ["ip", "link", "set", self.far, "netns", self.ns],
            ["ip", "addr", "add", "fd00:5e::1/64", "dev", self.near, "nodad"],
            ["ip", "link", "set", self.near, "up"],
            ["ip", "-n", self.ns, "addr", "add", "fd00:5e::2/64", "dev", self.far, "nodad"],
            ["ip", "-n", self.ns, "addr", "add", "fd00:5e::3/64", "dev", self.far, "nodad"],
            ["ip", "-n", self.ns, "link", "set", self.far, "up"],
        ]
        for step in steps:
            if subprocess.run(step, capture_output=True).returncode != 0:
                self.cleanup_namespace()
                self.skipTest("cannot make the namespace: " + " ".join(step))

    def cleanup_namespace(self):
        subprocess.run(["ip", "netns", "del", self.ns], capture_output=True)
        subprocess.run(["ip", "link", "del", self.near], capture_output=True)

    def tearDown(self):
        super().tearDown()
        self.cleanup_namespace()

    def push_from_namespace(self, source, port):
        script = ("import sys; sys.path.insert(0, %r); import listen_test; "
                  "print(listen_test.push('fd00:5e::1', %d, %r))" % (HERE, port, source))
        result = subprocess.run(["ip", "netns", "exec", self.ns, sys.executable, "-c", script],
                                capture_output=True, text=True, timeout=60)
        return None if result.returncode != 0 else result.stdout.strip() == "True"

    def test_ipv6_peer_meets_ipv6_address_entries(self):
        service = Service(self.home, bus="none")
        write_config(service,
                     "  <listen_addresses>fd00:5e::1, 127.0.0.1</listen_addresses>\r\n"
                     "  <access_list>\r\n%s%s  </access_list>\r\n" %
                     (acl("fd00:5e::2", 1, 1), acl("127.0.0.1", 1, 0)))
        self.service = service.start(wait_for_bus=False)
        # The link needs a moment to come up on both ends.
        self.assertTrue(wait_until(
            lambda: self.push_from_namespace("fd00:5e::2", service.port) is not None))
        for source, allowed in [("fd00:5e::3", False), ("fd00:5e::2", True)]:
            self.assertEqual(self.push_from_namespace(source, service.port), allowed, source)
        self.assertFalse(push("127.0.0.1", service.port, "127.0.0.1"))


class SocketActivationTest(ServiceTest):
    def listening_socket(self, port):
        # As systemd makes it for ListenStream=[::]:PORT: IPv6 that also takes IPv4.
        s = socket.socket(socket.AF_INET6, socket.SOCK_STREAM)
        s.setsockopt(socket.IPPROTO_IPV6, socket.IPV6_V6ONLY, 0)
        s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        s.bind(("::", port))
        s.listen(128)
        self.addCleanup(s.close)
        return s

    def refusals_while_restarting(self, service, restarts=3):
        """Restarts the service while a client loops on new connections; the refusals."""
        counts = {"refused": 0, "answered": 0, "other": 0}
        done = threading.Event()

        def loop():
            while not done.is_set():
                try:
                    outcome = "answered" if answers("127.0.0.1", service.port) else "refused"
                except OSError:
                    outcome = "other"  # accepted, then closed by the stopping service
                counts[outcome] += 1

        client = threading.Thread(target=loop)
        client.start()
        try:
            for _ in range(restarts):
                time.sleep(0.3)
                service.stop()
                service.start(wait_for_bus=False)
            time.sleep(0.3)
        finally:
            done.set()
            client.join()
        self.assertGreater(counts["answered"], restarts, counts)
        print("restarts with%s inherited sockets: %s" % (
            "" if isinstance(service, ActivatedService) else "out", counts), file=sys.stderr)
        return counts["refused"]

    def test_restart_on_inherited_sockets_refuses_no_connection(self):
        self.service = Service(self.home, bus="none").start(wait_for_bus=False)
        # Without inherited sockets each restart leaves a gap: what this guards against.
        self.assertGreater(self.refusals_while_restarting(self.service), 0)
        self.service.stop()

        port = self.service.port
        self.service = ActivatedService(self.home, self.listening_socket(port), port=port,
                                        bus="none")
        self.service.start()
        self.assertIn("listening on port %d ([::]:%d; sockets from systemd)" % (port, port),
                      self.service.banner)
        self.assertEqual(self.refusals_while_restarting(self.service), 0)

    def test_inherited_socket_survives_stop_and_serves_mapped_ipv4_peers(self):
        port = harness.free_port()
        service = ActivatedService(self.home, self.listening_socket(port), port=port)
        write_config(service, "  <access_list>\r\n%s  </access_list>\r\n" %
                     acl("127.0.0.1", 1, 1))
        self.service = service.start(wait_for_bus=True)
        # The peer reaches an IPv6 socket as ::ffff:127.0.0.x and meets IPv4 entries.
        self.assertTrue(push("127.0.0.1", port, "127.0.0.1"))
        self.assertFalse(push("127.0.0.1", port, "127.0.0.2"))
        self.ctl_ok("stop")
        # Stopped, the server still holds the socket: a client waits instead of being refused.
        waiting = socket.create_connection(("127.0.0.1", port), timeout=30)
        waiting.sendall(b"GET /version HTTP/1.1\r\nHost: x\r\n\r\n")
        self.ctl_ok("start")
        self.assertTrue(waiting.recv(100).startswith(b"HTTP/1.1 200"))
        waiting.close()

    def test_systemd_socket_activate_hands_over_its_socket(self):
        tool = subprocess.run(["sh", "-c", "command -v systemd-socket-activate"],
                              capture_output=True, text=True).stdout.strip()
        if not tool:
            self.skipTest("systemd-socket-activate is not installed")
        service = Service(self.home, bus="none")
        names = ["XDG_CONFIG_HOME", "HOME", "VANTORSYNC_BUS", "ASAN_OPTIONS", "UBSAN_OPTIONS",
                 "LSAN_OPTIONS"]
        passed = [arg for name in names if name in service.env for arg in ("-E", name)]
        proc = subprocess.Popen([tool, "-l", "127.0.0.1:%d" % service.port] + passed +
                                [harness.PROGRAMS["server"], "-Foreground"], env=service.env,
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        service.proc = proc
        self.assertTrue(wait_until(lambda: answers("127.0.0.1", service.port)))
        _, output = service.stop()
        self.assertIn("listening on port %d (127.0.0.1:%d; sockets from systemd)" %
                      (service.port, service.port), output)


if __name__ == "__main__":
    harness.PROGRAMS["server"], harness.PROGRAMS["ctl"] = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1])
