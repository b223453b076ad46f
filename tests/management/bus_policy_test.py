#!/usr/bin/env python3
"""The registered bus policy on a real dbus-daemon configured like a system bus.

A private dbus-daemon gets the default policy of a system bus and includes the policy
folder that "VantorSyncSvc -RegServer" writes under a test root. The tests check that
the daemon loads the policy without complaint, that root may own the service's name,
and, when the tests run as root, who else may call the service and who may not.
"""
import os
import pwd
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from sync_wire import wait_until  # noqa: E402

SERVER = None  # set from argv
CTL = None


def account_missing():
    try:
        pwd.getpwnam("vantorsync")
        return False
    except KeyError:
        return True


ACCOUNT_MISSING = account_missing()
NAME = "com.mailvane.VantorSyncSvc"
OBJECT = [NAME, "/com/mailvane/VantorSync", "com.mailvane.IVantorSync"]

SYSTEM_BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>system</type>
  <listen>unix:path={socket}</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow user="*"/>
    <deny own="*"/>
    <deny send_type="method_call"/>
    <allow send_type="signal"/>
    <allow send_requested_reply="true" send_type="method_return"/>
    <allow send_requested_reply="true" send_type="error"/>
    <allow receive_type="method_call"/>
    <allow receive_type="method_return"/>
    <allow receive_type="error"/>
    <allow receive_type="signal"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus"/>
    <allow send_destination="org.freedesktop.DBus"
           send_interface="org.freedesktop.DBus.Introspectable"/>
    <allow send_destination="org.freedesktop.DBus" send_interface="org.freedesktop.DBus.Peer"/>
  </policy>
  <includedir>{policies}</includedir>
</busconfig>
"""


class SystemStyleBus:
    def __init__(self, folder, policies):
        self.socket = os.path.join(folder, "system_bus_socket")
        self.address = "unix:path=" + self.socket
        config = os.path.join(folder, "system.conf")
        with open(config, "w") as f:
            f.write(SYSTEM_BUS_CONFIG.format(socket=self.socket, policies=policies))
        self.log = open(os.path.join(folder, "daemon.log"), "w+")
        self.proc = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork",
                                      "--nosyslog", "--nopidfile"],
                                     stdout=self.log, stderr=subprocess.STDOUT)
        if not wait_until(lambda: os.path.exists(self.socket)):
            raise AssertionError("dbus-daemon did not start: " + self.messages())
        os.chmod(self.socket, 0o777)

    def messages(self):
        self.log.flush()
        self.log.seek(0)
        return self.log.read()

    def complaints(self):
        """What the daemon said, but for not being allowed to raise its own file limit,
        for confirming a reload and, where the service's account was never created (the
        package and a registration on the real root create it), for not knowing it."""
        return [line for line in self.messages().splitlines()
                if line.strip() and "fd limit" not in line
                and "Reloaded configuration" not in line
                and not (ACCOUNT_MISSING and 'Unknown username "vantorsync"' in line)]

    def close(self):
        self.proc.terminate()
        self.proc.wait(timeout=30)
        self.log.close()

    def busctl(self, *args, as_user=None, groups=None):
        return self.run(["busctl", "--address=" + self.address] + list(args), as_user, groups)

    def run(self, command, as_user=None, groups=None):
        if as_user:
            command = ["setpriv", "--reuid=" + as_user, "--regid=nogroup",
                       "--groups=" + groups if groups else "--clear-groups"] + command
        env = dict(os.environ, VANTORSYNC_BUS="system", DBUS_SYSTEM_BUS_ADDRESS=self.address)
        return subprocess.run(command, capture_output=True, text=True, timeout=60, env=env)


class BusPolicyTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="vspolicy")
        os.chmod(self.home, 0o755)
        self.root = os.path.join(self.home, "root")
        result = subprocess.run([SERVER, "-RegServer"], capture_output=True, text=True,
                                env=dict(os.environ, VANTORSYNC_ROOT=self.root), timeout=60)
        self.assertEqual(result.returncode, 0, result.stderr)
        policies = os.path.join(self.root, "usr/share/dbus-1/system.d")
        self.assertTrue(os.listdir(policies))
        self.bus = SystemStyleBus(self.home, policies)
        self.service = None

    def tearDown(self):
        if self.service and self.service.poll() is None:
            self.service.send_signal(signal.SIGTERM)
            self.service.wait(timeout=30)
            self.service.stdout.close()
        self.bus.close()
        shutil.rmtree(self.home, ignore_errors=True)

    def start_service(self):
        folder = os.path.join(self.home, "data")
        os.makedirs(os.path.join(folder, "VantorSyncSvc"))
        with open(os.path.join(folder, "VantorSyncSvc", "config.xml"), "wb") as f:
            f.write(b"<config><port>0</port></config>")  # no HTTP server needed here
        env = dict(os.environ, VANTORSYNC_BUS="system", DBUS_SYSTEM_BUS_ADDRESS=self.bus.address,
                   XDG_CONFIG_HOME=folder, HOME=folder)
        self.service = subprocess.Popen([SERVER, "-Foreground"], env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.STDOUT,
                                        text=True)
        owned = wait_until(lambda: self.bus.busctl("status", NAME).returncode == 0)
        self.assertTrue(owned, "the service did not take its name: " +
                        (self.service.stdout.readline() if self.service.poll() is not None
                         else "still running"))

    def test_policy_loads_without_warnings_and_root_owns_and_calls(self):
        # The daemon names any unknown user or group of a policy when it loads it.
        self.assertEqual(self.bus.complaints(), [])
        self.start_service()
        result = self.bus.busctl("get-property", *OBJECT, "Enabled")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout.strip(), "i 0")
        # Reloading the configuration reports nothing either.
        self.bus.proc.send_signal(signal.SIGHUP)
        self.assertTrue(wait_until(lambda: "Reloaded configuration" in self.bus.messages()))
        self.assertEqual(self.bus.busctl("status", NAME).returncode, 0)
        self.assertEqual(self.bus.complaints(), [])
        # Export and import pass file descriptors, which the system bus must carry.
        exported = self.bus.run([CTL, "export", os.path.join(self.home, "export")])
        self.assertEqual(exported.returncode, 0, exported.stderr)
        imported = self.bus.run([CTL, "import", os.path.join(self.home, "export",
                                                             "whitelist.jsonl")])
        self.assertEqual(imported.returncode, 0, imported.stderr)

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("setpriv"),
                         "needs root to act as other users")
    def test_only_administrative_groups_may_call_and_nobody_else_may_own(self):
        self.start_service()
        denied = self.bus.busctl("get-property", *OBJECT, "Enabled", as_user="nobody")
        self.assertNotEqual(denied.returncode, 0)
        self.assertIn("denied", denied.stderr.lower())
        # Our own client says what happened and who may, not the daemon's rule dump.
        ctl = self.bus.run([CTL, "status"], as_user="nobody")
        self.assertEqual(ctl.returncode, 1)
        self.assertIn("not allowed to manage VantorSyncSvc", ctl.stderr)
        self.assertIn("groups sudo and adm", ctl.stderr)
        self.assertNotIn("Rejected", ctl.stderr)
        for group in ("adm", "sudo"):
            allowed = self.bus.busctl("get-property", *OBJECT, "Enabled", as_user="nobody",
                                      groups=group)
            self.assertEqual(allowed.returncode, 0, group + ": " + allowed.stderr)
            exported = self.bus.run([CTL, "export", "-"], as_user="nobody", groups=group)
            self.assertEqual(exported.returncode, 0, group + ": " + exported.stderr)
            self.assertTrue(exported.stdout.startswith('{"format":"vantorsync-export"'))
        own = self.bus.busctl("call", "org.freedesktop.DBus", "/org/freedesktop/DBus",
                              "org.freedesktop.DBus", "RequestName", "su", NAME, "4",
                              as_user="nobody", groups="adm")
        self.assertNotEqual(own.returncode, 0)
        self.assertIn("denied", own.stderr.lower())


if __name__ == "__main__":
    SERVER = sys.argv.pop(1)
    CTL = sys.argv.pop(1)
    unittest.main(verbosity=2)
