"""Backup, verify and restore end to end, and the durable clears: the real service on a
private session bus, driven by VantorSyncCtl while http.client clients push and pull."""
import json
import re
import os
import shutil
import signal
import struct
import subprocess
import sys
import threading

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))

from management_harness import (PROGRAMS, Service, ServiceTest, ctl, name_on_bus,  # noqa: E402
                                wait_until)
from sync_wire import descriptor, http_request, wl_record  # noqa: E402

SHIM = {"path": None}
RESET = wl_record(1, -1)


def keys_after(records):
    keys = set()
    for i in range(0, len(records), 9):
        op, key = struct.unpack("<Bq", records[i:i + 9])
        (keys.add if op else keys.discard)(key)
    return keys


def descriptors_of(body):
    found, at = [], 0
    while at < len(body):
        label, _, count = struct.unpack_from("<IiI", body, at)
        values = struct.unpack_from("<%dq" % count, body, at + 12)
        found.append((label, tuple(sorted(values))))
        at += 12 + 8 * count
    return found


class Client:
    """One workstation: remembers its indexes as the server told them."""

    def __init__(self, service, host):
        self.service, self.host = service, host
        self.wl_index = self.ts_index = 0
        self.keys, self.received = set(), []

    def ask(self, path, start, body=b""):
        response, data = self.service.request(
            "POST" if body else "GET", path, body,
            {"User-Host": self.host, "startIndex": str(start)})
        assert response.status == 200, (path, response.status)
        return int(response.getheader("newIndex")), data

    def push_wl(self, records):
        return self.ask("/post_wl_updates", 0, records)[0]

    def push_ts(self, body):
        return self.ask("/post_ts_updates", 0, body)[0]

    def pull_wl(self):
        index, data = self.ask("/get_wl_updates", self.wl_index)
        if data.startswith(RESET):
            self.keys = keys_after(data[9:])
        else:
            self.keys = keys_after_on(self.keys, data)
        self.wl_index = index
        return index

    def pull_ts(self):
        """Pages until the end. A training client cannot be told to forget: after a restore
        it is sent the whole history from its start, which is what `received` holds."""
        self.received = []
        while True:
            index, data = self.ask("/get_ts_updates", self.ts_index)
            self.received += descriptors_of(data)
            done = index == self.ts_index or not data
            self.ts_index = index
            if done:
                return index


def keys_after_on(keys, records):
    keys = set(keys)
    for i in range(0, len(records), 9):
        op, key = struct.unpack("<Bq", records[i:i + 9])
        (keys.add if op else keys.discard)(key)
    return keys


class BackupTest(ServiceTest):
    def restart(self, fresh=False, kill=False):
        """A new service process; fresh: in an empty data folder."""
        port = self.service.port if self.service and not fresh else None
        if self.service and self.service.proc.poll() is None:
            if kill:
                self.service.proc.send_signal(signal.SIGKILL)
                self.service.finish()
            else:
                self.service.stop()
            wait_until(lambda: not name_on_bus())
        if fresh:
            shutil.rmtree(os.path.join(self.home, "VantorSyncSvc"), ignore_errors=True)
        return self.start_service(port=port)

    def backup(self, name="b1"):
        target = os.path.join(self.home, name)
        out = self.ctl_ok("backup", target)
        self.assertIn(target, out)
        with open(os.path.join(target, "manifest.json")) as f:
            return target, json.load(f)

    def fill(self, client, first, count):
        client.push_wl(b"".join(wl_record(1, k) for k in range(first, first + count)))
        client.push_ts(b"".join(descriptor(7, [k, k + 1]) for k in range(first, first + count)))

    def full_state(self, name="fresh"):
        fresh = Client(self.service, name)
        fresh.pull_wl()
        fresh.pull_ts()
        return fresh

    def test_backup_under_load_restores_exactly_the_manifests_state(self):
        service = self.start_service()
        loader = Client(service, "loader")
        self.fill(loader, 1, 200)
        stop = threading.Event()
        failures = []

        def push(offset):
            client, k = Client(service, "p%d" % offset), 1000 + offset
            while not stop.is_set():
                try:
                    client.push_wl(wl_record(1, k) + wl_record(0, k - 8))
                    client.push_ts(descriptor(3, [k, -k]))
                except Exception as error:  # noqa: BLE001
                    failures.append(error)
                k += 8
        threads = [threading.Thread(target=push, args=(i,)) for i in range(8)]
        for thread in threads:
            thread.start()
        try:
            wait_until(lambda: loader.pull_wl() > 400)
            target, manifest = self.backup()
            live = ctl("verify")
            self.assertEqual(live.returncode, 0, live.stdout)
        finally:
            stop.set()
            for thread in threads:
                thread.join()
        self.assertEqual(failures, [])
        self.assertEqual(ctl("verify", target).returncode, 0)
        # The changes the server numbered below the manifest's ends are the backup's state.
        history = Client(service, "history")
        _, records = history.ask("/get_wl_updates", 0)
        wl_end = manifest["whitelist"]["end_index"]
        self.assertLess(wl_end, history.pull_wl())
        expected_keys = keys_after(records[:9 * wl_end])
        history.pull_ts()
        ts_end = manifest["training_db"]["end_index"]
        expected_descriptors = history.received[:ts_end]

        out = self.ctl_ok("restore", target)
        self.assertIn("before-restore-", out)
        fresh = self.full_state()
        self.assertEqual(fresh.keys, expected_keys)
        self.assertEqual(fresh.received, expected_descriptors)

    def test_restore_lets_no_client_skip_a_change(self):
        # (restore into the same data folder, into a lost one that only the backup knows)
        for lost in (False, True):
            with self.subTest(lost=lost):
                self.restart(fresh=True)
                service = self.service
                early, late = Client(service, "early"), Client(service, "late")
                self.fill(early, 1, 50)
                early.pull_wl(), early.pull_ts()
                target, manifest = self.backup("older-%d" % lost)
                self.fill(late, 100, 50)
                late.push_wl(b"".join(wl_record(0, k) for k in range(1, 20)))
                late.pull_wl(), late.pull_ts()
                held = [late.wl_index, late.ts_index]
                if lost:
                    old_port = service.port
                    service = self.restart(fresh=True)
                    late.service = early.service = service
                self.ctl_ok("restore", target)
                if lost:
                    service.port = old_port  # the restored config.xml's port
                wl_next = late.push_wl(wl_record(1, 9999)) - 1
                ts_next = late.push_ts(descriptor(1, [9999])) - 1
                # No index a client held names another change now.
                self.assertGreater(wl_next, max(held[0], manifest["whitelist"]["end_index"]))
                self.assertGreater(ts_next, max(held[1], manifest["training_db"]["end_index"]))
                if lost:
                    self.assertGreaterEqual(wl_next - manifest["whitelist"]["end_index"], 1 << 24)
                fresh = self.full_state()
                for client in (early, late):
                    client.pull_wl(), client.pull_ts()
                    self.assertEqual(client.keys, fresh.keys)
                    self.assertEqual(client.received, fresh.received)
                self.assertIn(9999, fresh.keys)
                self.assertNotIn(120, fresh.keys)
                self.assertIn(10, fresh.keys)

    def test_verify_finds_each_damage_and_passes_a_clean_backup(self):
        service = Service(self.home)
        service.env["VANTORSYNC_METRICS"] = "127.0.0.1:0"
        self.service = service.start()
        client = Client(service, "ws")
        self.fill(client, 1, 30)
        target, manifest = self.backup()
        self.assertEqual(ctl("verify", target).returncode, 0)
        self.assertEqual(os.stat(target).st_mode & 0o777, 0o700)
        for name in os.listdir(target):
            self.assertEqual(os.stat(os.path.join(target, name)).st_mode & 0o777, 0o600, name)
        # The scrape tells the last backup: its time and every byte it holds.
        lines = service.banner + service.proc.stdout.readline()
        metrics_port = int(re.search(r"metrics on http://[0-9.]+:(\d+)/", lines).group(1))
        _, text = http_request(metrics_port, "GET", "/metrics")
        size = sum(f["size"] for f in manifest["files"]) + os.path.getsize(
            os.path.join(target, "manifest.json"))

        def value(name):
            return float(re.search(rb"^%s (\S+)$" % name, text, re.M).group(1))
        self.assertEqual(value(b"vantorsync_last_backup_size_bytes"), size)
        self.assertGreater(value(b"vantorsync_last_backup_timestamp_seconds"), 1.6e9)

        def flip(name, at):
            def damage(folder):
                with open(os.path.join(folder, name), "r+b") as f:
                    f.seek(at)
                    byte = f.read(1)
                    f.seek(at)
                    f.write(bytes([byte[0] ^ 0x40]))
            return damage

        def cut(name, by):
            def damage(folder):
                path = os.path.join(folder, name)
                os.truncate(path, os.path.getsize(path) - by)
            return damage

        def manifest(change):
            def damage(folder):
                path = os.path.join(folder, "manifest.json")
                with open(path) as f:
                    data = json.load(f)
                change(data)
                with open(path, "w") as f:
                    json.dump(data, f)
            return damage

        def wrong_sum(data):
            data["files"][1]["sha256"] = "0" * 64

        def wrong_end(data):
            data["whitelist"]["end_index"] += 1

        cases = [
            ("flipped byte in a whitelist record", flip("whitelist_h.bin", 9), "whitelist_h.bin"),
            ("flipped byte in a descriptor count", flip("histdata.bin", 8), "histdata.bin"),
            ("cut history file", cut("whitelist_h.bin", 5), "whitelist_h.bin"),
            ("cut data file", cut("histdata.bin", 8), "histdata.bin"),
            ("wrong manifest checksum", manifest(wrong_sum), "SHA-256"),
            ("wrong numbering", manifest(wrong_end), "whitelist: the manifest numbers"),
            ("no manifest", lambda folder: os.unlink(os.path.join(folder, "manifest.json")),
             "manifest.json"),
        ]
        for what, damage, expected in cases:
            with self.subTest(what):
                copy = os.path.join(self.home, "damaged")
                shutil.rmtree(copy, ignore_errors=True)
                shutil.copytree(target, copy)
                damage(copy)
                result = ctl("verify", copy)
                self.assertEqual(result.returncode, 1, what)
                self.assertIn(expected, result.stdout.decode())
                self.assertNotEqual(self.ctl_fails("restore", copy), "")

    def test_kill_during_backup_leaves_live_data_and_no_accepted_backup(self):
        service = Service(self.home)
        service.env.update(LD_PRELOAD=SHIM["path"], SLOW_FSYNC_MS="800-800",
                           SLOW_FSYNC_FILES=".partial-",
                           ASAN_OPTIONS=os.environ.get("ASAN_OPTIONS", "") +
                           ":verify_asan_link_order=0")
        self.service = service.start()
        client = Client(service, "ws")
        self.fill(client, 1, 40)
        before = self.full_state()
        target = os.path.join(self.home, "b1")
        backup = subprocess.Popen([PROGRAMS["ctl"], "--bus", "session", "backup", target],
                                  stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.assertTrue(wait_until(lambda: any(".partial-" in n for n in os.listdir(self.home))))
        service.proc.send_signal(signal.SIGKILL)
        service.finish()
        wait_until(lambda: not name_on_bus())
        backup.communicate(timeout=60)
        self.assertNotEqual(ctl("verify", target).returncode, 0)
        for name in os.listdir(self.home):
            if ".partial-" in name:
                self.assertNotEqual(ctl("verify", os.path.join(self.home, name)).returncode, 0)
        self.restart()
        after = self.full_state()
        self.assertEqual((after.keys, after.received), (before.keys, before.received))

    def test_an_answered_clear_survives_kill(self):
        for command, path in (("clear-whitelist", "/get_wl_updates"),
                              ("clear-training-db", "/get_ts_updates")):
            with self.subTest(command):
                service = self.restart(fresh=True)
                self.fill(Client(service, "ws"), 1, 30)
                self.ctl_ok(command)
                service = self.restart(kill=True)
                _, data = Client(service, "ws").ask(path, 0)
                self.assertEqual(data, b"")


if __name__ == "__main__":
    import unittest
    PROGRAMS["server"], PROGRAMS["ctl"], SHIM["path"] = sys.argv[1], sys.argv[2], sys.argv[3]
    unittest.main(argv=sys.argv[:1], verbosity=2)
