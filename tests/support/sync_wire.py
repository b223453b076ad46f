"""Wire helpers shared by the end-to-end tests: ports, records, one HTTP exchange."""
import http.client
import socket
import struct


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


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
