#!/usr/bin/env python3
"""Attack scenarios against a running sync server on 127.0.0.1.

  attack_load.py heads PORT PID COUNT HEAD_BYTES BUDGET_MB
      COUNT connections each send up to HEAD_BYTES of a head that never ends;
  attack_load.py bodies PORT PID COUNT DECLARED SENT BUDGET_MB
      COUNT connections each declare a body of DECLARED bytes and send SENT of them.
  attack_load.py silent PORT COUNT SECONDS
      COUNT connections from 127.0.0.2 send nothing while a client from 127.0.0.3 asks for
      /version on a new connection every 100 ms; prints how many of its requests were
      answered, the slowest answer, and how many silent connections the server kept.
The first two print the server's resident size idle, at its peak during the attack (sampled every
20 ms) and after the attackers left, and the p99 of fast clients pulling alone and during
the attack. Every loop is bounded in count and time.
"""
import os
import resource
import signal
import socket
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from connection_load import fast_latencies, percentile  # noqa: E402

FAST_CLIENTS = 8
FAST_SECONDS = 5.0


def resident_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


class PeakSampler(threading.Thread):
    def __init__(self, pid):
        super().__init__(daemon=True)
        self.pid, self.peak, self.running = pid, 0, True

    def run(self):
        while self.running:
            self.peak = max(self.peak, resident_kib(self.pid))
            time.sleep(0.02)

    def stop(self):
        self.running = False
        self.join()
        return self.peak


def send_some(sock, data, deadline):
    """Sends as much of data as the server takes before deadline; returns the count."""
    sock.setblocking(False)
    sent = 0
    while sent < len(data) and time.monotonic() < deadline:
        try:
            sent += sock.send(data[sent:sent + 65536])
        except BlockingIOError:
            time.sleep(0.002)
        except OSError:
            break
    return sent


def attack_heads(port, count, head_bytes, stop_event, holders):
    head = b"GET /version HTTP/1.1\r\nX-Filler: " + b"x" * head_bytes
    for _ in range(count):
        try:
            s = socket.create_connection(("127.0.0.1", port), timeout=30)
        except OSError:
            continue
        holders.append(s)
        send_some(s, head[:16384], time.monotonic() + 0.05)
    # The rest slowly, 2 KiB per connection five times a second, while the fast
    # clients measure: every head stays unfinished for as long as the server lets it.
    at = 16384
    while at < len(head) and not stop_event.is_set():
        for s in list(holders):
            send_some(s, head[at:at + 2048], time.monotonic() + 0.005)
        at += 2048
        stop_event.wait(0.2)


def attack_bodies(port, count, declared, sent_bytes, stop_event, holders):
    head = (b"POST /post_wl_updates HTTP/1.1\r\nUser-Host: attacker\r\n"
            b"Content-Length: %d\r\n\r\n" % declared)
    piece = b"\x01" * (1 << 20)
    for _ in range(count):
        s = socket.create_connection(("127.0.0.1", port), timeout=30)
        s.sendall(head)
        holders.append([s, 0])
    while not stop_event.is_set():
        busy = False
        for entry in holders:
            if entry[1] < sent_bytes:
                n = send_some(entry[0], piece[:min(len(piece), sent_bytes - entry[1])],
                              time.monotonic() + 0.05)
                entry[1] += n
                busy = busy or n > 0
        if not busy:
            time.sleep(0.05)


def silent_lockout(port, count, seconds):
    raise_file_limit()
    silent = []
    for _ in range(count):
        s = socket.socket()
        s.bind(("127.0.0.2", 0))
        s.settimeout(5)
        try:
            s.connect(("127.0.0.1", port))
            silent.append(s)
        except OSError:
            s.close()
    answered, asked, slowest = 0, 0, 0.0
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        asked += 1
        began = time.monotonic()
        try:
            with socket.socket() as probe:
                probe.bind(("127.0.0.3", 0))
                probe.settimeout(5)
                probe.connect(("127.0.0.1", port))
                probe.sendall(b"GET /version HTTP/1.1\r\nHost: x\r\n\r\n")
                if probe.recv(4096).startswith(b"HTTP/1.1 200"):
                    answered += 1
                    slowest = max(slowest, time.monotonic() - began)
        except OSError:
            pass
        time.sleep(0.1)
    kept = 0
    for s in silent:
        s.setblocking(False)
        try:
            s.recv(1)  # an answer or the close: not kept
        except BlockingIOError:
            kept += 1
        except OSError:
            pass
        s.close()
    print("silent %d: /version answered %d of %d (target: all), slowest %.3f s (target <= 1); "
          "silent connections still open after %.0f s: %d (target 0)"
          % (count, answered, asked, slowest, seconds, kept))


def raise_file_limit():
    hard = resource.getrlimit(resource.RLIMIT_NOFILE)[1]
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))


def attacker_child(attack):
    """Runs in a process of its own, so the attack does not share the measuring
    process's interpreter lock with the fast clients; ends on SIGTERM."""
    raise_file_limit()
    stop_event = threading.Event()
    signal.signal(signal.SIGTERM, lambda *_: stop_event.set())
    holders = []
    thread = threading.Thread(target=attack, args=(stop_event, holders), daemon=True)
    thread.start()
    stop_event.wait(timeout=120)
    thread.join(timeout=60)
    for entry in holders:
        (entry[0] if isinstance(entry, list) else entry).close()


def run(kind, port, pid, budget_mb, attack_args):
    raise_file_limit()
    idle = resident_kib(pid)
    alone = fast_latencies(port, FAST_CLIENTS, FAST_SECONDS)
    sampler = PeakSampler(pid)
    sampler.start()
    child = subprocess.Popen([sys.executable, os.path.abspath(__file__)] + attack_args)
    time.sleep(2.0)  # let the attack build up
    during = fast_latencies(port, FAST_CLIENTS, FAST_SECONDS)
    time.sleep(1.0)
    child.send_signal(signal.SIGTERM)
    child.wait(timeout=120)
    peak = sampler.stop()
    time.sleep(3.0)
    after = resident_kib(pid)
    a99, d99 = percentile(alone, 99), percentile(during, 99)
    print("%s: resident idle %d MiB, peak %d MiB (budget %d MiB; peak - budget = %d MiB, "
          "target <= 100), after %d MiB (after/idle %.2f, target <= 2)"
          % (kind, idle // 1024, peak // 1024, budget_mb, peak // 1024 - budget_mb,
             after // 1024, after / max(1, idle)))
    print("%s: fast clients p99 alone %.2f ms, during attack %.2f ms (ratio %.2f, target <= 3);"
          " %d + %d pulls" % (kind, 1000 * a99, 1000 * d99, d99 / a99, len(alone), len(during)))


def main():
    kind, port = sys.argv[1], int(sys.argv[2])
    if kind == "attack-heads":
        count, head_bytes = int(sys.argv[3]), int(sys.argv[4])
        attacker_child(lambda stop, holders: attack_heads(port, count, head_bytes, stop, holders))
    elif kind == "attack-bodies":
        count, declared, sent = int(sys.argv[3]), int(sys.argv[4]), int(sys.argv[5])
        attacker_child(
            lambda stop, holders: attack_bodies(port, count, declared, sent, stop, holders))
    elif kind == "silent":
        silent_lockout(port, int(sys.argv[3]), float(sys.argv[4]))
    elif kind == "heads":
        pid, count, head_bytes, budget = (int(sys.argv[3]), sys.argv[4], sys.argv[5],
                                          int(sys.argv[6]))
        run("%s slow heads" % count, port, pid, budget,
            ["attack-heads", str(port), count, head_bytes])
    elif kind == "bodies":
        pid, count, declared, sent, budget = (int(sys.argv[3]), sys.argv[4], sys.argv[5],
                                              sys.argv[6], int(sys.argv[7]))
        run("%s unfinished bodies" % count, port, pid, budget,
            ["attack-bodies", str(port), count, declared, sent])
    else:
        raise SystemExit(__doc__)
    return 0


if __name__ == "__main__":
    sys.exit(main())
