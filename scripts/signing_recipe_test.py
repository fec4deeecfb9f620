#!/usr/bin/env python3
"""Runs the signing recipe of docs/publishing.md as it is written there.

Usage: signing_recipe_test.py MKUPDATE STUB

The shell block of the "Signing" section is taken from the page and run
with bash in a fresh folder that holds setup.exe, an update packed with
the Windows stub STUB, and mkupdate on the PATH; only its time-stamp line
is left out (the placeholder names no server, and the test runs without
network). The recipe must end with 0; the signed file must verify with
the throwaway certificate, differ from setup.exe only by what follows it,
and still bring the old release to the new one (mkupdate check).
"""
import os
import re
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def recipe():
    """The shell block of the Signing section, and its time-stamp line."""
    page = open(os.path.join(ROOT, "docs", "publishing.md")).read()
    section = page.split("\n## Signing\n", 1)[1].split("\n## ", 1)[0]
    block = re.search(r"```sh\n(.*?)```", section, re.S).group(1)
    stamp = [line for line in block.splitlines()
             if re.match(r"\s*-t \"\$TIMESTAMP_URL\" \\$", line)]
    return block, stamp


def main():
    mkupdate, stub = (os.path.abspath(a) for a in sys.argv[1:3])
    block, stamp = recipe()
    failures = []

    def check(what, ok, detail=""):
        print(("ok    " if ok else "FAIL  ") + what)
        if not ok:
            failures.append(what)
            if detail:
                print("      " + str(detail).replace("\n", "\n      "))

    check("the recipe time-stamps with one -t line, its address a "
          "placeholder", len(stamp) == 1 and "placeholder" in block and
          "-CAfile publisher.pem" in block, block)
    runnable = "\n".join(line for line in block.splitlines()
                         if line not in stamp)
    with tempfile.TemporaryDirectory() as work:
        bin_dir = os.path.join(work, "bin")
        os.makedirs(bin_dir)
        shutil.copy(mkupdate, os.path.join(bin_dir, "mkupdate"))
        for release, game in (("old", "game 1.0"), ("new", "game 1.1")):
            os.makedirs(os.path.join(work, release))
            with open(os.path.join(work, release, "game.exe"), "w") as f:
                f.write(game)
            with open(os.path.join(work, release, "uninst.lst"), "w") as f:
                f.write("game.exe\n\0")
        env = dict(os.environ, PATH=bin_dir + os.pathsep + os.environ["PATH"])
        subprocess.run(["mkupdate", "pack", "--stub", stub, "--out",
                        "setup.exe", "--from", "old", "--to", "new",
                        "--quiet"], cwd=work, env=env, check=True)
        r = subprocess.run(["bash", "-euo", "pipefail", "-c", runnable],
                           cwd=work, env=env, capture_output=True, text=True,
                           stdin=subprocess.DEVNULL)
        check("the recipe runs as written: exit 0", r.returncode == 0,
              r.stdout + r.stderr)
        signed = os.path.join(work, "setup-signed.exe")
        unsigned = open(os.path.join(work, "setup.exe"), "rb").read()
        ok = os.path.exists(signed)
        check("it signs setup.exe into setup-signed.exe", ok and
              open(signed, "rb").read() != unsigned)
        v = subprocess.run(["osslsigncode", "verify", "-CAfile",
                            "publisher.pem", "-in", "setup-signed.exe"],
                           cwd=work, capture_output=True, text=True)
        check("the signature verifies with the throwaway certificate",
              v.returncode == 0, v.stdout + v.stderr)
        c = subprocess.run(["mkupdate", "check", "setup-signed.exe",
                            "--from", "old", "--to", "new"], cwd=work,
                           env=env, capture_output=True, text=True)
        check("the signed update still brings old to new", c.returncode == 0,
              c.stdout + c.stderr)
    if failures:
        print("failed: " + "; ".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
