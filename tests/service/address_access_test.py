#!/usr/bin/env python3
"""Address entries in the access list, end to end.

The real server on a free port; clients connect from chosen loopback addresses
(127.0.0.1 and 127.0.0.2: every 127/8 address reaches the loopback interface),
so the peer address the server sees is a real connection's, not a header field.
The server listens on IPv4 only; IPv6 peers are covered by the unit tests.
"""
import http.client
import os
import shutil
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
sys.path.insert(0, HERE)
import sync_server_test  # noqa: E402
from sync_server_test import Server  # noqa: E402
from sync_wire import wl_record  # noqa: E402


def acl(host, get, post):
    return "\t\t<acl host=\"%s\" enabled_get=\"%d\" enabled_post=\"%d\"/>\r\n" % (
        host, get, post)


def access_config(entries, default_get=1, default_post=1):
    return ("  <default_acl enabled_get=\"%d\" enabled_post=\"%d\"/>\r\n  <access_list>\r\n%s"
            "  </access_list>\r\n" % (default_get, default_post, "".join(entries)))


def exchange(port, source, path, host, body=b"", extra=None):
    """One request from the given local address; returns (status, body, newIndex)."""
    headers = {"startIndex": "57"}
    if host is not None:
        headers["User-Host"] = host
    headers.update(extra or {})
    conn = http.client.HTTPConnection("127.0.0.1", port, timeout=30, source_address=(source, 0))
    try:
        conn.request("POST", path, body=body, headers=headers)
        response = conn.getresponse()
        return response.status, response.read(), response.getheader("newIndex")
    finally:
        conn.close()


class AddressServerTest(unittest.TestCase):
    entries = []

    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="vsacl")
        self.server = Server(self.home, config_extra=access_config(self.entries)).start()

    def tearDown(self):
        if self.server.proc.poll() is None:
            self.server.stop()
        shutil.rmtree(self.home, ignore_errors=True)

    def exchange(self, source, path, host, body=b"", extra=None):
        return exchange(self.server.port, source, path, host, body, extra)

    def may_push(self, source, host, extra=None):
        """True when a push is applied; a denied push echoes "startIndex" 57."""
        status, _, index = self.exchange(source, "/post_wl_updates", host, wl_record(1, 9), extra)
        self.assertEqual(status, 200)
        self.assertIn(index, ("57", "1", "2", "3", "4", "5"))
        return index != "57"

    def may_pull(self, source, host):
        status, _, index = self.exchange(source, "/get_wl_updates", host)
        self.assertEqual(status, 200)
        return index != "57"

    def stored_changes(self):
        """The whitelist as a permitted reader sees it."""
        _, data, _ = self.exchange("127.0.0.1", "/get_wl_updates", "reader", extra={
            "startIndex": "0"})
        return data


class DecisionTableTest(AddressServerTest):
    # 127.0.0.1: both rights; the rest of 127/8: get only. "readonly" narrows to get,
    # "poster" would add post but cannot. The default rights (both) restrict nobody.
    entries = [acl("127.0.0.1", 1, 1), acl("127.0.0.0/8", 1, 0), acl("readonly", 1, 0),
               acl("poster", 1, 1)]

    def test_rights_follow_the_address_narrowed_by_the_name(self):
        table = [
            # source, User-Host, may pull, may push
            ("127.0.0.1", "ws1", True, True),          # no name entry: the address alone
            ("127.0.0.1", "readonly", True, False),    # the name entry narrows
            ("127.0.0.1", None, True, True),           # no name at all: the address alone
            ("127.0.0.2", "ws1", True, False),         # the less specific /8 entry
            ("127.0.0.2", "poster", True, False),      # a name cannot add a right
            ("127.0.0.2", "127.0.0.1", True, False),   # nor can naming another entry
        ]
        for source, host, pull, push in table:
            with self.subTest(source=source, host=host):
                self.assertEqual(self.may_pull(source, host), pull)
                self.assertEqual(self.may_push(source, host), push)

    def test_the_log_names_the_real_peer(self):
        self.may_push("127.0.0.2", "ws1", {"Remote-IP": "127.0.0.1"})
        self.server.stop()
        lines = []
        for name in os.listdir(self.server.folder):
            if name.endswith(".log"):
                with open(self.server.path(name), "rb") as f:
                    lines += f.read().split(b"\r\n")[:-1]
        self.assertEqual(len(lines), 1)
        self.assertIn(b" 127.0.0.2 ws1 POST /post_wl_updates 200 9 0", lines[0])


class ForgedNameTest(AddressServerTest):
    # Only 127.0.0.1 is listed; "ws1" is a name with every right.
    entries = [acl("127.0.0.1", 1, 1), acl("ws1", 1, 1)]

    def test_an_unlisted_address_gets_nothing_whatever_it_claims(self):
        forged = {"Remote-IP": "127.0.0.1", "X-Forwarded-For": "127.0.0.1"}
        for host in ("ws1", "127.0.0.1", "anyone", None):
            with self.subTest(host=host):
                self.assertFalse(self.may_push("127.0.0.3", host, forged))
                self.assertFalse(self.may_pull("127.0.0.3", host))
        self.assertEqual(self.stored_changes(), b"")
        self.assertTrue(self.may_push("127.0.0.1", "ws1"))
        self.assertEqual(self.stored_changes(), wl_record(1, 9))


class NamesOnlyTest(AddressServerTest):
    # The same list without address entries: the declared name decides, as before.
    entries = [acl("ws1", 1, 1), acl("readonly", 1, 0)]

    def test_without_address_entries_any_address_may_use_a_name(self):
        self.assertTrue(self.may_push("127.0.0.3", "ws1"))
        self.assertFalse(self.may_push("127.0.0.3", "readonly"))
        self.assertTrue(self.may_push("127.0.0.2", "unlisted"))  # default rights
        self.assertFalse(self.may_push("127.0.0.2", None))       # no name: denied


class MalformedEntryAtStartTest(unittest.TestCase):
    def test_a_malformed_entry_is_reported_kept_and_matches_nobody(self):
        home = tempfile.mkdtemp(prefix="vsacl")
        try:
            entries = [acl("10.1.0.0/33", 1, 1), acl("ws1", 1, 1)]
            server = Server(home, config_extra=access_config(entries)).start()
            try:
                warning = server.proc.stdout.readline()
                self.assertIn("\"10.1.0.0/33\" is not a valid address entry", warning)
                self.assertIn("0 to 32", warning)
                for host in ("ws1", "10.1.0.0/33"):
                    status, data, index = exchange(server.port, "127.0.0.1",
                                                   "/get_wl_updates", host)
                    self.assertEqual((status, data, index), (200, b"", "57"))
            finally:
                self.assertEqual(server.stop(), 0)
            with open(server.path("config.xml"), "rb") as f:
                self.assertIn(b"<acl host=\"10.1.0.0/33\" enabled_get=\"1\" enabled_post=\"1\"/>",
                              f.read())
        finally:
            shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    sync_server_test.SERVER = sys.argv.pop(1)
    unittest.main(verbosity=2)
