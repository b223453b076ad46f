"""Shared harness of the end-to-end tests of the service's management interface.

Each test starts the real VantorSyncSvc with VANTORSYNC_BUS=session in its own data
folder (XDG_CONFIG_HOME) on a free port and drives it with VantorSyncCtl and busctl,
on the private session bus that dbus-run-session gives the whole run.
"""
import os
import shutil
import signal
import subprocess
import tempfile
import unittest
import xml.etree.ElementTree as ElementTree

from sync_wire import config_text as config_file_text
from sync_wire import free_port, http_request, wait_until  # noqa: F401

# The programs under test, set by each script from its command line.
PROGRAMS = {"server": None, "ctl": None}

OBJECT = ["com.mailvane.VantorSyncSvc", "/com/mailvane/VantorSync", "com.mailvane.IVantorSync"]


def config_text(port):
    return config_file_text(port).encode()


def assert_well_formed(test, path):
    """Every config.xml the service writes must satisfy an XML parser that is not ours."""
    try:
        ElementTree.parse(path)
    except ElementTree.ParseError as error:
        test.fail("%s is not well-formed: %s" % (path, error))


def ctl(*args, env=None, bus="session"):
    command = [PROGRAMS["ctl"]] + (["--bus", bus] if bus else []) + list(args)
    return subprocess.run(command, capture_output=True, env=env, timeout=60)


def busctl(*args):
    return subprocess.run(["busctl", "--user"] + list(args), capture_output=True, text=True,
                          timeout=60)


def get_property(name):
    return busctl("get-property", *OBJECT, name)


def set_property(name, signature, *values):
    # "--" so that a negative value is not taken for an option.
    return busctl("--", "set-property", *OBJECT, name, signature, *[str(v) for v in values])


def name_on_bus():
    return busctl("status", OBJECT[0]).returncode == 0


class Service:
    """One service process with its own data folder, started with the given switch."""

    def __init__(self, home, port=None, write_config=True, bus="session", root=None):
        self.home = home
        self.folder = os.path.join(home, "VantorSyncSvc")
        os.makedirs(self.folder, exist_ok=True)
        self.port = port or free_port()
        if write_config:
            with open(self.path("config.xml"), "wb") as f:
                f.write(config_text(self.port))
        self.env = dict(os.environ, XDG_CONFIG_HOME=home, HOME=home, VANTORSYNC_BUS=bus)
        if root:
            self.env["VANTORSYNC_ROOT"] = root
        self.proc = None
        self.banner = ""

    def path(self, name):
        return os.path.join(self.folder, name)

    def start(self, args=("-Foreground",), wait_for_bus=True):
        self.proc = subprocess.Popen([PROGRAMS["server"]] + list(args), env=self.env,
                                     stdout=subprocess.PIPE, stderr=subprocess.STDOUT, text=True)
        self.banner = self.proc.stdout.readline()
        if wait_for_bus and not wait_until(name_on_bus):
            raise AssertionError("service did not take its bus name: %r" % self.banner)
        return self

    def stop(self):
        if self.proc and self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        return self.finish()

    def finish(self, limit=30):
        code = self.proc.wait(timeout=limit)
        rest = self.proc.stdout.read()
        self.proc.stdout.close()
        return code, rest

    def request(self, method, path, body=b"", headers=None):
        return http_request(self.port, method, path, body, headers)


class ServiceTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="vsmgmt")
        self.service = None

    def tearDown(self):
        if self.service and self.service.proc and self.service.proc.poll() is None:
            self.service.stop()
        # The next test's service must not meet this one's name.
        wait_until(lambda: not name_on_bus())
        shutil.rmtree(self.home, ignore_errors=True)

    def start_service(self, **kwargs):
        self.service = Service(self.home, **kwargs).start()
        return self.service

    def ctl_ok(self, *args):
        result = ctl(*args)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout.decode()

    def ctl_fails(self, *args):
        result = ctl(*args)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertTrue(result.stderr.strip(), "a failure must say why")
        return result.stderr.decode()
