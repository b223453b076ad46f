#!/usr/bin/env python3
"""Connection load against a running sync server on 127.0.0.1.

  connection_load.py many PORT PID COUNT
      opens COUNT keep-alive connections at once, then sends one pull on every one of
      them and reads all answers; prints answered count, time, latency percentiles and
      the server's resident size and CPU use.
  connection_load.py slow PORT PID SLOW FAST SECONDS
      measures the latency of FAST clients that pull again and again, first alone and then
      while SLOW clients (a separate process) read a large answer one byte at a time.
Every loop is bounded in count and time.
"""
import os
import resource
import selectors
import socket
import subprocess
import sys
import time

PULL = (b"GET /get_wl_updates HTTP/1.1\r\nHost: bench\r\nUser-Host: bench\r\n"
        b"startIndex: %d\r\n\r\n")


def raise_file_limit():
    soft, hard = resource.getrlimit(resource.RLIMIT_NOFILE)
    resource.setrlimit(resource.RLIMIT_NOFILE, (hard, hard))


def server_figures(pid):
    status = {}
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            key, _, value = line.partition(":")
            status[key] = value.strip()
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    ticks = int(fields[11]) + int(fields[12])
    return int(status["VmRSS"].split()[0]), int(status["VmHWM"].split()[0]), ticks


def percentile(values, p):
    if not values:
        return float("nan")
    ordered = sorted(values)
    return ordered[min(len(ordered) - 1, int(len(ordered) * p / 100.0))]


def response_complete(data):
    """Length of the first whole response in data, or 0."""
    head_end = data.find(b"\r\n\r\n")
    if head_end < 0:
        return 0
    length = 0
    for line in data[:head_end].split(b"\r\n")[1:]:
        name, _, value = line.partition(b":")
        if name.strip().lower() == b"content-length":
            length = int(value)
    total = head_end + 4 + length
    return total if len(data) >= total else 0


def open_connections(port, count, deadline):
    """Non-blocking connects in batches; returns the connected sockets."""
    connected = []
    selector = selectors.DefaultSelector()
    pending = 0
    started = 0
    while (started < count or pending) and time.monotonic() < deadline:
        while started < count and pending < 512:
            s = socket.socket()
            s.setblocking(False)
            s.connect_ex(("127.0.0.1", port))
            selector.register(s, selectors.EVENT_WRITE)
            started += 1
            pending += 1
        for key, _ in selector.select(timeout=1.0):
            s = key.fileobj
            selector.unregister(s)
            pending -= 1
            if s.getsockopt(socket.SOL_SOCKET, socket.SO_ERROR) == 0:
                connected.append(s)
            else:
                s.close()
    selector.close()
    return connected


def pull_on_all(sockets, start_index, deadline):
    """One pull per socket, all in flight together; returns the latencies of the answered."""
    selector = selectors.DefaultSelector()
    request = PULL % start_index
    state = {}
    for s in sockets:
        state[s] = [time.monotonic(), b""]
        s.send(request)
        selector.register(s, selectors.EVENT_READ)
    latencies = []
    while state and time.monotonic() < deadline:
        for key, _ in selector.select(timeout=1.0):
            s = key.fileobj
            entry = state[s]
            try:
                chunk = s.recv(65536)
            except OSError:
                chunk = b""
            if not chunk:
                selector.unregister(s)
                del state[s]
                continue
            entry[1] += chunk
            if response_complete(entry[1]):
                latencies.append(time.monotonic() - entry[0])
                selector.unregister(s)
                del state[s]
    selector.close()
    return latencies


def run_many(port, pid, count):
    raise_file_limit()
    deadline = time.monotonic() + 120
    rss0, _, ticks0 = server_figures(pid)
    began = time.monotonic()
    sockets = open_connections(port, count, deadline)
    connect_seconds = time.monotonic() - began
    rss1, _, _ = server_figures(pid)
    began = time.monotonic()
    # The newest 100 changes: a 900-byte answer each.
    latencies = pull_on_all(sockets, 99900, deadline)
    pull_seconds = time.monotonic() - began
    # Keep-alive: the same connections answer a second round.
    latencies2 = pull_on_all(sockets, 99900, deadline)
    rss2, hwm, ticks2 = server_figures(pid)
    hz = os.sysconf("SC_CLK_TCK")
    print("connections: %d of %d open in %.2f s" % (len(sockets), count, connect_seconds))
    print("pulls answered: %d + %d (second round, same connections) of %d; first round %.2f s"
          % (len(latencies), len(latencies2), len(sockets), pull_seconds))
    print("pull latency with all in flight: p50 %.1f ms, p99 %.1f ms, max %.1f ms"
          % (1000 * percentile(latencies, 50), 1000 * percentile(latencies, 99),
             1000 * max(latencies or [float("nan")])))
    print("server resident size: %d MiB idle, %d MiB with %d connections, %d MiB after pulls "
          "(peak %d MiB); %.1f KiB per connection"
          % (rss0 // 1024, rss1 // 1024, len(sockets), rss2 // 1024, hwm // 1024,
             (rss1 - rss0) / max(1, len(sockets))))
    print("server CPU: %.2f s for connects and both rounds" % ((ticks2 - ticks0) / hz))
    for s in sockets:
        s.close()
    return 0 if len(latencies) == len(sockets) == count and len(latencies2) == count else 1


def slow_readers(port, count, seconds):
    """Child process: COUNT clients ask for the whole whitelist and read one byte at a
    time, each with a small receive buffer, until SECONDS pass."""
    sockets = []
    for _ in range(count):
        s = socket.socket()
        s.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 4096)
        s.connect(("127.0.0.1", port))
        s.sendall(PULL % 0)
        s.setblocking(False)
        sockets.append(s)
    print("ready", flush=True)
    got = 0
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        for s in sockets:
            try:
                got += len(s.recv(1))
            except BlockingIOError:
                pass
        time.sleep(0.01)
    print(got, flush=True)


def fast_latencies(port, clients, seconds):
    """CLIENTS keep-alive connections pull the newest changes in turn for SECONDS."""
    sockets = [socket.create_connection(("127.0.0.1", port), timeout=30)
               for _ in range(clients)]
    end_index = 99900  # the newest 100 changes: a 900-byte answer
    latencies = []
    stop = time.monotonic() + seconds
    while time.monotonic() < stop:
        for s in sockets:
            began = time.monotonic()
            s.sendall(PULL % end_index)
            data = b""
            while not response_complete(data):
                chunk = s.recv(65536)
                if not chunk:
                    raise RuntimeError("server closed a fast client")
                data += chunk
            latencies.append(time.monotonic() - began)
    for s in sockets:
        s.close()
    return latencies


def run_slow(port, pid, slow, fast, seconds):
    raise_file_limit()
    alone = fast_latencies(port, fast, seconds)
    child = subprocess.Popen([sys.executable, __file__, "slow-child", str(port), str(slow),
                              str(seconds + 5)], stdout=subprocess.PIPE, text=True)
    child.stdout.readline()
    rss_before, _, ticks0 = server_figures(pid)
    with_slow = fast_latencies(port, fast, seconds)
    rss_during, _, ticks1 = server_figures(pid)
    slow_bytes = int(child.stdout.readline() or 0)
    child.wait(timeout=60)
    hz = os.sysconf("SC_CLK_TCK")
    a50, a99 = percentile(alone, 50), percentile(alone, 99)
    s50, s99 = percentile(with_slow, 50), percentile(with_slow, 99)
    print("fast clients alone: %d pulls, p50 %.2f ms, p99 %.2f ms"
          % (len(alone), 1000 * a50, 1000 * a99))
    print("with %d slow readers: %d pulls, p50 %.2f ms, p99 %.2f ms (ratio p50 %.2f, p99 %.2f);"
          " slow readers took %d bytes" % (slow, len(with_slow), 1000 * s50, 1000 * s99,
                                           s50 / a50, s99 / a99, slow_bytes))
    print("server during slow readers: resident %d MiB, CPU %.1f%%"
          % (rss_during // 1024, 100.0 * (ticks1 - ticks0) / hz / seconds))
    return 0


def main():
    mode = sys.argv[1]
    if mode == "many":
        return run_many(int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]))
    if mode == "slow":
        return run_slow(int(sys.argv[2]), int(sys.argv[3]), int(sys.argv[4]),
                        int(sys.argv[5]), float(sys.argv[6]))
    if mode == "slow-child":
        slow_readers(int(sys.argv[2]), int(sys.argv[3]), float(sys.argv[4]))
        return 0
    raise SystemExit(__doc__)


if __name__ == "__main__":
    sys.exit(main())
