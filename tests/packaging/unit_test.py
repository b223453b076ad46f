#!/usr/bin/env python3
"""The systemd unit that "VantorSyncSvc -Service" writes, checked by systemd's own tools.

The same template makes the packaged unit, so what holds here holds for the package:
systemd-analyze verify accepts it, its exposure rating stays at most 2.0, the service
runs unprivileged with its state folder, and nothing it needs is confined away.
"""
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import unittest

SERVER = None  # set from argv
CONTROL = None
UNIT = "etc/systemd/system/VantorSyncSvc.service"
MAX_EXPOSURE = 2.0


def analyze(*args):
    return subprocess.run(["systemd-analyze"] + list(args), capture_output=True, text=True,
                          timeout=120)


def settings(text):
    """Every Key=value line of the [Service] section, values of repeated keys in order."""
    found, section = {}, None
    for line in text.splitlines():
        line = line.strip()
        if line.startswith("["):
            section = line
        elif section == "[Service]" and "=" in line and not line.startswith("#"):
            key, value = line.split("=", 1)
            found.setdefault(key, []).append(value)
    return found


@unittest.skipUnless(shutil.which("systemd-analyze"), "systemd-analyze is not installed")
class UnitTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.home = tempfile.mkdtemp(prefix="vsunit")
        result = subprocess.run([SERVER, "-Service"], capture_output=True, text=True,
                                env=dict(os.environ, VANTORSYNC_ROOT=cls.home), timeout=60)
        assert result.returncode == 0, result.stderr
        cls.unit = os.path.join(cls.home, UNIT)
        with open(cls.unit) as f:
            cls.text = f.read()

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.home, ignore_errors=True)

    def test_verify_accepts_the_unit(self):
        result = analyze("verify", "--man=no", self.unit)
        if result.returncode != 0 and "Failed to" in result.stderr and \
                "VantorSyncSvc.service" not in result.stderr:
            self.skipTest("systemd-analyze verify cannot run here: " + result.stderr.strip())
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr.strip(), "")

    def test_reload_signals_the_main_process_without_programs_a_minimal_system_lacks(self):
        [command] = settings(self.text)["ExecReload"]
        child = subprocess.Popen(["sleep", "60"])
        try:
            words = [child.pid if w == "$MAINPID" else w for w in shlex.split(command)]
            reload = subprocess.run([str(w) for w in words], env={"PATH": "/nonexistent"},
                                    capture_output=True, text=True, timeout=30)
            self.assertEqual(reload.returncode, 0, reload.stderr)
            self.assertEqual(child.wait(timeout=30), -signal.SIGHUP)
            # The program itself comes from a package every Debian system has.
            if shutil.which("dpkg-query"):
                owners = subprocess.run(["dpkg-query", "-S", words[0]], capture_output=True,
                                        text=True).stdout.splitlines()
                package = [line.split(":")[0] for line in owners if not
                           line.startswith("diversion")][0]
                essential = subprocess.run(["dpkg-query", "-W", "-f=${Essential}", package],
                                           capture_output=True, text=True).stdout
                self.assertEqual(essential, "yes", words[0] + " comes from " + package)
        finally:
            child.kill()
            child.wait()

    def test_exposure_is_at_most_two(self):
        result = analyze("security", "--offline=true", "--no-pager", self.unit)
        match = re.search(r"Overall exposure level for VantorSyncSvc\.service: ([0-9.]+)",
                          result.stdout)
        self.assertIsNotNone(match, result.stdout + result.stderr)
        self.assertLessEqual(float(match.group(1)), MAX_EXPOSURE, result.stdout)

    def test_unprivileged_with_its_state_folder_and_what_it_needs(self):
        s = settings(self.text)
        self.assertEqual(s["User"], ["vantorsync"])
        self.assertEqual(s["Group"], ["vantorsync"])
        self.assertEqual(s["StateDirectory"], ["VantorSyncSvc"])
        self.assertEqual(s["StateDirectoryMode"], ["0700"])
        self.assertEqual(s["UMask"], ["0077"])
        self.assertIn("XDG_CONFIG_HOME=/var/lib", s["Environment"])
        self.assertIn("VANTORSYNC_METRICS=127.0.0.1:9817", s["Environment"])
        self.assertEqual(s["Type"], ["notify"])  # sd_notify reaches systemd
        # TCP listen and the bus stay reachable; syslog's socket is AF_UNIX.
        self.assertEqual(s["RestrictAddressFamilies"], ["AF_UNIX AF_INET AF_INET6"])
        self.assertNotIn("PrivateNetwork", s)
        self.assertNotIn("IPAddressDeny", s)
        self.assertGreaterEqual(int(s["LimitNOFILE"][0]), 16384)
        self.assertEqual(s["CapabilityBoundingSet"], [""])


class CommandLineTest(unittest.TestCase):
    def test_help_and_version_print_and_succeed_without_acting(self):
        home = tempfile.mkdtemp(prefix="vscli")
        try:
            env = dict(os.environ, VANTORSYNC_ROOT=home, VANTORSYNC_BUS="none")
            for program, name in ((SERVER, "VantorSyncSvc"), (CONTROL, "VantorSyncCtl")):
                version = subprocess.run([program, "--version"], capture_output=True,
                                         text=True, env=env, timeout=60)
                self.assertEqual(version.returncode, 0, version.stderr)
                self.assertRegex(version.stdout, "^" + name + r" \d+\.\d+\.\d+\n$")
                for ask in ("--help", "-h"):
                    usage = subprocess.run([program, ask], capture_output=True, text=True,
                                           env=env, timeout=60)
                    self.assertEqual(usage.returncode, 0, usage.stderr)
                    self.assertTrue(usage.stdout.startswith("Usage: " + name), usage.stdout)
            # Asking for help beside a registration switch registers nothing.
            result = subprocess.run([SERVER, "-Service", "--help"], capture_output=True,
                                    text=True, env=env, timeout=60)
            self.assertEqual(result.returncode, 0)
            self.assertEqual(os.listdir(home), [])
        finally:
            shutil.rmtree(home, ignore_errors=True)


if __name__ == "__main__":
    SERVER = sys.argv.pop(1)
    CONTROL = sys.argv.pop(1)
    unittest.main(verbosity=2)
