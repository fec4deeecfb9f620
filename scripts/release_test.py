#!/usr/bin/env python3
"""Checks what scripts/release.sh wrote into dist/, as a publisher uses it.

The .deb is installed with dpkg (as root, on a machine without mkupdate
installed), its mkupdate packs an update of three releases with each of its
stubs, lists it and verifies folders against it, its JSON checked against
the schemas it installs; its man page must render without a warning and
name every option of the help text. Then the package is purged and nothing
of it may stay. The .zip must hold mkupdate.exe, updater.exe and the docs,
the programs those of the build. Versions: project(VERSION) everywhere.
"""
import gzip
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import zipfile

import jsonschema

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(ROOT, "build", "publisher")
SCHEMAS = ["check", "list", "pack", "verify"]
DOCS = ["publishing.md", "mkupdate-json.md"] + [
    f"mkupdate-{k}.schema.json" for k in SCHEMAS]
INSTALLED = ["/usr/bin/mkupdate", "/usr/share/man/man1/mkupdate.1.gz",
             "/usr/share/doc/mkupdate/copyright",
             "/usr/share/mkupdate/i686/updater.exe",
             "/usr/share/mkupdate/x86_64/updater.exe"] + [
                 "/usr/share/doc/mkupdate/" + d for d in DOCS]

failures = []


def check(what, ok, detail=""):
    print(("ok    " if ok else "FAIL  ") + what)
    if not ok:
        if detail:
            print("      " + str(detail).replace("\n", "\n      "))
        failures.append(what)
    return ok


def run(*args, cwd=None):
    return subprocess.run(list(args), cwd=cwd, capture_output=True, text=True)


def read(path):
    """The file's bytes; None when there is no such file."""
    try:
        with open(path, "rb") as f:
            return f.read()
    except FileNotFoundError:
        return None


def project_version():
    text = open(os.path.join(ROOT, "CMakeLists.txt")).read()
    return re.search(r"project\(updater VERSION ([0-9.]+)", text).group(1)


def check_zip(path, version):
    top = f"mkupdate-{version}-windows/"
    with zipfile.ZipFile(path) as z:
        names = {n for n in z.namelist() if not n.endswith("/")}
        want = {top + "mkupdate.exe", top + "updater.exe"} | {
            top + "docs/" + d for d in DOCS}
        check("the zip holds mkupdate.exe, updater.exe and the docs",
              names == want, sorted(names ^ want))
        for name in ("mkupdate.exe", "updater.exe"):
            built = read(os.path.join(BUILD, "windows-i686", name))
            check(f"its {name} is the i686 build's",
                  names == want and z.read(top + name) == built)


def make_releases(work):
    """Lumenhollow 1.0, 1.1 and 1.2: config.ini changes in 1.1 and goes
    back in 1.2; patch01.dat comes in 1.1; game.exe changes in each."""
    files = {
        "1.0": {"game.exe": "game 1.0", "config.ini": "fullscreen=1\n",
                "movie/op.mpg": "opening", "uninst.lst": "game.exe\n\0"},
        "1.1": {"game.exe": "game 1.1", "config.ini": "fullscreen=0\n",
                "patch01.dat": "patch 1.1"},
        "1.2": {"game.exe": "game 1.2", "config.ini": "fullscreen=1\n",
                "movie/staff.mpg": "staff roll"},
    }
    current = {}
    for release, changes in files.items():
        current.update(changes)
        for name, text in current.items():
            path = os.path.join(work, "Lumenhollow-" + release, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "w") as f:
                f.write(text)


def json_of(what, schema, *args):
    """Runs the installed mkupdate; checks its JSON against the schema."""
    r = run("mkupdate", *args)
    try:
        document = json.loads(r.stdout)
        jsonschema.validate(document, schema)
        check(what + ": JSON as its schema says", True)
        return r.returncode, document
    except (ValueError, jsonschema.ValidationError) as e:
        check(what + ": JSON as its schema says", False, f"{e}\n{r.stdout}")
        return r.returncode, {}


def check_installed_tool(version, work):
    r = run("mkupdate", "--version")
    check(f"mkupdate --version: mkupdate {version}",
          r.stdout == f"mkupdate {version}\n", r.stdout)
    page = "/usr/share/man/man1/mkupdate.1.gz"
    source = gzip.open(page, "rt").read()
    r = subprocess.run(["groff", "-man", "-Tutf8", "-ww", "-z"], input=source,
                       capture_output=True, text=True)
    check("the man page renders without a warning", r.returncode == 0 and
          not r.stderr, r.stderr)
    source = source.replace("\\-", "-")
    helps = "".join(run("mkupdate", "help", c).stdout
                    for c in ("pack", "list", "verify", "apply", "check"))
    missing = sorted(set(re.findall(r"--[a-z][a-z-]*", helps)) -
                     set(re.findall(r"--[a-z][a-z-]*", source)))
    check("the man page names every option of the help", not missing,
          missing)
    schemas = {k: json.load(open(f"/usr/share/doc/mkupdate/mkupdate-{k}"
                                 ".schema.json")) for k in SCHEMAS}
    make_releases(work)
    releases = ["--from", "Lumenhollow-1.0", "--from", "Lumenhollow-1.1",
                "--to", "Lumenhollow-1.2"]
    for arch in ("i686", "x86_64"):
        stub = f"/usr/share/mkupdate/{arch}/updater.exe"
        out = os.path.join(work, f"setup-{arch}.exe")
        r = run("mkupdate", "pack", "--stub", stub, "--out", out, *releases,
                cwd=work)
        stub_bytes, packed = read(stub), read(out)
        if not check(f"mkupdate packs with the {arch} stub",
                     r.returncode == 0 and None not in (stub_bytes, packed)
                     and packed.startswith(stub_bytes), r.stderr):
            continue
        check(f"a note for the x86-64 stub, none for i686 ({arch})",
              ("will not run on 32-bit Windows" in r.stderr) ==
              (arch == "x86_64"), r.stderr)
        code, listed = json_of(f"list --json --records ({arch})",
                               schemas["list"], "list", "--json",
                               "--records", out)
        names = [e.get("name") for e in listed.get("entries", [])]
        check(f"list: ok, the five entries that serve 1.0 and 1.1 ({arch})",
              code == 0 and listed.get("ok") is True and names == [
                  "config.ini", "game.exe", "movie\\staff.mpg",
                  "patch01.dat", "vrx.hvl"], listed)
    update = os.path.join(work, "setup-i686.exe")
    if read(update) is None:
        return
    check_new_commands(work, update, releases, schemas)
    for folder, code_wanted in (("Lumenhollow-1.2", 0),
                                ("Lumenhollow-1.0", 1)):
        code, verified = json_of(f"verify --json {folder}", schemas["verify"],
                                 "verify", "--json", update,
                                 os.path.join(work, folder))
        check(f"verify {folder}: exit {code_wanted}, ok "
              f"{code_wanted == 0}", code == code_wanted and
              verified.get("ok") is (code_wanted == 0), verified)
    # A changed byte in the first entry's data, then the list cut short.
    data = bytearray(read(update))
    first = json.loads(run("mkupdate", "list", "--json", update).stdout)
    data[first["entries"][0]["data_position"]] ^= 1
    with open(update, "wb") as f:
        f.write(data)
    code, listed = json_of("list --json of a changed update", schemas["list"],
                           "list", "--json", update)
    check("a changed entry: exit 1, ok false", code == 1 and
          listed.get("ok") is False)
    with open(update, "wb") as f:
        f.write(data[:-10])
    code, listed = json_of("list --json --records of a cut update",
                           schemas["list"], "list", "--json", "--records",
                           update)
    check("a cut update: ok false", listed.get("ok") is False)


def check_new_commands(work, update, releases, schemas):
    """pack without --stub (and from a prefix install), pack --json, check
    and apply, as installed."""
    both = [a if a.startswith("--") else os.path.join(work, a)
            for a in releases]
    r = run("mkupdate", "pack", "--out", os.path.join(work, "default.exe"),
            *both)
    check("pack takes the installed i686 stub when --stub is not given, "
          "and says so",
          r.returncode == 0 and read(os.path.join(work, "default.exe")) ==
          read(update) and r.stdout.startswith(
              "stub: /usr/share/mkupdate/i686/updater.exe ("),
          r.stdout + r.stderr)
    # Installed under a prefix of the publisher's, beside the package, the
    # tool takes its own stub.
    prefix = os.path.join(work, "prefix")
    r = run("cmake", "--install", BUILD, "--prefix", prefix)
    own = os.path.join(prefix, "share", "mkupdate", "i686", "updater.exe")
    if check("cmake --install --prefix", r.returncode == 0, r.stderr):
        r = run(os.path.join(prefix, "bin", "mkupdate"), "pack", "--out",
                os.path.join(work, "prefix.exe"), *both)
        check("a prefix install packs with its own stub, and says so",
              r.returncode == 0 and r.stdout.startswith(
                  f"stub: {own} (where mkupdate is installed; no --stub "
                  "given)\n"), r.stdout + r.stderr)
    for dry in (["--dry-run"], []):
        code, plan = json_of(f"pack --json {' '.join(dry)}", schemas["pack"],
                             "pack", "--out", os.path.join(work, "j.exe"),
                             "--json", *dry, *both)
        entries = plan.get("entries", [])
        check(f"pack --json {' '.join(dry)}: the entries and why",
              code == 0 and plan.get("written") is (not dry) and
              [e["name"] for e in entries] == [
                  "config.ini", "game.exe", "movie\\staff.mpg",
                  "patch01.dat"] and entries[3]["reason"] ==
              "new to " + both[1] and plan["list"]["records"] == 5, plan)
    # Packed from 1.1 alone, the update leaves 1.0 without patch01.dat.
    one = os.path.join(work, "one.exe")
    run("mkupdate", "pack", "--out", one, *both[2:])
    for what, tried, code_wanted in (("both", update, 0), ("1.1 alone", one, 1)):
        code, checked = json_of(f"check --json, packed from {what}",
                                schemas["check"], "check", "--json", tried,
                                *both)
        check(f"check, packed from {what}: exit {code_wanted}",
              code == code_wanted and checked.get("ok") is (code_wanted == 0),
              checked)
    game = os.path.join(work, "game")
    shutil.copytree(os.path.join(work, "Lumenhollow-1.0"), game)
    r = run("mkupdate", "apply", update, game)
    v = run("mkupdate", "verify", update, game)
    check("apply installs the update: exit 0, the folder verifies",
          r.returncode == 0 and "0x00000000" in r.stdout and
          v.returncode == 0, r.stdout + r.stderr + v.stdout)


def main():
    version = project_version()
    arch = run("dpkg", "--print-architecture").stdout.strip()
    dist = os.path.join(ROOT, "dist")
    deb = os.path.join(dist, f"mkupdate_{version}_{arch}.deb")
    check("dist/SHA256SUMS holds", run("sha256sum", "--quiet", "-c",
                                       "SHA256SUMS", cwd=dist).returncode == 0)
    check_zip(os.path.join(dist, f"mkupdate-{version}-windows.zip"), version)
    fields = run("dpkg-deb", "-f", deb, "Package", "Version").stdout
    check(f"the .deb is mkupdate {version}",
          fields == f"Package: mkupdate\nVersion: {version}\n", fields)
    status = run("dpkg-query", "-W", "-f=${Status}", "mkupdate").stdout
    if "installed" in status or os.path.exists("/usr/bin/mkupdate"):
        check("no mkupdate installed before the test", False,
              "the test installs and purges the package; it leaves a "
              "machine with mkupdate installed alone")
        return 1
    r = run("dpkg", "-i", deb)
    try:
        if check("dpkg -i installs it", r.returncode == 0, r.stderr):
            check("every file where the docs say",
                  all(os.path.isfile(p) for p in INSTALLED),
                  [p for p in INSTALLED if not os.path.isfile(p)])
            for arch in ("i686", "x86_64"):
                check(f"the {arch} stub is the build's", read(
                    f"/usr/share/mkupdate/{arch}/updater.exe") == read(
                        os.path.join(BUILD, f"windows-{arch}", "updater.exe")))
            with tempfile.TemporaryDirectory() as work:
                check_installed_tool(version, work)
    finally:
        r = run("dpkg", "-P", "mkupdate")
        check("dpkg -P removes it", r.returncode == 0, r.stderr)
    left = [p for p in INSTALLED + ["/usr/share/mkupdate",
                                    "/usr/share/doc/mkupdate"]
            if os.path.exists(p)]
    status = run("dpkg-query", "-W", "-f=${Status}", "mkupdate").stdout
    check("nothing of it stays", not left and "installed" not in status,
          left + [status])
    if failures:
        print("failed: " + "; ".join(failures))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
