#!/usr/bin/env python3
"""The benchmark's Windows part (scripts/bench.sh runs it): each checksum
kernel in the Windows programs (bench/kernel_speed.cpp), and an update
installed by each program's updater.exe under Wine, timed from pressing Yes
to the done box (e2e_driver --timed, which looks every millisecond), beside
an update of one empty file (what the boxes themselves take) and Wine's own
copy of the same files (CopyFileW, which `copy` uses) with a `sync` after
it; then where each program's
time goes, step by step (bench/install_steps.cpp). Prints Markdown tables.

  bench_wine.py WORK RUNS NATIVE_SECONDS FILE...

packs FILE... (with their verification list) on each program's updater;
NATIVE_SECONDS, the native updater's median for the same files, is shown
beside. WINE_PROGRAMS names the programs ("win32 win64" by default). BASE,
another build folder (an older commit's build/), has its updaters timed
too, run for run beside these.
"""
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys
import time

import harness

LABELS = {"win32": "i686", "win64": "x86-64"}
KERNELS = ("byte_loop", "sse2", "avx2", "avx512")


def kernel_table(wine, programs):
    speeds = {}
    for program in programs:
        out = wine.run([harness.ROOT / "build" / program /
                        "bench/kernel_speed.exe"], check=True).stdout
        speeds[program] = {line.split()[0]: line.split()[1:3] for line in
                           out.decode().splitlines() if line.strip()}
    columns = [(size, p) for size in (0, 1) for p in programs]
    print("| kernel under Wine |" + "".join(
        " %s %s |" % (LABELS[p], ("64 KiB", "40 MiB")[size])
        for size, p in columns))
    print("|---|" + "---|" * len(columns))
    for kernel in KERNELS:
        print("| %s |" % kernel + "".join(
            " %s GB/s |" % speeds[p].get(kernel, ["n/a"] * 2)[size]
            for size, p in columns))
    print()


def mkupdate():
    return os.environ.get("MKUPDATE", harness.ROOT / "build/native/mkupdate")


def pack(wine, program, name, files, build_root=harness.ROOT / "build"):
    """An update of FILES (none: of one empty file) on the program's
    updater (of the build in BUILD_ROOT), in its updates folder."""
    build = pathlib.Path(build_root) / program
    updates = wine.c / "updates" / program
    updates.mkdir(parents=True, exist_ok=True)
    if files:
        args = ["--verify-dir", files[0].parent] + files
    else:
        empty = wine.dir / "empty.txt"
        empty.write_bytes(b"")
        args = ["--entry", "empty.txt", empty]
    subprocess.run([mkupdate(), "pack", "--quiet", "--stub",
                    build / "updater.exe", "--out", updates / name] + args,
                   check=True, stdout=subprocess.DEVNULL)
    return "C:\\updates\\%s\\%s" % (program, name)


def install_seconds(wine, program, files, runs, base=None):
    """The time from Yes to the done box of each of RUNS installs; with
    BASE, a build folder, also of its updater's, run for run: (own, base)."""
    updates = [pack(wine, program, "setup.exe" if files else "empty.exe",
                    files)]
    if base:
        updates.append(pack(wine, program, "base.exe", files, base))
    game = wine.c / "Games/Lumenhollow"
    view = "/reg:32" if program == "win32" else "/reg:64"
    wine.set_registry("REG_SZ", "C:\\Games\\Lumenhollow", view)
    seconds = [[] for _ in updates]
    for _ in range(runs):
        for update, times in zip(updates, seconds):
            times += one_install(wine, program, update, game)
    return seconds if base else seconds[0]


def one_install(wine, program, update, game):
    """The time from Yes to the done box of one install, as a list."""
    shutil.rmtree(game, ignore_errors=True)
    game.mkdir(parents=True)
    (game / "uninst.lst").write_bytes(b"game.exe\n\0")
    os.sync()
    run = wine.drive("bench", [
        "--timed", "--box", "question:confirm:yes", "--box", "info:done:ok",
        "--exit", "0", update])
    if not run.passed():
        raise SystemExit("the %s updater failed under Wine\n%s" % (
            program, run.report()))
    return [int(m.group(1)) / 1000 for m in map(
        re.compile(r"box 2 after ([0-9]+) ms$").match, run.lines) if m]


def copy_seconds(wine, program, files, runs):
    """Wine's own copy of FILES into a fresh folder (CopyFileW, which
    `copy` uses, timed inside bench/copy_files.exe, so that the program's
    start is left out), then `sync`: the floor under the updater."""
    copies = wine.c / "copy"
    sources = ["Z:" + str(f).replace("/", "\\") for f in files]
    seconds = []
    for _ in range(runs):
        shutil.rmtree(copies, ignore_errors=True)
        copies.mkdir()
        os.sync()
        out = wine.run([harness.ROOT / "build" / program /
                        "bench/copy_files.exe", "C:\\copy"] + sources,
                       check=True).stdout
        started = time.monotonic()
        os.sync()
        seconds.append(float(out.decode().strip()) / 1000 +
                       time.monotonic() - started)
    shutil.rmtree(copies, ignore_errors=True)
    return seconds


def install_table(wine, programs, files, runs, native):
    mb = sum(f.stat().st_size for f in files) / 1e6
    print("| %d × %d MiB under Wine, %d runs | median | MB/s | fastest |" % (
        len(files), files[0].stat().st_size >> 20, runs))
    print("|---|---|---|---|")
    medians, base = {}, os.environ.get("BASE")
    for program in programs:
        for name, each in (("updater.exe", files), ("one empty file", [])):
            seconds = install_seconds(wine, program, each, runs, base)
            sides = [(name, seconds)]
            if base:
                sides = [(name, seconds[0]),
                         ("the other build's " + name, seconds[1])]
            for label, times in sides:
                median = statistics.median_low(times)
                medians[program, label] = median
                print("| %s %s | %.3f s | %s | %.3f s |" % (
                    LABELS[program], label, median,
                    "%.0f" % (mb / median) if each else "", min(times)))
    copies = {}
    for program in programs:
        copy = copy_seconds(wine, program, files, runs)
        copies[program] = statistics.median_low(copy)
        print("| %s CopyFileW + sync | %.3f s | %.0f | %.3f s |" % (
            LABELS[program], copies[program], mb / copies[program],
            min(copy)))
    print("| native updater (part 2, until on disk) | %.3f s | %.0f | |" % (
        native, mb / native))
    for program in programs:
        print("| %s updater.exe / (CopyFileW + sync) | %.2f× | | |" % (
            LABELS[program], medians[program, "updater.exe"] / copies[program]))
        if base:
            print("| %s updater.exe / the other build's | %.2f× | | |" % (
                LABELS[program], medians[program, "updater.exe"] /
                medians[program, "the other build's updater.exe"]))
    print()


def steps_table(wine, programs, files, runs):
    """Where each program's time goes under Wine (bench/install_steps)."""
    game = wine.c / "Games/Steps"
    shutil.rmtree(game, ignore_errors=True)
    game.mkdir(parents=True)
    (game / "uninst.lst").write_bytes(b"game.exe\n\0")
    steps = {}
    for program in programs:
        update = pack(wine, program, "steps.exe", files)
        out = wine.run([harness.ROOT / "build" / program /
                        "bench/install_steps.exe", update,
                        "C:\\Games\\Steps", runs], check=True).stdout
        steps[program] = [line.split("\t") for line in
                          out.decode().replace("\r", "").splitlines() if line]
    print("| step by step under Wine |" + "".join(
        " %s |" % LABELS[p] for p in programs))
    print("|---|" + "---|" * len(programs))
    for i, (name, _) in enumerate(steps[programs[0]]):
        print("| %s |" % name + "".join(
            " %s ms |" % steps[p][i][1] for p in programs))


def main(argv):
    if len(argv) < 5:
        sys.stderr.write(__doc__)
        return 2
    work, runs, native = argv[1], int(argv[2]), float(argv[3])
    files = [pathlib.Path(f).resolve() for f in argv[4:]]
    programs = os.environ.get("WINE_PROGRAMS", "win32 win64").split()
    wine = harness.Wine(pathlib.Path(work + "-wine").resolve())
    try:
        wine.start(quiet=True)
        kernel_table(wine, programs)
        install_table(wine, programs, files, runs, native)
        steps_table(wine, programs, files, runs)
    finally:
        wine.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
