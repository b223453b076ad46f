#!/usr/bin/env python3
"""PROXY protocol headers from trusted proxies, end to end.

The real server trusts 127.0.0.2 as a proxy. Raw sockets bound to 127.0.0.2 (trusted)
and 127.0.0.3 (not) send valid and broken v1/v2 headers before a request; address entries
show which address the access check used, and the log shows which one it wrote.
Then nginx's stream module in front of the server, terminating TLS with a throw-away
certificate and sending a PROXY header, for a curl client in a network namespace the test
makes (skipped unless root with ip netns, nginx's stream module and openssl).
Usage: proxy_protocol_test.py <VantorSyncSvc program>
"""
import http.client
import os
import re
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import unittest
import urllib.request

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, HERE)
import sync_server_test  # noqa: E402
from sync_server_test import Server  # noqa: E402
from sync_wire import free_port, send_and_read, wait_until, wl_record  # noqa: E402
from address_access_test import access_config, acl  # noqa: E402

README = os.path.join(HERE, "..", "..", "README.md")
SIGNATURE = b"\r\n\r\n\x00\r\nQUIT\n"
FAILURE = b"HTTP/1.1 500 Request failed\r\n"


def v1(text):
    return b"PROXY " + text.encode() + b"\r\n"


def v2(command, family, block):
    return SIGNATURE + bytes([0x20 | command, family]) + struct.pack(">H", len(block)) + block


def inet4(source, destination="198.51.100.1", ports=(51000, 17080)):
    return socket.inet_aton(source) + socket.inet_aton(destination) + struct.pack(">HH", *ports)


def inet6(source, destination="2001:db8::1"):
    return (socket.inet_pton(socket.AF_INET6, source) +
            socket.inet_pton(socket.AF_INET6, destination) + struct.pack(">HH", 1, 2))


def request(path, close=True):
    body = wl_record(1, 5) if path.startswith("/post") else b""
    return (b"POST %s HTTP/1.1\r\nHost: x\r\nUser-Host: ws1\r\nstartIndex: 57\r\n%s"
            b"Content-Length: %d\r\n\r\n" % (path.encode(), b"Connection: close\r\n" if close
                                              else b"", len(body)) + body)


def exchange(port, source, pieces):
    return send_and_read(port, pieces, source)


def granted(answer):
    """Whether a request got past the access check (a denied one echoes startIndex 57)."""
    if not answer.startswith(b"HTTP/1.1 200"):
        return None
    return re.search(rb"\r\nnewIndex: 57\r\n", answer) is None


def day_log_lines(folder):
    lines = []
    for name in sorted(os.listdir(folder)):
        if name.endswith(".log"):
            with open(os.path.join(folder, name), "rb") as f:
                lines += f.read().split(b"\r\n")[:-1]
    return lines


PROXY_CONFIG = ("  <trusted_proxies>127.0.0.2</trusted_proxies>\r\n" + access_config(
    [acl("192.0.2.0/24", 1, 1), acl("127.0.0.0/8", 1, 0)]))


class RawHeaderTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="vsproxy")
        self.metrics_port = free_port()
        os.environ["VANTORSYNC_METRICS"] = "127.0.0.1:%d" % self.metrics_port
        try:
            self.server = Server(self.home, config_extra=PROXY_CONFIG).start()
        finally:
            del os.environ["VANTORSYNC_METRICS"]

    def tearDown(self):
        self.server.stop()
        shutil.rmtree(self.home, ignore_errors=True)

    def refusals_counted(self):
        with urllib.request.urlopen("http://127.0.0.1:%d/metrics" % self.metrics_port,
                                    timeout=30) as response:
            text = response.read().decode()
        found = re.search(r'vantorsync_connections_closed_total\{reason="proxy_header"\} (\S+)',
                          text)
        return int(float(found.group(1)))

    def test_headers_decide_the_peer_only_from_the_trusted_proxy(self):
        # 192.0.2.0/24 may push; the rest of 127/8 (the proxy itself) may only pull; any
        # other address nothing. None: the failure answer and a close.
        pull, push = request("/get_wl_updates"), request("/post_wl_updates")
        table = [
            # source, header pieces, (pull granted, push granted)
            ("127.0.0.2", [v1("TCP4 192.0.2.7 198.51.100.1 51000 17080")], (True, True)),
            ("127.0.0.2", [b"PROXY TCP4 192.0", b".2.7 198.51.100.1 1 2\r", b"\n"],
             (True, True)),
            ("127.0.0.2", [v2(1, 0x11, inet4("192.0.2.8") + b"\x04\x00\x01z")], (True, True)),
            ("127.0.0.2", [v1("TCP4 203.0.113.9 198.51.100.1 1 2")], (False, False)),
            ("127.0.0.2", [v2(1, 0x21, inet6("2001:db8::9"))], (False, False)),
            ("127.0.0.2", [v1("TCP6 ::ffff:192.0.2.7 ::1 1 2")], (True, True)),
            ("127.0.0.2", [v1("UNKNOWN")], (True, False)),
            ("127.0.0.2", [v2(0, 0x11, inet4("192.0.2.7"))], (True, False)),  # LOCAL
            ("127.0.0.2", [], None),                                            # missing
            ("127.0.0.2", [b"PROXY TCP4 192.0.2.7 198.51.100.1 1 2\n"], None),
            ("127.0.0.2", [v2(1, 0x11, inet4("192.0.2.7")[:11])], None),
            ("127.0.0.3", [v1("TCP4 192.0.2.7 198.51.100.1 51000 17080")], None),
            ("127.0.0.3", [v2(1, 0x11, inet4("192.0.2.7"))], None),
            ("127.0.0.3", [SIGNATURE[:5], v2(1, 0x11, inet4("192.0.2.7"))[5:]], None),
            ("127.0.0.3", [], (True, False)),
        ]
        refused = 0
        for source, header, expected in table:
            with self.subTest(source=source, header=header):
                got = []
                for req in (pull, push):
                    answer = exchange(self.server.port, source, header + [req])
                    if expected is None:
                        self.assertTrue(answer.startswith(FAILURE), answer)
                        refused += 1
                    got.append(granted(answer))
                if expected is not None:
                    self.assertEqual(tuple(got), expected)
        self.assertEqual(self.refusals_counted(), refused)

    def test_the_log_and_the_next_requests_use_the_carried_address(self):
        header = v1("TCP4 192.0.2.7 198.51.100.1 51000 17080")
        pull = request("/get_wl_updates", close=False)
        answer = exchange(self.server.port, "127.0.0.2", [header + pull + pull])
        self.assertEqual(answer.count(b"HTTP/1.1 200"), 2)
        self.server.stop()
        lines = day_log_lines(self.server.folder)
        self.assertEqual(len(lines), 2)
        for line in lines:
            self.assertIn(b" 192.0.2.7 ws1 POST /get_wl_updates 200 0 ", line)


def have_netns():
    if os.geteuid() != 0 or not shutil.which("ip"):
        return False
    name = "vsprobe%d" % os.getpid()
    if subprocess.run(["ip", "netns", "add", name], capture_output=True).returncode != 0:
        return False
    subprocess.run(["ip", "netns", "del", name], capture_output=True)
    return True


def stream_module():
    path = "/usr/lib/nginx/modules/ngx_stream_module.so"
    return path if os.path.exists(path) else None


def readme_stream_block():
    with open(README, encoding="utf-8") as f:
        for block in re.findall(r"```nginx\n(.*?)```", f.read(), re.S):
            if "proxy_protocol on;" in block:
                return block
    raise AssertionError("the README has no nginx stream example")


@unittest.skipUnless(shutil.which("nginx") and stream_module() and shutil.which("openssl") and
                     shutil.which("curl") and have_netns(),
                     "needs root, ip netns, nginx with its stream module, openssl and curl")
class NginxStreamTlsTest(unittest.TestCase):
    """curl in a namespace of its own -> TLS -> nginx (stream, proxy_protocol) -> server."""
    proxy_address, client_address = "198.18.47.1", "198.18.47.2"
    proxy6, client6 = "fd5e:7a11::1", "fd5e:7a11::2"

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="vsnginx")
        self.ns = "vsproxy%d" % os.getpid()
        self.veth = "vsp%d" % os.getpid()
        self.addCleanup(shutil.rmtree, self.home, True)
        self.run_checked("ip", "netns", "add", self.ns)
        self.addCleanup(subprocess.run, ["ip", "netns", "del", self.ns], capture_output=True)
        self.run_checked("ip", "link", "add", self.veth, "type", "veth", "peer", "name",
                         self.veth + "n", "netns", self.ns)
        self.addCleanup(subprocess.run, ["ip", "link", "del", self.veth], capture_output=True)
        self.run_checked("ip", "addr", "add", self.proxy_address + "/30", "dev", self.veth)
        self.run_checked("ip", "addr", "add", self.proxy6 + "/64", "dev", self.veth, "nodad")
        self.run_checked("ip", "link", "set", self.veth, "up")
        inside = ["ip", "netns", "exec", self.ns]
        self.run_checked(*inside, "ip", "addr", "add", self.client_address + "/30", "dev",
                         self.veth + "n")
        self.run_checked(*inside, "ip", "addr", "add", self.client6 + "/64", "dev",
                         self.veth + "n", "nodad")
        self.run_checked(*inside, "ip", "link", "set", self.veth + "n", "up")
        self.run_checked(*inside, "ip", "link", "set", "lo", "up")

        config = ("  <trusted_proxies>127.0.0.1</trusted_proxies>\r\n" +
                  access_config([acl(self.client_address, 1, 1), acl(self.client6, 1, 1)]))
        self.server = Server(self.home, config_extra=config).start()
        self.addCleanup(self.server.stop)
        self.start_nginx()

    def run_checked(self, *command):
        subprocess.run(command, check=True, capture_output=True)

    def start_nginx(self):
        prefix = os.path.join(self.home, "nginx")
        os.makedirs(prefix)
        self.cert = os.path.join(prefix, "proxy.crt")
        key = os.path.join(prefix, "proxy.key")
        self.run_checked("openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt",
                         "ec_paramgen_curve:prime256v1", "-nodes", "-days", "1", "-subj",
                         "/CN=vantorsync-test", "-addext",
                         "subjectAltName=IP:%s,IP:%s" % (self.proxy_address, self.proxy6),
                         "-keyout", key,
                         "-out", self.cert)
        self.proxy_port = free_port()
        block = (readme_stream_block()
                 .replace("listen 443 ssl;", "listen %s:%d ssl; listen [%s]:%d ssl;" % (
                     self.proxy_address, self.proxy_port, self.proxy6, self.proxy_port))
                 .replace("/etc/vantorsync/proxy.crt", self.cert)
                 .replace("/etc/vantorsync/proxy.key", key)
                 .replace("127.0.0.1:17080", "127.0.0.1:%d" % self.server.port))
        conf = os.path.join(prefix, "nginx.conf")
        with open(conf, "w") as f:
            f.write("load_module %s;\ndaemon off;\nmaster_process off;\npid %s/nginx.pid;\n"
                    "error_log %s/error.log;\nevents {}\n%s"
                    % (stream_module(), prefix, prefix, block))
        self.nginx = subprocess.Popen(["nginx", "-p", prefix, "-c", conf])
        self.addCleanup(self.nginx.wait, 30)
        self.addCleanup(self.nginx.terminate)

        def listening():
            try:
                socket.create_connection((self.proxy_address, self.proxy_port), timeout=1).close()
                return True
            except OSError:
                return False
        self.assertTrue(wait_until(listening))

    def curl(self, path, body, in_namespace=True, server=None):
        server = server or self.proxy_address
        command = (["ip", "netns", "exec", self.ns] if in_namespace else []) + [
            "curl", "-sS", "--cacert", self.cert, "-D", "-", "-o", "/dev/null",
            "-H", "User-Host: ws1", "-H", "startIndex: 57", "--data-binary", "@-",
            "https://%s:%d%s" % (server, self.proxy_port, path)]
        done = subprocess.run(command, input=body, capture_output=True, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr)
        return re.search(rb"newIndex: (\S+)", done.stdout).group(1)

    def test_the_client_address_behind_tls_decides_and_is_logged(self):
        # From the namespace: the listed client address, so the push is stored.
        self.assertEqual(self.curl("/post_wl_updates", wl_record(1, 42)), b"1")
        # The same through nginx from the proxy's own address: not listed, so denied.
        self.assertEqual(self.curl("/post_wl_updates", wl_record(1, 43), False), b"57")
        # Over IPv6 the header says TCP6, and the IPv6 entry decides.
        self.assertEqual(self.curl("/post_wl_updates", wl_record(1, 44), True,
                                   "[%s]" % self.proxy6), b"2")
        self.server.stop()
        lines = day_log_lines(self.server.folder)
        self.assertEqual(len(lines), 3)
        self.assertIn(b" %s ws1 POST /post_wl_updates 200 9 0" % self.client_address.encode(),
                      lines[0])
        self.assertIn(b" %s ws1 POST /post_wl_updates 200 9 0" % self.proxy_address.encode(),
                      lines[1])
        self.assertIn(b" %s ws1 POST /post_wl_updates 200 9 0" % self.client6.encode(), lines[2])


if __name__ == "__main__":
    sync_server_test.SERVER = sys.argv.pop(1)
    unittest.main(verbosity=2)
