#!/usr/bin/env python3
"""HTTP framing against the real server program, read by a strict independent parser (h11):
HEAD answers carry no body, "Connection: close" and HTTP/1.0 clients get their answer and
then the close, ambiguous framing is refused with a close, field syntax that readers split
differently gets the failure answer and a close, odd but unambiguous framing is
served, and a client cannot forge the peer address nor inject header lines.
Usage: http_framing_test.py <VantorSyncSvc program>
"""
import os
import shutil
import socket
import sys
import tempfile
import time
import unittest

try:
    import h11
except ImportError:
    # The Debian package, when the interpreter running the tests is not Debian's own.
    sys.path.append("/usr/lib/python3/dist-packages")
    import h11

import crash_durability_test as common
from crash_durability_test import Server


class Client:
    """One connection driven by h11 as a strict client."""

    def __init__(self, port):
        self.sock = socket.create_connection(("127.0.0.1", port), timeout=30)
        self.conn = h11.Connection(h11.CLIENT)

    def close(self):
        self.sock.close()

    def request(self, method, target, headers=(), body=b""):
        fields = [("Host", "t")] + list(headers)
        if body:
            fields.append(("Content-Length", str(len(body))))
        self.sock.sendall(self.conn.send(h11.Request(method=method, target=target,
                                                     headers=fields)))
        if body:
            self.sock.sendall(self.conn.send(h11.Data(data=body)))
        self.sock.sendall(self.conn.send(h11.EndOfMessage()))
        return self.response()

    def response(self):
        """(response event, body) of the next answer, parsed strictly."""
        return read_answer(self.conn, self.sock)

    def server_closed(self):
        """True when nothing but the close follows the last answer."""
        self.sock.settimeout(30)
        return self.sock.recv(100) == b""

    def next_cycle(self):
        self.conn.start_next_cycle()


def strict_answer(sock):
    """(response event, body) of the next answer on sock, parsed by h11 as the answer to a
    request sent some other way (h11 itself writes only HTTP/1.1 and only valid framing)."""
    conn = h11.Connection(h11.CLIENT)
    conn.send(h11.Request(method="GET", target="/", headers=[("Host", "t")]))
    conn.send(h11.EndOfMessage())
    return read_answer(conn, sock)


def read_answer(conn, sock):
    """(response event, body) of the next answer on sock, read through the h11 client conn."""
    head, body = None, b""
    while True:
        event = conn.next_event()
        if event is h11.NEED_DATA:
            conn.receive_data(sock.recv(65536))
        elif isinstance(event, h11.Response):
            head = event
        elif isinstance(event, h11.Data):
            body += event.data
        elif isinstance(event, h11.EndOfMessage):
            return head, body


def raw_exchange(port, data):
    """Sends raw bytes; returns everything until the server closes (or 5 s pass)."""
    with socket.create_connection(("127.0.0.1", port), timeout=5) as sock:
        sock.sendall(data)
        received = b""
        try:
            while True:
                chunk = sock.recv(65536)
                if not chunk:
                    return received, True
                received += chunk
        except socket.timeout:
            return received, False
        except ConnectionResetError:
            return received, True


FAILURE_ANSWER = (b"HTTP/1.1 500 Request failed\r\nContent-Type: text/html\r\n"
                  b"Connection: close\r\nContent-Length: 0\r\n\r\n")


def field(head, name):
    for key, value in head.headers:
        if key.lower() == name.lower().encode():
            return value
    return None


class HttpFramingTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="vsframing")
        cls.server = Server(cls.home)
        # Logging on: the peer address of the access line is checked.
        with open(os.path.join(cls.server.folder, "config.xml"), "wb") as f:
            f.write(("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n"
                     "<config>\r\n  <port>%d</port>\r\n  <log_enabled>1</log_enabled>\r\n"
                     "</config>" % cls.server.port).encode())
        cls.server.start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.home, ignore_errors=True)

    def client(self):
        c = Client(self.server.port)
        self.addCleanup(c.close)
        return c

    def test_head_answer_has_no_body_and_the_next_answer_is_intact(self):
        c = self.client()
        head, body = c.request("HEAD", "/version")
        self.assertEqual((head.status_code, body), (200, b""))
        self.assertEqual(field(head, "Content-Length"), b"3")
        c.next_cycle()
        head, body = c.request("GET", "/version")
        self.assertEqual((head.status_code, body), (200, b"1.0"))

    def test_connection_close_gets_the_answer_then_the_close(self):
        c = self.client()
        head, body = c.request("GET", "/version", headers=[("Connection", "close")])
        self.assertEqual((head.status_code, body), (200, b"1.0"))
        self.assertEqual(field(head, "Connection"), b"close")
        self.assertTrue(c.server_closed())

    def test_http10_client_gets_the_answer_then_the_close(self):
        c = self.client()
        c.sock.sendall(b"GET /version HTTP/1.0\r\nHost: t\r\n\r\n")
        head, body = strict_answer(c.sock)
        self.assertEqual((head.status_code, body), (200, b"1.0"))
        self.assertTrue(c.server_closed())

    def test_http10_client_asking_for_keep_alive_keeps_the_connection(self):
        c = self.client()
        for _ in range(2):
            c.sock.sendall(b"GET /version HTTP/1.0\r\nConnection: keep-alive\r\n\r\n")
            head, body = strict_answer(c.sock)
            self.assertEqual((head.status_code, body), (200, b"1.0"))
            self.assertEqual(field(head, "Connection"), b"keep-alive")

    def test_ambiguous_framing_is_refused_with_a_close(self):
        cases = {
            "conflicting lengths": b"Content-Length: 3\r\nContent-Length: 4\r\n\r\nabcd",
            "length and chunked": b"Content-Length: 4\r\nTransfer-Encoding: chunked\r\n\r\n"
                                  b"0\r\n\r\n",
            "last coding not chunked": b"Transfer-Encoding: chunked, gzip\r\n\r\n0\r\n\r\n",
            "chunk size without digits": b"Transfer-Encoding: chunked\r\n\r\nxyz\r\n\r\n"
                                         b"GET /version HTTP/1.1\r\n\r\n",
        }
        for name, rest in cases.items():
            with self.subTest(name):
                answer, closed = raw_exchange(
                    self.server.port, b"POST /version HTTP/1.1\r\nHost: t\r\n" + rest)
                self.assertEqual(answer, b"")
                self.assertTrue(closed)

    def test_chunked_with_trailing_blanks_and_bare_line_feed_heads_are_served(self):
        for request in (b"POST /version HTTP/1.1\r\nHost: t\r\nTransfer-Encoding: chunked "
                        b"\r\n\r\n3\r\nabc\r\n0\r\n\r\n",
                        b"GET /version HTTP/1.1\nHost: t\n\n"):
            with self.subTest(request=request):
                with socket.create_connection(("127.0.0.1", self.server.port),
                                              timeout=30) as sock:
                    sock.sendall(request)
                    head, body = strict_answer(sock)
                    self.assertEqual((head.status_code, body), (200, b"1.0"))

    def test_field_syntax_proxies_read_differently_is_refused_as_h11_refuses_it(self):
        hidden = b"GET /version HTTP/1.1\r\nHost: t\r\n\r\n"
        cases = {
            "blank before the colon": b"Content-Length : %d\r\n\r\n",
            "bare CR inside the head": b"X: a\rContent-Length: %d\r\n\r\n",
            "NUL in a field name": b"X\x00Y: a\r\nContent-Length: %d\r\n\r\n",
        }
        for name, rest in cases.items():
            with self.subTest(name):
                data = b"POST /version HTTP/1.1\r\nHost: t\r\n" + rest % len(hidden) + hidden
                answer, closed = raw_exchange(self.server.port, data)
                self.assertEqual(answer, FAILURE_ANSWER)
                self.assertTrue(closed)
                strict = h11.Connection(h11.SERVER)
                strict.receive_data(data)
                self.assertRaises(h11.RemoteProtocolError, strict.next_event)

    def test_http10_with_transfer_encoding_is_answered_then_closed(self):
        data = (b"POST /version HTTP/1.0\r\nConnection: keep-alive\r\n"
                b"Transfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n\r\n")
        answer, closed = raw_exchange(self.server.port, data + b"GET /version HTTP/1.1\r\n\r\n")
        self.assertTrue(closed)
        self.assertEqual(answer.count(b"HTTP/1.1 200 OK"), 1, answer)
        self.assertIn(b"\r\nConnection: close\r\n", answer)
        # h11 too reads the request and then must close.
        strict = h11.Connection(h11.SERVER)
        strict.receive_data(data)
        self.assertIsInstance(strict.next_event(), h11.Request)
        strict.send(h11.Response(status_code=200, headers=[("Content-Length", "0")]))
        strict.send(h11.EndOfMessage())
        self.assertIs(strict.our_state, h11.MUST_CLOSE)

    def test_denied_request_echoes_start_index_only_without_control_bytes(self):
        # A bare CR in a value does not reach the echo: the whole head is refused.
        answer, _ = raw_exchange(self.server.port,
                                 b"GET /get_wl_updates HTTP/1.1\r\nConnection: close\r\n"
                                 b"startIndex: 5\rX-Injected: 1\r\n\r\n")
        self.assertEqual(answer, FAILURE_ANSWER)
        answer, _ = raw_exchange(self.server.port,
                                 b"GET /get_wl_updates HTTP/1.1\r\nConnection: close\r\n"
                                 b"startIndex: 5\x0bX-Injected: 1\r\n\r\n")
        self.assertTrue(answer.startswith(b"HTTP/1.1 200 OK"), answer)
        self.assertNotIn(b"X-Injected", answer)
        self.assertNotIn(b"newIndex", answer)
        c = self.client()
        head, _ = c.request("GET", "/get_wl_updates", headers=[("startIndex", "57")])
        self.assertEqual(field(head, "newIndex"), b"57")

    def test_access_line_holds_the_connection_peer_not_a_forged_one(self):
        c = self.client()
        c.request("GET", "/get_wl_updates",
                  headers=[("Remote-IP", "6.6.6.6"), ("User-Host", "forger")])
        # The log writes its lines in batches shortly after they are made; wait for ours.
        lines = []
        deadline = time.monotonic() + 20
        while not lines and time.monotonic() < deadline:
            for name in os.listdir(self.server.folder):
                if name.endswith(".log"):
                    with open(os.path.join(self.server.folder, name), "rb") as f:
                        lines += [l for l in f.read().splitlines() if b" forger " in l]
            if not lines:
                time.sleep(0.05)
        self.assertTrue(lines)
        self.assertIn(b" 127.0.0.1 forger ", lines[-1])
        self.assertNotIn(b"6.6.6.6", lines[-1])


if __name__ == "__main__":
    common.SERVER = sys.argv.pop(1)
    unittest.main(verbosity=2)
