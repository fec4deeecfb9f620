#!/usr/bin/env python3
"""Builds the Windows programs twice and compares them byte for byte.

Each build starts from a fresh copy of this source (the files git tracks or
would track, as they are in the work tree), in folders of different paths,
at a different time, with another time zone, locale, umask and a
SOURCE_DATE_EPOCH set in one of them: nothing of that may reach the
programs. Compared: updater.exe and mkupdate.exe, i686 and x86-64, from the
publisher preset. Exits 0 when all are the same; else names each program
that differs and where.
"""
import hashlib
import os
import shutil
import subprocess
import sys
import tempfile

PROGRAMS = [
    "windows-i686/updater.exe",
    "windows-i686/mkupdate.exe",
    "windows-x86_64/updater.exe",
    "windows-x86_64/mkupdate.exe",
]


def source_files(root):
    """The source's files, relative to root."""
    try:
        out = subprocess.run(
            ["git", "-C", root, "ls-files", "-z", "--cached", "--others",
             "--exclude-standard"],
            check=True, capture_output=True).stdout
        return [f for f in out.decode().split("\0")
                if f and os.path.isfile(os.path.join(root, f))]
    except (OSError, subprocess.CalledProcessError):
        files = []
        for folder, dirs, names in os.walk(root):
            if folder == root:
                dirs[:] = [d for d in dirs if d not in ("build", "dist", ".git")]
            files += [os.path.relpath(os.path.join(folder, n), root)
                      for n in names]
        return files


def copy_source(root, to):
    for name in source_files(root):
        target = os.path.join(to, name)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copy2(os.path.join(root, name), target)


def build(source, env, umask):
    old = os.umask(umask)
    try:
        for command in (
                ["cmake", "--preset", "publisher"],
                ["cmake", "--build", "--preset", "publisher", "--target",
                 "windows_i686", "windows_x86_64"]):
            r = subprocess.run(command, cwd=source, env=env,
                               stdout=subprocess.DEVNULL,
                               stderr=subprocess.PIPE, text=True)
            if r.returncode != 0:
                sys.exit(f"{' '.join(command)} in {source} failed:\n{r.stderr}")
    finally:
        os.umask(old)


def differences(a, b):
    """Offsets at which the two byte strings differ, and a size note."""
    offsets = [i for i in range(min(len(a), len(b))) if a[i] != b[i]]
    note = "" if len(a) == len(b) else f", sizes {len(a)} and {len(b)}"
    return offsets, note


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    work = tempfile.mkdtemp(prefix="reproducible-")
    sources = [os.path.join(work, "a"),
               os.path.join(work, "second", "a-longer-path-for-this-build")]
    base = dict(os.environ)
    base.pop("SOURCE_DATE_EPOCH", None)
    envs = [dict(base, TZ="UTC", LC_ALL="C.UTF-8"),
            dict(base, TZ="Asia/Tokyo", LC_ALL="C", SOURCE_DATE_EPOCH="1")]
    for source, env, umask in zip(sources, envs, (0o022, 0o077)):
        copy_source(root, source)
        build(source, env, umask)
        print(f"built in {source}")
    failed = []
    for program in PROGRAMS:
        first, second = (
            open(os.path.join(s, "build", "publisher", program), "rb").read()
            for s in sources)
        offsets, note = differences(first, second)
        if offsets or note:
            shown = ", ".join(hex(o) for o in offsets[:8])
            failed.append(program)
            print(f"FAIL  {program}: {len(offsets)} bytes differ"
                  f" (at {shown}){note}")
        else:
            digest = hashlib.sha256(first).hexdigest()
            print(f"ok    {program}: the same {len(first)} bytes,"
                  f" sha256 {digest}")
    if failed:
        print(f"the builds are kept in {work}")
        return 1
    shutil.rmtree(work)
    return 0


if __name__ == "__main__":
    sys.exit(main())
