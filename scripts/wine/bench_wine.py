#!/usr/bin/env python3
"""The benchmark's Windows part (scripts/bench.sh runs it): each checksum
kernel in the Windows programs (bench/kernel_speed.cpp), and an update
installed by each program's updater.exe under Wine, timed from pressing Yes
to the done box (e2e_driver --timed, which looks every millisecond).
Prints two Markdown tables.

  bench_wine.py WORK RUNS NATIVE_SECONDS FILE...

packs FILE... (with their verification list) on each program's updater;
NATIVE_SECONDS, the native updater's median for the same files, is shown
beside. WINE_PROGRAMS names the programs ("win32 win64" by default).
"""
import os
import pathlib
import re
import shutil
import statistics
import subprocess
import sys

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


def install_seconds(wine, program, files, runs):
    """The time from Yes to the done box of each of RUNS installs."""
    build = harness.ROOT / "build" / program
    updates = wine.c / "updates" / program
    updates.mkdir(parents=True, exist_ok=True)
    subprocess.run(
        [os.environ.get("MKUPDATE", harness.ROOT / "build/native/mkupdate"),
         "pack", "--stub",
         build / "updater.exe", "--out", updates / "setup.exe",
         "--verify-dir", files[0].parent] + files,
        check=True, stdout=subprocess.DEVNULL)
    game = wine.c / "Games/Lumenhollow"
    view = "/reg:32" if program == "win32" else "/reg:64"
    wine.set_registry("REG_SZ", "C:\\Games\\Lumenhollow", view)
    seconds = []
    for _ in range(runs):
        shutil.rmtree(game, ignore_errors=True)
        game.mkdir(parents=True)
        (game / "uninst.lst").write_bytes(b"game.exe\n\0")
        os.sync()
        run = wine.drive("bench", [
            "--timed", "--box", "question:confirm:yes", "--box",
            "info:done:ok", "--exit", "0",
            "C:\\updates\\%s\\setup.exe" % program])
        if not run.passed():
            raise SystemExit("the %s updater failed under Wine\n%s" % (
                program, run.report()))
        seconds += [int(m.group(1)) / 1000 for m in map(
            re.compile(r"box 2 after ([0-9]+) ms$").match, run.lines) if m]
    return seconds


def install_table(wine, programs, files, runs, native):
    mb = sum(f.stat().st_size for f in files) / 1e6
    print("| %d × %d MiB under Wine, %d runs | median | MB/s | fastest |" % (
        len(files), files[0].stat().st_size >> 20, runs))
    print("|---|---|---|---|")
    for program in programs:
        seconds = install_seconds(wine, program, files, runs)
        median = statistics.median_low(seconds)
        print("| %s updater.exe | %.3f s | %.0f | %.3f s |" % (
            LABELS[program], median, mb / median, min(seconds)))
    print("| native updater (part 2, until on disk) | %.3f s | %.0f | |" % (
        native, mb / native))


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
    finally:
        wine.stop()
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
