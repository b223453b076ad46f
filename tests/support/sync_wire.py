"""Helpers shared by the end-to-end tests: ports, config files, waiting, records, one HTTP
exchange."""
import http.client
import random
import socket
import struct
import time


def config_text(port, extra=""):
    """The config.xml the service itself writes, for the given port and further elements."""
    return ("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<config>\r\n"
            "  <port>%d</port>\r\n%s</config>" % (port, extra))


def wait_until(condition, limit=30.0):
    """True once condition() holds, polled every 0.1 s; False after limit seconds."""
    deadline = time.monotonic() + limit
    while time.monotonic() < deadline:
        if condition():
            return True
        time.sleep(0.1)
    return False


def free_port():
    """A port that is free now and that no outgoing connection will take in the meantime.

    The kernel hands out ephemeral ports (32768 and up) to every client socket, so a port
    picked there can be taken by a test's own client before the server binds it. Below
    that range only listeners take ports."""
    low, _ = _ephemeral_range()
    for _ in range(200):
        port = random.randrange(10000, max(10001, low))
        with socket.socket() as s:
            try:
                s.bind(("127.0.0.1", port))
            except OSError:
                continue
            return port
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def _ephemeral_range():
    try:
        with open("/proc/sys/net/ipv4/ip_local_port_range") as f:
            low, high = (int(v) for v in f.read().split())
            return low, high
    except (OSError, ValueError):
        return 32768, 60999


def wl_record(op, key):
    return struct.pack("<Bq", op, key)


def descriptor(label, values, status=1):
    return struct.pack("<IiI", label, status, len(values)) + struct.pack(
        "<%dq" % len(values), *values)


def http_request(port, method, path, body=b"", headers=None, timeout=30):
    """One request on a fresh connection; returns the response and its body."""
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=timeout)
    try:
        conn.request(method, path, body=body, headers=headers or {})
        response = conn.getresponse()
        return response, response.read()
    finally:
        conn.close()


def send_and_read(port, pieces, source="127.0.0.1"):
    """Sends the pieces one after another from source; returns everything that comes back
    until the server closes or goes quiet for a second."""
    with socket.create_connection(("127.0.0.1", port), timeout=30,
                                  source_address=(source, 0)) as s:
        for piece in pieces:
            s.sendall(piece)
        s.settimeout(1.0)
        chunks = []
        try:
            while True:
                chunk = s.recv(65536)
                if not chunk:
                    break
                chunks.append(chunk)
        except socket.timeout:
            pass
        return b"".join(chunks)
