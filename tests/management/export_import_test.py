#!/usr/bin/env python3
"""Export and import through VantorSyncCtl against real servers, end to end: what one
server exports and another imports must pull the same from index 0 (through
http.client), and a refused line must say where and leave only whole batches behind.
Runs under dbus-run-session, like the other management tests.
"""
import os
import random
import struct
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from sync_wire import descriptor, wl_record  # noqa: E402
from management_harness import PROGRAMS, Service, ServiceTest, ctl  # noqa: E402

HEADER = b'{"format":"vantorsync-export","version":1}\n'
# Pushes are refused by the access list: an import has the administrator's rights.
DENY_ALL = "  <default_acl enabled_get=\"1\" enabled_post=\"0\"/>\r\n"
EXTREME_KEYS = [-2**63, 2**63 - 1, -1, 0, 2**53 + 1, -(2**53 + 1)]


def pull_whitelist(service):
    response, body = service.request("GET", "/get_wl_updates", b"",
                                     {"User-Host": "ws1", "startIndex": "0"})
    keys = set()
    for at in range(0, len(body), 9):
        op, key = struct.unpack_from("<Bq", body, at)
        (keys.add if op else keys.discard)(key)
    return keys


def pull_training(service):
    """Every current descriptor, as (label, values), paging until the index stops."""
    current, index = [], 0
    while True:
        response, body = service.request("GET", "/get_ts_updates", b"",
                                         {"User-Host": "ws1", "startIndex": str(index)})
        at = 0
        while at < len(body):
            label, status, count = struct.unpack_from("<IiI", body, at)
            values = struct.unpack_from("<%dq" % count, body, at + 12)
            at += 12 + 8 * count
            if status == 1:
                current.append((label, values))
        new_index = int(response.getheader("newIndex"))
        if new_index == index:
            return sorted(current)
        index = new_index


def whitelist_file(keys, records=None, tail=b""):
    lines = [b'{"section":"whitelist","index":0}'] + [b'{"key":%d}' % k for k in keys]
    return HEADER + b"\n".join(lines) + b"\n" + tail


def closed(keys):
    return whitelist_file(keys, tail=b'{"end":"whitelist","records":%d}\n' % len(keys))


class ExportImportTest(ServiceTest):
    def start_in(self, name, extra=""):
        home = os.path.join(self.home, name)
        os.makedirs(os.path.join(home, "VantorSyncSvc"))
        service = Service(home, write_config=False)
        with open(service.path("config.xml"), "w") as f:
            f.write("<config>\r\n  <port>%d</port>\r\n%s</config>" % (service.port, extra))
        self.service = service.start()
        return service

    def test_export_then_import_into_an_empty_server_pulls_the_same(self):
        source = self.start_in("source")
        rng = random.Random(7)
        keys = EXTREME_KEYS + [rng.randrange(-2**63, 2**63) for _ in range(25000)]
        for at in range(0, len(keys), 5000):
            body = b"".join(wl_record(1, k) for k in keys[at:at + 5000])
            source.request("POST", "/post_wl_updates", body, {"User-Host": "ws1"})
        removed = b"".join(wl_record(0, k) for k in keys[100:200])
        source.request("POST", "/post_wl_updates", removed, {"User-Host": "ws1"})
        body = b"".join(descriptor(rng.randrange(2**32), [rng.randrange(-2**63, 2**63)
                                                          for _ in range(rng.randrange(40))])
                        for _ in range(300))
        body += descriptor(5, [1, 2, 3]) + descriptor(2**32 - 1, [3, 2, 1])  # a relabel
        source.request("POST", "/post_ts_updates", body, {"User-Host": "ws1"})
        expected_keys, expected_training = pull_whitelist(source), pull_training(source)
        self.assertEqual(len(expected_keys), len(keys) - 100)

        folder = os.path.join(self.home, "export")
        self.assertIn("exported %d whitelist keys and %d training descriptors"
                      % (len(expected_keys), len(expected_training)), self.ctl_ok("export", folder))
        stream = ctl("export", "-")
        self.assertEqual(stream.returncode, 0, stream.stderr)
        self.assertTrue(stream.stdout.startswith(HEADER))
        files = {}
        for name in ("whitelist.jsonl", "trainingdb.jsonl"):
            path = os.path.join(folder, name)
            self.assertEqual(os.stat(path).st_mode & 0o777, 0o600)
            with open(path, "rb") as f:
                files[name] = f.read()
            self.assertTrue(files[name].startswith(HEADER))
        # The stream is the two files under one header.
        self.assertEqual(sorted(stream.stdout.splitlines()[1:]),
                         sorted(files["whitelist.jsonl"].splitlines()[1:] +
                                files["trainingdb.jsonl"].splitlines()[1:]))
        self.assertNotEqual(self.ctl_fails("export", folder), "")  # never overwrites
        self.service.stop()

        target = self.start_in("target", DENY_ALL)
        imported = subprocess.run([PROGRAMS["ctl"], "--bus", "session", "import", "-"],
                                  input=stream.stdout, capture_output=True, timeout=120)
        self.assertEqual(imported.returncode, 0, imported.stderr)
        self.assertIn(b"imported %d whitelist keys and %d training descriptors"
                      % (len(expected_keys), len(expected_training)), imported.stdout)
        self.assertEqual(pull_whitelist(target), expected_keys)
        self.assertEqual(pull_training(target), expected_training)
        # An import is a push like any other: an importing again changes nothing.
        self.ctl_ok("import", os.path.join(folder, "whitelist.jsonl"))
        self.assertEqual(self.ctl_ok("stats").splitlines()[0], "whitelist: %d" % len(expected_keys))

    def test_refused_lines_name_their_line_and_leave_only_whole_batches(self):
        service = self.start_in("refusals")
        batch = list(range(1000000, 1010005))
        cases = [
            # name, file, line named, whitelist keys imported
            ("key above int64", whitelist_file([1, 2**63]), 4, 0),
            ("key below int64", whitelist_file([-2**63 - 1]), 3, 0),
            ("key as a double", whitelist_file([3]) + b'{"key":4.0}\n', 4, 0),
            ("label above uint32", HEADER + b'{"section":"trainingdb","index":0}\n'
             b'{"label":4294967296,"values":[1]}\n', 3, 0),
            ("too many values", HEADER + b'{"section":"trainingdb","index":0}\n'
             b'{"label":1,"values":[' + b",".join([b"1"] * 10001) + b"]}\n", 3, 0),
            ("line too long", whitelist_file([5]) + b" " * 300000 + b"\n", 4, 0),
            ("not the format", b'{"format":"other","version":1}\n', 1, 0),
            ("a later version", b'{"format":"vantorsync-export","version":2}\n', 1, 0),
            ("cut short", whitelist_file([6, 7]), 5, 0),
            ("end counts wrong", whitelist_file([8], tail=b'{"end":"whitelist","records":2}\n'),
             4, 0),
            ("key in the training section", HEADER + b'{"section":"trainingdb","index":0}\n'
             b'{"key":9}\n', 3, 0),
            ("after a whole batch", whitelist_file(batch) + b'{"key":"x"}\n', len(batch) + 3,
             10000),
        ]
        for name, data, line, keys in cases:
            with self.subTest(name):
                path = os.path.join(self.home, "bad.jsonl")
                with open(path, "wb") as f:
                    f.write(data)
                error = self.ctl_fails("import", path)
                self.assertIn("line %d:" % line, error)
                self.assertIn("Imported: %d whitelist keys" % keys, error)
        # Only the whole batch of the last case arrived; nothing of any refused batch did.
        self.assertEqual(pull_whitelist(service), set(batch[:10000]))
        self.assertEqual(pull_training(service), [])
        self.ctl_ok("import", self.write("good.jsonl", closed([-5, 5])))
        self.assertEqual(pull_whitelist(service), set(batch[:10000]) | {-5, 5})

    def write(self, name, data):
        path = os.path.join(self.home, name)
        with open(path, "wb") as f:
            f.write(data)
        return path


if __name__ == "__main__":
    PROGRAMS["server"], PROGRAMS["ctl"] = sys.argv[1], sys.argv[2]
    unittest.main(argv=sys.argv[:1], verbosity=2)
