#!/usr/bin/env python3
"""Whitelist snapshot pulls against a running sync server whose history was trimmed, so
that a pull from index 0 is answered with the reset marker and every key.

  snapshot_pull.py sequential PORT PULLS
      one keep-alive client pulls the snapshot PULLS times; prints the time per pull
      against a memcpy of the same bytes in this process (target <= 3x).
  snapshot_pull.py concurrent PORT PID CLIENTS
      CLIENTS clients ask for the snapshot at once and read it only once every answer has
      begun to arrive; prints the server's resident size growth in snapshot copies (target:
      one copy) and whether every client got the same bytes.
  snapshot_pull.py slow PORT PID CLIENTS BUDGET_MB
      CLIENTS clients ask for the snapshot and never read; prints the server's peak
      resident size against budget + one snapshot + 50 MiB, and whether a push is answered.
"""
import hashlib
import select
import socket
import sys
import threading
import time

from attack_load import PeakSampler, resident_kib

REQUEST = b"GET /get_wl_updates HTTP/1.1\r\nUser-Host: bench\r\nstartIndex: 0\r\n\r\n"
PUSH = (b"POST /post_wl_updates HTTP/1.1\r\nUser-Host: bench\r\nContent-Length: 9\r\n\r\n"
        b"\x01\x07\x00\x00\x00\x00\x00\x00\x00")


def read_head(sock):
    head = b""
    while b"\r\n\r\n" not in head:
        chunk = sock.recv(4096)
        if not chunk:
            raise ConnectionError("closed before the head ended: %r" % head[:200])
        head += chunk
    head, rest = head.split(b"\r\n\r\n", 1)
    length = 0
    for line in head.split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value)
    return head, length, rest


def read_answer(sock, buffer=None):
    """The answer's head and its body, read into buffer (a bytearray) when given."""
    head, length, rest = read_head(sock)
    if buffer is None or len(buffer) < length:
        buffer = bytearray(length)
    view = memoryview(buffer)
    view[:len(rest)] = rest
    got = len(rest)
    while got < length:
        n = sock.recv_into(view[got:length], length - got)
        if n == 0:
            raise ConnectionError("closed inside the body")
        got += n
    return head, view[:length]


def sequential(port, pulls):
    sock = socket.create_connection(("127.0.0.1", port))
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
    sock.sendall(REQUEST)
    head, body = read_answer(sock)
    size = len(body)
    buffer = bytearray(size)
    source, target = bytearray(b"\x01" * size), bytearray(size)
    pull_seconds = copy_seconds = 0.0
    for _ in range(pulls):
        began = time.perf_counter()
        sock.sendall(REQUEST)
        read_answer(sock, buffer)
        pull_seconds += time.perf_counter() - began
        began = time.perf_counter()
        target[:] = source
        copy_seconds += time.perf_counter() - began
    sock.close()
    floor_seconds = loopback_seconds(source, pulls)
    print("snapshot of %d bytes: %.2f ms per pull, memcpy %.2f ms, pull/memcpy %.2f "
          "(target <= 3); the same bytes sent over a loopback connection by a bare sender "
          "%.2f ms, pull/bare send %.2f"
          % (size, 1e3 * pull_seconds / pulls, 1e3 * copy_seconds / pulls,
             pull_seconds / copy_seconds, 1e3 * floor_seconds / pulls,
             pull_seconds / floor_seconds))


def loopback_seconds(data, rounds):
    """Time to move data through a TCP loopback connection rounds times: what any server
    and this client pay for the kernel's two copies, whatever the server does."""
    listener = socket.create_server(("127.0.0.1", 0))
    sender = threading.Thread(target=lambda: send_rounds(listener, data, rounds), daemon=True)
    sender.start()
    sock = socket.create_connection(listener.getsockname())
    sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4 << 20)
    buffer = bytearray(len(data))
    view = memoryview(buffer)
    seconds = 0.0
    for _ in range(rounds):
        began = time.perf_counter()
        sock.sendall(b"x")
        got = 0
        while got < len(data):
            got += sock.recv_into(view[got:], len(data) - got)
        seconds += time.perf_counter() - began
    sock.close()
    sender.join()
    listener.close()
    return seconds


def send_rounds(listener, data, rounds):
    conn, _ = listener.accept()
    with conn:
        for _ in range(rounds):
            conn.recv(1)
            conn.sendall(data)


def connect_and_ask(port, count):
    socks = []
    for _ in range(count):
        sock = socket.create_connection(("127.0.0.1", port))
        sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 64 << 10)
        socks.append(sock)
    for sock in socks:
        sock.sendall(REQUEST)
    return socks


def snapshot_size(port):
    with socket.create_connection(("127.0.0.1", port)) as probe:
        probe.sendall(REQUEST)
        return len(read_answer(probe)[1])


def concurrent(port, pid, clients):
    # Before any snapshot was asked for: growth counts every copy, the shared one too.
    idle = resident_kib(pid)
    size = snapshot_size(port)
    sampler = PeakSampler(pid)
    sampler.start()
    socks = connect_and_ask(port, clients)
    # Every answer on its way before any is read: all of them are held at once.
    waiting = list(socks)
    deadline = time.monotonic() + 60
    while waiting and time.monotonic() < deadline:
        ready, _, _ = select.select(waiting, [], [], 1.0)
        waiting = [sock for sock in waiting if sock not in ready]
    time.sleep(1.0)
    digests, refused = set(), 0
    for sock in socks:
        head, body = read_answer(sock)
        if head.startswith(b"HTTP/1.1 200"):
            digests.add(hashlib.sha256(body).hexdigest())
        else:
            refused += 1
        sock.close()
    peak = sampler.stop()
    print("%d clients at once: resident idle %d MiB, peak %d MiB, growth %.2f snapshot copies "
          "(target <= 1); %d answers refused, %d distinct bodies (target 1)"
          % (clients, idle // 1024, peak // 1024, (peak - idle) * 1024.0 / size, refused,
             len(digests)))


def slow(port, pid, clients, budget_mb):
    size = snapshot_size(port)
    sampler = PeakSampler(pid)
    sampler.start()
    socks = connect_and_ask(port, clients)
    time.sleep(3.0)
    began = time.monotonic()
    try:
        with socket.create_connection(("127.0.0.1", port), timeout=10) as pusher:
            pusher.sendall(PUSH)
            head, _ = read_answer(pusher)
    except (OSError, ConnectionError):
        head = b"no answer"
    push_ms = 1e3 * (time.monotonic() - began)
    time.sleep(1.0)
    peak = sampler.stop()
    limit = budget_mb * 1024 + size // 1024 + 50 * 1024
    print("%d never-reading pulls of %d bytes, budget %d MiB: peak resident %d MiB, limit "
          "budget + one snapshot + 50 MiB = %d MiB (peak/limit %.2f, target <= 1); push "
          "answered %s after %.0f ms (target: 200 within 10 s)"
          % (clients, size, budget_mb, peak // 1024, limit // 1024, peak / limit,
             head.split(b"\r\n")[0].decode(), push_ms))
    admitted = 0
    for sock in socks:
        sock.settimeout(5)
        try:
            admitted += sock.recv(15).startswith(b"HTTP/1.1 200")
        except OSError:
            pass
        sock.close()
    print("answers admitted: %d of %d (the rest refused for the budget)" % (admitted, clients))


def main():
    kind, port = sys.argv[1], int(sys.argv[2])
    if kind == "sequential":
        sequential(port, int(sys.argv[3]))
    elif kind == "concurrent":
        concurrent(port, int(sys.argv[3]), int(sys.argv[4]))
    elif kind == "slow":
        slow(port, int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5]))
    else:
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
