#!/usr/bin/env python3
"""Builds the seed corpora under fuzz/corpus/<target>/ from real traffic and real files.

Requests are what curl and Python's http.client put on the wire (caught by a listening
socket); store files and config.xml are what the server program writes after real
pushes. Usage: make_corpus.py <VantorSyncSvc program> <corpus folder>
"""
import http.client
import os
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import zlib


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def capture(send):
    """Runs send(port) against a listener that answers 200 and returns the bytes it got."""
    listener = socket.socket()
    listener.bind(("127.0.0.1", 0))
    listener.listen(1)
    port = listener.getsockname()[1]
    got = []

    def serve():
        conn, _ = listener.accept()
        conn.settimeout(2)
        data = b""
        try:
            while True:
                chunk = conn.recv(65536)
                if not chunk:
                    break
                data += chunk
                if b"Expect: 100-continue" in data and b"HTTP/1.1 100" not in b"".join(got):
                    conn.sendall(b"HTTP/1.1 100 Continue\r\n\r\n")
                    got.append(b"HTTP/1.1 100")
                head_end = data.find(b"\r\n\r\n")
                if head_end >= 0:
                    head = data[:head_end].lower()
                    length = 0
                    for line in head.split(b"\r\n"):
                        if line.startswith(b"content-length:"):
                            length = int(line.split(b":")[1])
                    chunked = b"transfer-encoding: chunked" in head
                    if (chunked and data.endswith(b"0\r\n\r\n")) or (
                            not chunked and len(data) >= head_end + 4 + length):
                        break
        except socket.timeout:
            pass
        conn.sendall(b"HTTP/1.1 200 OK\r\nContent-Length: 0\r\nConnection: close\r\n\r\n")
        conn.close()
        got[:] = [g for g in got if g != b"HTTP/1.1 100"] + [data]

    thread = threading.Thread(target=serve)
    thread.start()
    send(port)
    thread.join(10)
    listener.close()
    return got[-1] if got else b""


def wl_body(pairs):
    return b"".join(struct.pack("<Bq", op, key) for op, key in pairs)


def descriptor(label, values, status=1):
    return struct.pack("<IiI", label, status, len(values)) + struct.pack(
        "<%dq" % len(values), *values)


def client_requests(tmp):
    def with_client(method, path, body, headers):
        def send(port):
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
            conn.request(method, path, body=body, headers=headers)
            conn.getresponse().read()
            conn.close()
        return capture(send)

    def with_curl(args):
        return capture(lambda port: subprocess.run(
            ["curl", "-s", "-o", "/dev/null"] + [a.replace("PORT", str(port)) for a in args],
            check=False, timeout=10))

    wl = wl_body([(1, 42), (1, -7), (0, 42), (1, 1 << 40)])
    td = descriptor(3, [11, 22, 33]) + descriptor(4, [5])
    body_file = os.path.join(tmp, "body.bin")
    with open(body_file, "wb") as f:
        f.write(td)
    requests = {
        "pull_wl": with_client("GET", "/get_wl_updates", None,
                               {"User-Host": "ws1", "startIndex": "0"}),
        "pull_ts": with_client("GET", "/get_ts_updates", None,
                               {"User-Host": "ws1", "startIndex": "3"}),
        "push_wl": with_client("POST", "/post_wl_updates", wl, {"User-Host": "ws1"}),
        "push_ts_chunked": with_client("POST", "/post_ts_updates", iter([td[:10], td[10:]]),
                                       {"User-Host": "ws2", "Transfer-Encoding": "chunked"}),
        "push_wl_gzip": with_client("POST", "/post_wl_updates", zlib.compress(wl),
                                    {"User-Host": "ws1", "Content-Encoding": "gzip"}),
        "version_curl": with_curl(["http://127.0.0.1:PORT/version"]),
        "push_ts_curl_continue": with_curl(
            ["-H", "User-Host: ws3", "-H", "Expect: 100-continue", "--data-binary",
             "@" + body_file, "http://127.0.0.1:PORT/post_ts_updates"]),
    }
    return requests, wl, td


def chunk(body, sizes):
    out, at = b"", 0
    for size in sizes:
        out += b"%x\r\n" % size + body[at:at + size] + b"\r\n"
        at += size
    return out + b"0\r\n\r\n"


def server_files(program, tmp, wl, td):
    """Pushes through the real server and returns its data folder after a clean stop."""
    home = os.path.join(tmp, "home")
    folder = os.path.join(home, "VantorSyncSvc")
    os.makedirs(folder)
    port = free_port()
    with open(os.path.join(folder, "config.xml"), "wb") as f:
        f.write(("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<config>\r\n"
                 "  <port>%d</port>\r\n  <common_whitelist_max_size>3</common_whitelist_max_size>"
                 "\r\n  <access_list>\r\n\t\t<acl host=\"ws&amp;1\" enabled_get=\"1\" "
                 "enabled_post=\"0\"/>\r\n  </access_list>\r\n</config>" % port).encode())
    env = dict(os.environ, XDG_CONFIG_HOME=home, HOME=home, VANTORSYNC_BUS="none")
    proc = subprocess.Popen([program, "-Foreground"], env=env, stdout=subprocess.PIPE, text=True)
    proc.stdout.readline()
    try:
        for path, body in (("/post_wl_updates", wl), ("/post_wl_updates", wl_body([(1, 5)])),
                           ("/post_ts_updates", td),
                           ("/post_ts_updates", descriptor(9, [11, 22, 33]))):
            conn = http.client.HTTPConnection("127.0.0.1", port, timeout=10)
            conn.request("POST", path, body=body, headers={"User-Host": "ws1"})
            conn.getresponse().read()
            conn.close()
    finally:
        proc.send_signal(signal.SIGTERM)
        proc.wait(timeout=30)
    files = {}
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), "rb") as f:
            files[name] = f.read()
    return files


def write(corpus, target, name, data):
    folder = os.path.join(corpus, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    program, corpus = sys.argv[1], sys.argv[2]
    tmp = tempfile.mkdtemp(prefix="vscorpus")
    try:
        requests, wl, td = client_requests(tmp)
        files = server_files(program, tmp, wl, td)
    finally:
        shutil.rmtree(tmp, ignore_errors=True)

    pipelined = requests["pull_wl"] + requests["push_wl"] + requests["push_ts_chunked"]
    for name, data in requests.items():
        write(corpus, "request_reader", name, bytes([0, 3, 7, 1, 0, 30, 2, 5]) + data)
        write(corpus, "http_object", name, data)
    write(corpus, "request_reader", "pipelined", bytes([5, 9, 0, 1, 2, 3, 4, 31]) + pipelined)
    write(corpus, "http_object", "push_wl_deflate",
          requests["push_wl"].split(b"\r\n\r\n")[0].replace(b"Content-Length: 36",
                                                           b"Content-Encoding: deflate") +
          b"\r\n\r\n" + zlib.compress(wl)[2:-4])

    write(corpus, "chunked", "two_chunks", b"\x03" + chunk(td, [10, len(td) - 10]))
    write(corpus, "chunked", "with_extension_and_trailer",
          b"\x00" + b"5;name=value\r\nhello\r\n0\r\nTrailer: x\r\n\r\n")
    write(corpus, "chunked", "single", b"\x07" + chunk(wl, [len(wl)]))

    write(corpus, "settings", "written_by_server", files["config.xml"])
    write(corpus, "whitelist_load", "after_pushes",
          bytes([len(files["whitelist.bin"]) // 8, 0]) + files["whitelist.bin"] +
          files["whitelist_h.bin"])
    histdata = files["histdata.bin"]
    write(corpus, "trainingdb_load", "after_pushes",
          struct.pack("<H", len(histdata)) + histdata + bytes([len(files["histopt.bin"])]) +
          files["histopt.bin"] + files.get("histdata.bin.fm", b""))
    write(corpus, "whitelist_push", "adds_and_removes", wl)
    write(corpus, "trainingdb_push", "two_descriptors", td)
    write(corpus, "trainingdb_push", "relabel", descriptor(9, [33, 11, 22]))


if __name__ == "__main__":
    main()
