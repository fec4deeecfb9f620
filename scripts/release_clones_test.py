#!/usr/bin/env python3
"""scripts/release.sh gives the same packages from two clones.

Two fresh clones of this repository's HEAD, at paths of different lengths,
each with the work tree's files copied over it (so that what is not yet
committed is tested too; the copies get new times), run release.sh in
different time zones and umasks, at different times, with
SOURCE_DATE_EPOCH unset: it must come from the last commit. Their
SHA256SUMS, and the files they name, must be the same. Exits 0 when they
are; else names what differs.
"""
import os
import shutil
import subprocess
import sys
import tempfile

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def git(*args, cwd=ROOT):
    return subprocess.run(["git", *args], cwd=cwd, check=True,
                          capture_output=True, text=True).stdout


def clone(to):
    """A clone of HEAD with the work tree's files over it."""
    git("clone", "--quiet", "--no-checkout", ROOT, to)
    git("fetch", "--quiet", ROOT, "HEAD", cwd=to)
    git("checkout", "--quiet", "FETCH_HEAD", cwd=to)
    files = git("ls-files", "-z", "--cached", "--others",
                "--exclude-standard").split("\0")
    for name in files:
        source = os.path.join(ROOT, name)
        if name and os.path.isfile(source) and not os.path.islink(source):
            os.makedirs(os.path.dirname(os.path.join(to, name)), exist_ok=True)
            shutil.copy(source, os.path.join(to, name))


def release(source, tz, umask):
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    env["TZ"] = tz
    old = os.umask(umask)
    try:
        r = subprocess.run(["bash", "scripts/release.sh"], cwd=source,
                           env=env, capture_output=True, text=True,
                           stdin=subprocess.DEVNULL)
    finally:
        os.umask(old)
    if r.returncode != 0:
        sys.exit(f"release.sh in {source} failed:\n{r.stdout}{r.stderr}")
    print(r.stdout.rstrip())
    return os.path.join(source, "dist")


def main():
    work = tempfile.mkdtemp(prefix="release-clones-")
    try:
        sources = [os.path.join(work, "a"),
                   os.path.join(work, "second", "a-longer-path-for-a-clone")]
        dists = []
        for source, tz, umask in zip(sources, ["UTC", "Asia/Tokyo"],
                                     [0o022, 0o002]):
            clone(source)
            dists.append(release(source, tz, umask))
        sums = [open(os.path.join(d, "SHA256SUMS")).read() for d in dists]
        if sums[0] == sums[1]:
            print("the two clones give the same SHA256SUMS:\n" + sums[0])
            return 0
        print("FAIL  the two clones give other packages (kept for a look):")
        for d, s in zip(dists, sums):
            print(f"  {d}:\n    " + s.replace("\n", "\n    "))
        work = None
        return 1
    finally:
        if work is not None:
            shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
