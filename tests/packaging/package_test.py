#!/usr/bin/env python3
"""The Debian packages in a build folder: their contents, their control data and
maintainer scripts, lintian's verdict, and systemd's view of the unit they install.

Run by "make deb" after the build, and by CTest when packages are there (without
them it reports a skip, exit code 77).
"""
import glob
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

FOLDER = None  # set from argv
MAX_EXPOSURE = 2.0
# Warnings kept on purpose: users at the console may manage the service, as on the
# machines the console is made for.
KNOWN_WARNINGS = ("dbus-policy-at-console",)

SERVER_FILES = {
    "./usr/sbin/VantorSyncSvc",
    "./usr/bin/VantorSyncCtl",
    "./lib/systemd/system/VantorSyncSvc.service",
    "./lib/systemd/system/VantorSyncSvc.socket",
    "./usr/share/dbus-1/system-services/com.mailvane.VantorSyncSvc.service",
    "./usr/share/dbus-1/system.d/com.mailvane.VantorSyncSvc.conf",
    "./usr/lib/sysusers.d/vantorsync.conf",
    "./usr/share/man/man8/VantorSyncSvc.8.gz",
    "./usr/share/man/man1/VantorSyncCtl.1.gz",
    "./usr/share/doc/vantorsync-server/copyright",
    "./lib/systemd/system/vantorsync-backup.service",
    "./lib/systemd/system/vantorsync-backup.timer",
    "./usr/lib/vantorsync/vantorsync-backup",
}
CONSOLE_FILES = {
    "./usr/bin/VantorSyncAdm",
    "./usr/share/man/man1/VantorSyncAdm.1.gz",
    "./usr/share/applications/com.mailvane.VantorSyncAdm.desktop",
    "./usr/share/icons/hicolor/scalable/apps/com.mailvane.VantorSyncAdm.svg",
    "./usr/share/doc/vantorsync-console/copyright",
}


def package(name):
    found = sorted(glob.glob(os.path.join(FOLDER, name + "_*.deb")))
    if not found:
        raise unittest.SkipTest("no " + name + " package in " + FOLDER + " (make deb)")
    return found[-1]


def run(*command):
    return subprocess.run(list(command), capture_output=True, text=True, timeout=600)


def contents(deb):
    """Path -> (mode string, owner) of every entry of the package's data."""
    listing = {}
    for line in run("dpkg-deb", "-c", deb).stdout.splitlines():
        fields = line.split(None, 5)
        path = fields[5].split(" -> ")[0]
        listing[path.rstrip("/") if path != "./" else path] = (fields[0], fields[1])
    return listing


def field(deb, name):
    return run("dpkg-deb", "-f", deb, name).stdout.strip()


def script(deb, name):
    result = run("dpkg-deb", "-I", deb, name)
    return result.stdout if result.returncode == 0 else ""


class PackageTest(unittest.TestCase):
    def test_server_contents_and_modes(self):
        listing = contents(package("vantorsync-server"))
        self.assertTrue(SERVER_FILES <= set(listing), SERVER_FILES - set(listing))
        for program in ("./usr/sbin/VantorSyncSvc", "./usr/bin/VantorSyncCtl"):
            self.assertEqual(listing[program], ("-rwxr-xr-x", "root/root"), program)
        self.assertEqual(listing["./usr/share/dbus-1/system.d/com.mailvane.VantorSyncSvc.conf"],
                         ("-rw-r--r--", "root/root"))
        # Neither the console nor any of its files, nor a data folder of its own.
        self.assertFalse([p for p in listing if "VantorSyncAdm" in p or p.startswith("./var")])

    def test_server_needs_no_qt_and_console_does(self):
        server = field(package("vantorsync-server"), "Depends")
        self.assertNotIn("qt", server.lower())
        self.assertIn("dbus", server)
        self.assertIn("libqt6widgets6", field(package("vantorsync-console"), "Depends"))

    def test_console_contents(self):
        listing = contents(package("vantorsync-console"))
        self.assertTrue(CONSOLE_FILES <= set(listing), CONSOLE_FILES - set(listing))
        self.assertFalse([p for p in listing if "VantorSyncSvc" in p])

    def test_maintainer_scripts_create_the_account_and_start_the_service_the_debian_way(self):
        deb = package("vantorsync-server")
        postinst = script(deb, "postinst")
        self.assertIn("systemd-sysusers", postinst)
        self.assertIn("deb-systemd-helper", postinst)
        # systemctl only where systemd runs.
        self.assertIn("/run/systemd/system", postinst)
        self.assertLess(postinst.index("systemd-sysusers"), postinst.index("deb-systemd-invoke"))
        # At a first install the bus must know the account when it reads the policy
        # (at the unpack) and must obey the policy when the service starts.
        preinst = script(deb, "preinst")
        entry = self.unpacked_file(deb, "usr/lib/sysusers.d/vantorsync.conf").splitlines()[-1]
        self.assertIn("systemd-sysusers --replace=/usr/lib/sysusers.d/vantorsync.conf -", preinst)
        self.assertIn("\n" + entry + "\n", preinst)
        self.assertLess(postinst.index("org.freedesktop.DBus.ReloadConfig"),
                        postinst.index("deb-systemd-invoke"))
        postrm = script(deb, "postrm")
        purge = postrm[postrm.index('"purge"'):]
        self.assertIn("rm -rf /var/lib/VantorSyncSvc", purge)
        self.assertIn("deb-systemd-helper purge", postrm)
        # Removal without purge leaves the data.
        self.assertEqual(postrm.count("/var/lib/VantorSyncSvc"), 1)

    def unpacked_file(self, deb, path):
        root = tempfile.mkdtemp(prefix="vsdeb")
        self.addCleanup(shutil.rmtree, root, True)
        self.assertEqual(run("dpkg-deb", "-x", deb, root).returncode, 0)
        with open(os.path.join(root, path)) as f:
            return f.read()

    def test_desktop_entry_validates_without_hints(self):
        if not shutil.which("desktop-file-validate"):
            self.skipTest("desktop-file-validate is not installed")
        entry = os.path.join(tempfile.mkdtemp(prefix="vsdeb"), "com.mailvane.VantorSyncAdm.desktop")
        self.addCleanup(shutil.rmtree, os.path.dirname(entry), True)
        with open(entry, "w") as f:
            f.write(self.unpacked_file(package("vantorsync-console"),
                                       "usr/share/applications/com.mailvane.VantorSyncAdm.desktop"))
        result = run("desktop-file-validate", entry)
        self.assertEqual((result.returncode, result.stdout + result.stderr), (0, ""))

    def test_lintian_reports_no_errors_and_only_the_known_warnings(self):
        if not shutil.which("lintian"):
            self.skipTest("lintian is not installed")
        for name in ("vantorsync-server", "vantorsync-console"):
            result = run("lintian", "--tag-display-limit", "0", package(name))
            tags = [line for line in result.stdout.splitlines() if line[:2] in ("E:", "W:")]
            unexpected = [line for line in tags
                          if not any(tag in line for tag in KNOWN_WARNINGS)
                          or line.startswith("E:")]
            self.assertEqual(unexpected, [], name + ":\n" + result.stdout + result.stderr)

    def test_installed_unit_verifies_and_is_confined(self):
        if not shutil.which("systemd-analyze"):
            self.skipTest("systemd-analyze is not installed")
        root = tempfile.mkdtemp(prefix="vsdeb")
        try:
            self.assertEqual(run("dpkg-deb", "-x", package("vantorsync-server"), root).returncode,
                             0)
            unit = os.path.join(root, "lib/systemd/system/VantorSyncSvc.service")
            with open(unit) as f:
                text = f.read()
            # verify wants the program to exist: the copy names the unpacked one.
            program = os.path.join(root, "usr/sbin/VantorSyncSvc")
            copy = os.path.join(root, "VantorSyncSvc.service")
            with open(copy, "w") as f:
                f.write(text.replace("ExecStart=/usr/sbin/VantorSyncSvc\n",
                                     "ExecStart=" + program + "\n"))
            # The man pages the unit names are checked on an installed system.
            self.assertIn("Documentation=man:VantorSyncSvc(8)", text)
            verify = run("systemd-analyze", "verify", "--man=no", copy)
            self.assertEqual(verify.returncode, 0, verify.stderr)
            security = run("systemd-analyze", "security", "--offline=true", "--no-pager", unit)
            match = re.search(r"Overall exposure level for \S+: ([0-9.]+)", security.stdout)
            self.assertIsNotNone(match, security.stdout + security.stderr)
            self.assertLessEqual(float(match.group(1)), MAX_EXPOSURE)
            with open(unit) as f:
                self.assertIn("ExecStart=/usr/sbin/VantorSyncSvc\n", f.read())
        finally:
            shutil.rmtree(root, ignore_errors=True)


if __name__ == "__main__":
    FOLDER = sys.argv.pop(1)
    if not glob.glob(os.path.join(FOLDER, "vantorsync-server_*.deb")):
        print("skipped: no packages in " + FOLDER + " (make deb builds them)")
        sys.exit(77)
    result = unittest.main(verbosity=2, exit=False).result
    sys.exit(0 if result.wasSuccessful() else 1)
