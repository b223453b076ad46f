#!/usr/bin/env python3
"""metrics_scrape.py PORT SERVER_PID IDLE: scrape times alone and beside IDLE silent
connections (see bench/metrics_scrape.sh)."""
import http.client
import socket
import statistics
import sys
import time


def scrape_seconds(port):
    started = time.monotonic()
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=60)
    conn.request("GET", "/metrics")
    response = conn.getresponse()
    response.read()
    conn.close()
    assert response.status == 200, response.status
    return time.monotonic() - started


def resident_mib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1]) / 1024.0
    return 0.0


def rounds(port):
    times = []
    for _ in range(20):
        times.append(scrape_seconds(port))
        time.sleep(0.05)
    return statistics.median(times), max(times)


def main():
    port, pid, idle = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
    alone_median, alone_worst = rounds(port)
    rss_alone = resident_mib(pid)
    held = [socket.create_connection(("127.0.0.1", port)) for _ in range(idle)]
    time.sleep(0.2)
    busy_median, busy_worst = rounds(port)
    rss_busy = resident_mib(pid)
    print("scrape alone:            median %.2f ms, worst %.2f ms, resident %.1f MiB"
          % (alone_median * 1e3, alone_worst * 1e3, rss_alone))
    print("scrape beside %d idle: median %.2f ms, worst %.2f ms, resident %.1f MiB"
          % (idle, busy_median * 1e3, busy_worst * 1e3, rss_busy))
    print("ratio to alone: median %.2fx, worst %.2fx (target: every scrape within 1 s)"
          % (busy_median / alone_median, busy_worst / alone_median))
    for sock in held:
        sock.close()


if __name__ == "__main__":
    main()
