#!/usr/bin/env python3
"""The README's protocol recipe, pasted into dash as a reader would, against the real service.

The block is marked `sh`, so it must work in Debian's /bin/sh, need only tools that
`make deps` installs, and leave the shell's own streams alone.
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from management_harness import PROGRAMS, Service  # noqa: E402
from sync_wire import wait_until  # noqa: E402

SOURCE = os.path.join(HERE, "..", "..")
# What every Debian system has, whatever the Makefile lists.
ESSENTIAL = {"coreutils", "dash", "bash"}


def recipe():
    with open(os.path.join(SOURCE, "README.md")) as f:
        text = f.read()
    start = text.index("```sh\n", text.index("paste these into another")) + len("```sh\n")
    return text[start:text.index("```", start)]


def make_packages():
    """The Makefile's PACKAGES and what they depend on directly."""
    with open(os.path.join(SOURCE, "Makefile")) as f:
        text = f.read()
    listed = re.search(r"^PACKAGES :=((?:.*\\\n)*.*)$", text, re.M).group(1)
    listed = set(listed.replace("\\\n", " ").split())
    depends = subprocess.run(["apt-cache", "depends", "--no-recommends", "--no-suggests"] +
                             sorted(listed), capture_output=True, text=True).stdout
    return listed | set(re.findall(r"^\s+\|?(?:Pre)?Depends: (\S+)", depends, re.M))


def package_of(tool):
    # As a fresh machine has it, whatever this one's PATH adds (pyenv shims, say).
    path = shutil.which(tool, path="/usr/sbin:/usr/bin:/sbin:/bin")
    for candidate in (path, path and path.replace("/usr/bin/", "/bin/")):
        if candidate:
            found = subprocess.run(["dpkg", "-S", candidate], capture_output=True, text=True)
            if found.returncode == 0:
                return found.stdout.split(":")[0]
    return None


class ReadmeRecipeTest(unittest.TestCase):
    def setUp(self):
        self.home = tempfile.mkdtemp(prefix="vsreadme")
        self.service = Service(self.home, bus="none").start(wait_for_bus=False)

    def tearDown(self):
        self.service.stop()
        shutil.rmtree(self.home, ignore_errors=True)

    def test_every_tool_comes_with_make_deps(self):
        packages = make_packages() | ESSENTIAL
        commands = re.findall(r"(?:^|\|\s*)([a-z][\w-]*)", recipe(), re.M)
        for tool in set(commands) - {"echo", "printf"}:
            self.assertIn(package_of(tool), packages, tool)

    def test_runs_in_dash_and_leaves_a_redirected_log_whole(self):
        work = os.path.join(self.home, "work")
        os.makedirs(work)
        script = recipe().replace("/tmp/", work + "/").replace("17080", str(self.service.port))
        log = os.path.join(self.home, "session.log")
        with open(log, "w") as f:
            f.write("earlier lines\n")
        with open(log, "a") as errors:
            run = subprocess.run(["dash", "-e", "-c", script], stdout=subprocess.PIPE,
                                 stderr=errors, text=True, timeout=120)
        self.assertEqual(run.returncode, 0, run.stdout)
        with open(log) as f:
            self.assertTrue(f.read().startswith("earlier lines\n"))
        out = run.stdout
        self.assertTrue(out.startswith("1.0\n"), out)
        # The whitelist pull: add 5, add -3, as od prints them.
        self.assertIn(" 01 05 00 00 00 00 00 00 00\n 01 fd ff ff ff ff ff ff ff\n", out)
        self.assertIn("newIndex: 2", out)
        # The descriptor pulled back: label 7, two values.
        self.assertIn("07 00 00 00", out)
        self.assertIn("newIndex: 1", out)


if __name__ == "__main__":
    PROGRAMS["server"] = sys.argv.pop(1)
    unittest.main(verbosity=2)
