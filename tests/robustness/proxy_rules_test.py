#!/usr/bin/env python3
"""The nginx rules the README gives for a proxy in front of the server, run as written in
front of the real server program: the exact paths with their methods pass, while other
spellings of a path and other methods (which the server itself would serve, since it matches
paths without regard to case and does not look at the method) are refused by the proxy and
store nothing.
Usage: proxy_rules_test.py <VantorSyncSvc program> <nginx program>
"""
import http.client
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

import crash_durability_test as common
from crash_durability_test import Server

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from sync_wire import free_port, wait_until, wl_record  # noqa: E402

NGINX = None  # set from argv
README = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "README.md")


def readme_rules(server_port):
    with open(README, encoding="utf-8") as f:
        block = re.search(r"```nginx\n(.*?)```", f.read(), re.S).group(1)
    return block.replace("127.0.0.1:17080", "127.0.0.1:%d" % server_port)


class ProxyRulesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="vsproxy")
        cls.server = Server(cls.home).start()
        cls.proxy_port = free_port()
        prefix = os.path.join(cls.home, "nginx")
        os.makedirs(prefix)
        conf = os.path.join(prefix, "nginx.conf")
        with open(conf, "w") as f:
            f.write("daemon off;\nmaster_process off;\npid %s/nginx.pid;\n"
                    "error_log %s/error.log;\nevents {}\nhttp {\n  access_log off;\n"
                    "  client_body_temp_path %s/body;\n  proxy_temp_path %s/proxy;\n"
                    "  server {\n    listen 127.0.0.1:%d;\n%s  }\n}\n"
                    % (prefix, prefix, prefix, prefix, cls.proxy_port,
                       readme_rules(cls.server.port)))
        cls.nginx = subprocess.Popen([NGINX, "-p", prefix, "-c", conf])
        wait_until(lambda: cls.answer("GET", "/version")[0] == 200)

    @classmethod
    def tearDownClass(cls):
        cls.nginx.terminate()
        cls.nginx.wait(timeout=30)
        cls.server.stop()
        shutil.rmtree(cls.home, ignore_errors=True)

    @classmethod
    def answer(cls, method, target, body=b""):
        conn = http.client.HTTPConnection("127.0.0.1", cls.proxy_port, timeout=30)
        try:
            conn.request(method, target, body=body,
                         headers={"User-Host": "ws1", "startIndex": "0"})
            response = conn.getresponse()
            return response.status, response.read()
        except OSError:
            return None, b""
        finally:
            conn.close()

    def test_exact_requests_pass_and_other_spellings_and_methods_are_refused(self):
        refused = [
            ("POST", "/Post_WL_Updates", wl_record(1, 666)),
            ("GET", "/post_wl_updates", wl_record(1, 667)),
            ("PUT", "/post_wl_updates", wl_record(1, 668)),
            ("POST", "/%50ost_ts_updates", b"\x00" * 20),
            ("POST", "/get_wl_updates", wl_record(1, 669)),
            ("GET", "/VERSION", b""),
            ("GET", "/version/", b""),
        ]
        for method, target, body in refused:
            with self.subTest(method=method, target=target):
                self.assertEqual(self.answer(method, target, body)[0], 403)
        self.assertEqual(self.answer("POST", "/post_wl_updates", wl_record(1, 7))[0], 200)
        self.assertEqual(self.answer("GET", "/version"), (200, b"1.0"))
        status, body = self.answer("GET", "/get_wl_updates")
        # Only the push that came the exact way was stored.
        self.assertEqual((status, body), (200, wl_record(1, 7)))


if __name__ == "__main__":
    NGINX = sys.argv.pop(2)
    common.SERVER = sys.argv.pop(1)
    unittest.main(verbosity=2)
