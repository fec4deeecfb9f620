#!/usr/bin/env python3
"""scripts/install-deps.sh against a package mirror in the middle of a sync.

An `apt-get` put in front of the real one on PATH fails the way a mirror
does mid-sync: `update` reports an index of unexpected size and exits 100,
and an install that is not pinned to the release's own archive finds held
broken packages. The step must still end with the package installed, or
fail naming it and apt's reason. A small real package (GNU hello) is
installed and purged again, so this needs root and the network.
"""
import os
import pathlib
import shutil
import subprocess
import tempfile
import unittest

ROOT = pathlib.Path(__file__).resolve().parent.parent
PACKAGE = "hello"
REAL_APT = shutil.which("apt-get")

MIRROR_SYNC = """\
E: Failed to fetch http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz  File has unexpected size (123456 != 123000). Mirror sync in progress? [IP: 127.0.0.1 80]
E: Some index files failed to download. They have been ignored, or old ones used instead.
"""
HELD_BROKEN = "E: Unable to correct problems, you have held broken packages.\n"

# The fake: logs each call, then fails as told or hands over to the real one.
FAKE = """#!/bin/sh
echo "$*" >>"{calls}"
case "$*" in
  update*) {update} ;;
  *" -t "*) {pinned} ;;
  *install*) {install} ;;
esac
exec {real} "$@"
"""


def fail_with(text):
    return "printf '%s' '{}' >&2; exit 100".format(text)


def installed(package):
    out = subprocess.run(["dpkg-query", "-W", "-f=${Status}", package],
                         capture_output=True, text=True).stdout
    return "ok installed" in out


def codename():
    for line in pathlib.Path("/etc/os-release").read_text().splitlines():
        if line.startswith("VERSION_CODENAME="):
            return line.split("=", 1)[1].strip('"')
    return ""


@unittest.skipUnless(os.geteuid() == 0 and REAL_APT,
                     "installs a package: needs root and apt-get")
class InstallDepsTest(unittest.TestCase):

    def setUp(self):
        if installed(PACKAGE):
            self.skipTest(PACKAGE + " is installed already")
        self.dir = pathlib.Path(tempfile.mkdtemp())
        self.calls = self.dir / "calls"

    def tearDown(self):
        if installed(PACKAGE):
            subprocess.run([REAL_APT, "purge", "-y", "-qq", PACKAGE],
                           capture_output=True)
        shutil.rmtree(self.dir)

    def run_step(self, update, install, pinned):
        fake = self.dir / "apt-get"
        fake.write_text(FAKE.format(calls=self.calls, update=update,
                                    install=install, pinned=pinned,
                                    real=REAL_APT))
        fake.chmod(0o755)
        env = dict(os.environ, PATH="{}:{}".format(self.dir, os.environ["PATH"]),
                   INSTALL_DEPS_RETRY_SECONDS="0")
        return subprocess.run(
            ["bash", str(ROOT / "scripts/install-deps.sh"), "--packages",
             PACKAGE], env=env, capture_output=True, text=True,
            stdin=subprocess.DEVNULL)

    def calls_made(self):
        return self.calls.read_text().splitlines() if self.calls.exists() else []

    def test_mirror_mid_sync_still_installs_from_release_archive(self):
        step = self.run_step(update=fail_with(MIRROR_SYNC),
                             install=fail_with(HELD_BROKEN), pinned=":")
        print(step.stdout + step.stderr)
        self.assertEqual(step.returncode, 0, step.stdout + step.stderr)
        self.assertTrue(installed(PACKAGE))
        calls = self.calls_made()
        self.assertEqual(sum(c.startswith("update") for c in calls), 3)
        self.assertIn("Mirror sync in progress?", step.stdout)
        self.assertIn("held broken packages", step.stdout)
        pinned = " -t {} ".format(codename())
        self.assertTrue(any(pinned in c for c in calls), calls)

    def test_install_that_fails_everywhere_names_package_and_reason(self):
        step = self.run_step(update=":", install=fail_with(HELD_BROKEN),
                             pinned=fail_with(HELD_BROKEN))
        print(step.stdout + step.stderr)
        self.assertNotEqual(step.returncode, 0)
        self.assertFalse(installed(PACKAGE))
        self.assertIn("could not install: " + PACKAGE, step.stderr)
        self.assertIn("held broken packages", step.stderr)

    def test_nothing_to_do_is_quiet_and_asks_apt_nothing(self):
        fake_fails = fail_with("E: apt-get must not be called\n")
        fake = self.dir / "apt-get"
        fake.write_text(FAKE.format(calls=self.calls, update=fake_fails,
                                    install=fake_fails, pinned=fake_fails,
                                    real=REAL_APT))
        fake.chmod(0o755)
        env = dict(os.environ, PATH="{}:{}".format(self.dir, os.environ["PATH"]))
        step = subprocess.run(
            ["bash", str(ROOT / "scripts/install-deps.sh"), "--packages",
             "bash", "coreutils"], env=env, capture_output=True, text=True)
        self.assertEqual((step.returncode, step.stdout, step.stderr), (0, "", ""))
        self.assertEqual(self.calls_made(), [])


if __name__ == "__main__":
    unittest.main(verbosity=2)
