#!/usr/bin/env python3
"""Everything at once against the real service, with its saves slowed down.

Pushers, pullers, management clears, stops and starts of the HTTP server and SIGHUP
reloads run together for a bounded time while an LD_PRELOAD shim makes the service's
fsyncs slow; then the service is killed with SIGKILL and started again. Checked:
- every request got an answer, unless a stop of the HTTP server closed its connection;
- every push acknowledged after the last acknowledged clear of its collection is stored,
  at the index it was given, and no two of them were given the same index.
A push in flight across that clear may have taken effect before it; it is excused only
when its index is too high to have been handed out after the clear (clears of one
collection are spaced so that the index of a push before the clear cannot be that low).

Usage: service_stress_test.py <VantorSyncSvc> <VantorSyncCtl> <slow fsync shim>
Run inside dbus-run-session. STRESS_SECONDS sets the time under load (default 25).
"""
import http.client
import os
import random
import shutil
import signal
import struct
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import management_harness as harness  # noqa: E402
from sync_wire import config_text, descriptor, wait_until, wl_record  # noqa: E402

SECONDS = float(os.environ.get("STRESS_SECONDS", "25"))
PUSHERS = 8
PULLERS = 8
RESET_MARKER = wl_record(1, -1)
COLLECTIONS = ("wl", "ts")


def now():
    return time.monotonic()


class Journal:
    """What the clients saw, with the times at which they saw it."""

    def __init__(self):
        self.lock = threading.Lock()
        self.pushes = []  # (collection, content, newIndex, sent, acked)
        self.unanswered = []  # (connection opened, failed, path, what happened)
        self.stops = []  # [stop called, start returned or None]
        self.clears = {c: [] for c in COLLECTIONS}  # (called, returned)
        self.answered = 0

    def excused(self, opened, failed):
        """A stop closes every connection it finds open; nothing else may go unanswered."""
        return any(begun <= failed and (ended is None or ended >= opened)
                   for begun, ended in self.stops)


class Client(threading.Thread):
    """One keep-alive connection at a time; a refused connection is not a request."""

    def __init__(self, port, journal, done):
        super().__init__(daemon=True)
        self.port, self.journal, self.done = port, journal, done
        self.conn, self.opened = None, 0.0

    def run(self):
        try:
            self.work()
        finally:
            if self.conn is not None:
                self.conn.close()

    def exchange(self, method, path, body=b"", headers=None):
        if self.conn is None:
            conn = http.client.HTTPConnection("127.0.0.1", self.port, timeout=15)
            try:
                conn.connect()
            except OSError:
                time.sleep(0.05)  # the server is stopped
                return None
            self.conn, self.opened = conn, now()
        sent = now()
        try:
            self.conn.request(method, path, body=body, headers=dict(headers or {}, **{
                "User-Host": "ws"}))
            response = self.conn.getresponse()
            data = response.read()
        except (OSError, http.client.HTTPException) as error:
            failed = now()
            self.conn.close()
            self.conn = None
            with self.journal.lock:
                self.journal.unanswered.append((self.opened, failed, path, repr(error)))
            return None
        if response.will_close:
            self.conn.close()
            self.conn = None
        with self.journal.lock:
            self.journal.answered += 1
        return response.status, response.getheader("newIndex"), data, sent, now()


class Pusher(Client):
    def __init__(self, port, journal, done, number):
        super().__init__(port, journal, done)
        self.number = number

    def work(self):
        serial = 0
        while not self.done.is_set():
            serial += 1
            key = (self.number + 1) * 10**9 + serial
            if serial % 2:
                collection, path, body = "wl", "/post_wl_updates", wl_record(1, key)
            else:
                collection, path = "ts", "/post_ts_updates"
                body = descriptor(1 + serial % 5, [key, -key])
            answer = self.exchange("POST", path, body)
            if answer is None or answer[0] != 200 or answer[1] is None:
                continue
            with self.journal.lock:
                self.journal.pushes.append((collection, key, int(answer[1]), answer[3],
                                            answer[4]))


class Puller(Client):
    def work(self):
        while not self.done.is_set():
            for path in ("/get_wl_updates", "/get_ts_updates", "/version"):
                self.exchange("GET", path, headers={"startIndex": str(random.randrange(50))})


class Manager(threading.Thread):
    """Clears, stops and starts, and reloads, at random moments."""

    def __init__(self, service, journal, done):
        super().__init__(daemon=True)
        self.service, self.journal, self.done = service, journal, done
        self.failures = []
        self.log_enabled = 0
        self.last_clear = {}

    def ctl(self, *args):
        result = harness.ctl(*args)
        if result.returncode != 0:
            self.failures.append((args, result.stderr))
        return result.returncode == 0

    def run(self):
        while not self.done.wait(random.uniform(0.1, 0.5)):
            action = random.choice(["clear", "clear", "restart", "restart", "restart", "reload"])
            if action == "clear":
                # Clears of one collection are spaced wider than any commit takes: a push
                # numbered after one clear cannot then still be waiting at the next.
                ready = [c for c in COLLECTIONS if now() - self.last_clear.get(c, -99) > 4]
                if not ready:
                    continue
                collection = random.choice(ready)
                self.last_clear[collection] = called = now()
                if self.ctl("clear-whitelist" if collection == "wl" else "clear-training-db"):
                    with self.journal.lock:
                        self.journal.clears[collection].append((called, now()))
            elif action == "restart":
                window = [now(), None]
                with self.journal.lock:
                    self.journal.stops.append(window)
                self.ctl("stop")
                time.sleep(random.uniform(0, 0.3))
                self.ctl("start")
                window[1] = now()
                # Whatever the stop left behind, a new client is answered at once.
                try:
                    answered = harness.http_request(self.service.port, "GET", "/version",
                                                    timeout=5)[0].status == 200
                except OSError as error:
                    answered = error
                if answered is not True:
                    self.failures.append(("no answer to /version after a start", answered))
            else:
                self.log_enabled ^= 1
                with open(self.service.path("config.xml"), "wb") as f:
                    f.write(config_text(self.service.port, "  <log_enabled>%d</log_enabled>\r\n"
                                        % self.log_enabled).encode())
                self.service.proc.send_signal(signal.SIGHUP)


def pull_all(service, path):
    """Every record from index 0 on, page by page, and the index after the last."""
    body, start = b"", 0
    while True:
        response, data = service.request("GET", path, headers={
            "User-Host": "ws", "startIndex": str(start)})
        assert response.status == 200, "pull %s answered %d" % (path, response.status)
        new_index = int(response.getheader("newIndex"))
        body += data
        if new_index == start or not data:
            return body, new_index
        start = new_index


def whitelist_keys(body):
    if body[:9] == RESET_MARKER:
        body = body[9:]
    keys = set()
    for at in range(0, len(body), 9):
        op, key = struct.unpack_from("<Bq", body, at)
        (keys.add if op else keys.discard)(key)
    return keys


def first_descriptor_values(body):
    if len(body) < 12:
        return None
    _, _, count = struct.unpack_from("<IiI", body, 0)
    return struct.unpack_from("<%dq" % count, body, 12)


def required_pushes(journal, collection):
    """The pushes that must survive: acknowledged after the last acknowledged clear,
    except those in flight across it whose index proves they came before it."""
    clears = journal.clears[collection]
    pushes = [p for p in journal.pushes if p[0] == collection]
    if not clears:
        return pushes
    called, returned = clears[-1]
    sent_since = sorted(p[3] for p in pushes if p[3] > called)
    required = []
    for push in pushes:
        if push[4] <= returned:
            continue
        if push[3] < returned:
            # After the clear at most the pushes sent since it began, and one in flight
            # per pusher, can have been numbered before this one's answer.
            issued_after = sum(1 for t in sent_since if t <= push[4]) + PUSHERS
            if push[2] > issued_after:
                continue
        required.append(push)
    return required


class StressTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="vsstress")
        self.service = None

    def tearDown(self):
        if self.service and self.service.proc and self.service.proc.poll() is None:
            self.service.proc.kill()
            self.service.finish()
        wait_until(lambda: not harness.name_on_bus())
        shutil.rmtree(self.home, ignore_errors=True)

    def start_service(self, shim=None, write_config=True, port=None):
        service = harness.Service(self.home, port=port, write_config=write_config)
        if shim:
            service.env.update(
                LD_PRELOAD=shim, SLOW_FSYNC_MS="20-250",
                SLOW_FSYNC_FILES="whitelist_h.bin,whitelist.bin,histdata.bin,histopt.bin",
                # A sanitizer build must accept a library loaded before its runtime.
                ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") + ":verify_asan_link_order=0")
        self.service = service.start()
        self.assertTrue(wait_until(lambda: self.answers_version(service)),
                        "service does not answer: %r" % service.banner)
        return service

    @staticmethod
    def answers_version(service):
        try:
            return service.request("GET", "/version")[0].status == 200
        except OSError:
            return False

    def test_everything_at_once_then_kill_and_restart(self):
        service = self.start_service(shim=SHIM)
        journal, done = Journal(), threading.Event()
        threads = [Pusher(service.port, journal, done, n) for n in range(PUSHERS)]
        threads += [Puller(service.port, journal, done) for _ in range(PULLERS)]
        managing = threading.Event()
        manager = Manager(service, journal, managing)
        for thread in threads + [manager]:
            thread.start()
        time.sleep(SECONDS * 0.8)
        # The last part runs without management calls, so the final clears have pushes
        # after them and every stop has ended before the clients do.
        managing.set()
        manager.join(timeout=120)
        time.sleep(SECONDS * 0.2)
        done.set()
        for thread in threads:
            thread.join(timeout=60)
        self.assertEqual(manager.failures, [])

        lost_answers = [u for u in journal.unanswered if not journal.excused(u[0], u[1])]
        print("stress: %d answers, %d unanswered (%d outside a stop), %d acknowledged pushes,"
              " %d clears, %d stops" % (journal.answered, len(journal.unanswered),
                                        len(lost_answers), len(journal.pushes),
                                        sum(len(c) for c in journal.clears.values()),
                                        len(journal.stops)))
        self.assertEqual(lost_answers, [], "requests without an answer outside a stop")
        self.assertGreater(len(journal.pushes), 50, "the load did not get through")

        service.proc.kill()
        service.finish()
        self.assertTrue(wait_until(lambda: not harness.name_on_bus()))
        service = self.start_service(write_config=False, port=service.port)
        self.check_collection(service, journal, "wl", "/get_wl_updates")
        self.check_collection(service, journal, "ts", "/get_ts_updates")

    def check_collection(self, service, journal, collection, path):
        required = required_pushes(journal, collection)
        by_index = {}
        for push in required:
            other = by_index.setdefault(push[2], push)
            self.assertEqual(other[1], push[1], "%s index %d given to two pushes: %r and %r;"
                             " clears %r" % (collection, push[2], other, push,
                                             journal.clears[collection][-3:]))
        body, _ = pull_all(service, path)
        if collection == "wl":
            stored = whitelist_keys(body)
        else:
            stored = set()
            at = 0
            while at + 12 <= len(body):
                count = struct.unpack_from("<I", body, at + 8)[0]
                stored.add(struct.unpack_from("<q", body, at + 12)[0])
                at += 12 + 8 * count
        missing = [p for p in required if p[1] not in stored]
        self.assertEqual(missing, [], "%s: acknowledged pushes lost after kill -9" % collection)
        # Each sits at the index it was given.
        for push in random.sample(required, min(200, len(required))):
            response, data = service.request("GET", path, headers={
                "User-Host": "ws", "startIndex": str(push[2] - 1)})
            self.assertEqual(response.status, 200)
            if data[:9] == RESET_MARKER:
                continue
            if collection == "wl":
                self.assertEqual(data[:9], wl_record(1, push[1]), "index %d" % push[2])
            else:
                self.assertEqual(first_descriptor_values(data), (push[1], -push[1]),
                                 "index %d" % push[2])


if __name__ == "__main__":
    harness.PROGRAMS["server"], harness.PROGRAMS["ctl"], SHIM = sys.argv[1:4]
    del sys.argv[1:4]
    unittest.main(verbosity=2)
