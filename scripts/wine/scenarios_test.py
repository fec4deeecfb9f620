#!/usr/bin/env python3
"""The Windows programs end to end, on Wine's real Win32 calls: named
mutexes across processes, the registry and its 32-bit view, MessageBoxA
with code page 932 texts, read-only files, sharing violations, 32-bit exit
codes, DLL loading, console events, TerminateProcess.

Every scenario is one test method, run once per program: class I686 is the
product, the i686 updater.exe under WoW64 with the install folder in the
32-bit registry view; class X86_64 its x86-64 sibling with it in the 64-bit
view. e2e_driver (e2e/driver.cpp) plays the user and checks every box; the
updates are made with the native mkupdate.

  bash scripts/ci/40-wine.sh                   # builds, then every scenario
  bash scripts/ci/40-wine.sh -k japanese       # builds, then those matching
  python3 scripts/wine/scenarios_test.py I686.test_answering_no_writes_nothing

WINE_PROGRAMS names the programs to run ("win32 win64" by default); the
builds must be there (the stage makes them). Each run starts a fresh Wine
prefix in build/wine (WINE_DIR), where every box's screenshot is kept in
shots/ and each driver run's lines and Wine's messages beside them.

A new scenario is one method: reset_game() and the registry are done by
setUp; pack() builds an update, update_bytes.flip_entry_byte() damages
one, install() runs it answering Yes, drive_untouched() checks that the
install folder did not change, and assert_no_temporaries() that no
temporary file was left.
"""
import filecmp
import hashlib
import os
import pathlib
import re
import shlex
import shutil
import stat
import subprocess
import sys
import threading
import time
import unittest

HERE = pathlib.Path(__file__).resolve().parent
sys.path[:0] = [str(HERE), str(HERE.parent)]
import harness  # noqa: E402
import update_bytes  # noqa: E402

ROOT = harness.ROOT
MKUPDATE = ROOT / "build/native/mkupdate"
ENGINE_MUTEX = "Varnelix for Lumenhollow is executing."
YES = "question:confirm:yes"
DONE = "info:done:ok"
# The install folder's uninstall list as the game leaves it: one name a
# line, the last byte a NUL.
UNINST = b"game.exe\ndata1.arc\nreadme.txt\n\0"
# The uninstall list after the complete update: the new names appended in
# directory order and stored case. The list is compared case-sensitively,
# so Data1.arc is added although data1.arc is listed.
UNINST_AFTER = (UNINST[:-1] +
                b"Data1.arc\nPatch01.DAT\nmovie\\Op.dat\nvrx.hvl\n\0")
# The contract's differences under Wine (testing/platform_contract.h):
# kDanglingLinkUnseen.
CONTRACT_WINE_DIFFERENCES = 8
# The DLLs Windows lists as known (KnownDLLs) and never takes from anywhere
# but System32; Wine keeps no such list.
KNOWN_DLLS = {
    "advapi32.dll", "combase.dll", "gdi32.dll", "imm32.dll", "kernel32.dll",
    "msvcrt.dll", "ole32.dll", "oleaut32.dll", "rpcrt4.dll", "sechost.dll",
    "shell32.dll", "shlwapi.dll", "user32.dll"}

wine = None
FILES = None  # the release files, made once for every program


def setUpModule():
    global wine, FILES
    wine = harness.Wine(os.environ.get("WINE_DIR", ROOT / "build/wine"))
    unittest.addModuleCleanup(wine.stop)
    wine.start()
    FILES = wine.dir / "files"
    make_release_files(FILES)


def make_release_files(files):
    write(files / "release/data1.arc", os.urandom(300000))
    write(files / "release/Patch01.DAT", b"patch 1\n")
    write(files / "release/movie/Op.dat", b"opening\n")
    write(files / "abc/a.arc", b"alpha\n")
    write(files / "abc/b.arc", b"bravo: one byte of this entry gets damaged\n")
    write(files / "abc/c.arc", b"charlie\n")
    shutil.copy(files / "release/data1.arc", files / "abc/data1.arc")


def write(path, data):
    path.parent.mkdir(parents=True, exist_ok=True)
    path.write_bytes(data)


def random_file(path, size):
    """A file of SIZE random bytes, made once per Wine directory."""
    if not path.exists():
        write(path, os.urandom(size))
    return path


def same_file(a, b):
    return os.path.exists(a) and filecmp.cmp(a, b, shallow=False)


def text(output):
    """A program's output as text, Windows line ends made plain."""
    return output.decode("utf-8", "replace").replace("\r", "")


def z_path(path):
    """The Windows path under which Wine's drive Z: shows a Linux path."""
    return "Z:" + str(path).replace("/", "\\")


class Scenarios:
    """The scenarios every program runs; a subclass names the program."""

    program = None  # win32 or win64: build/<program> holds its updater.exe
    view = None  # the registry view the program reads

    @classmethod
    def setUpClass(cls):
        wanted = os.environ.get("WINE_PROGRAMS", "win32 win64").split()
        if cls.program not in wanted:
            raise unittest.SkipTest("WINE_PROGRAMS leaves out " + cls.program)
        cls.build = ROOT / "build" / cls.program
        cls.updates = wine.c / "updates" / cls.program
        cls.updates.mkdir(parents=True, exist_ok=True)
        release, abc = FILES / "release", FILES / "abc"
        cls.pack("complete.exe", "--verify-dir", release,
                 "Data1.arc=%s" % (release / "data1.arc"),
                 release / "Patch01.DAT",
                 "movie/Op.dat=%s" % (release / "movie/Op.dat"))
        cls.pack("damaged.exe", "--verify-dir", abc, abc / "a.arc",
                 abc / "b.arc", abc / "c.arc")
        # One byte inside b.arc's data damaged after packing, as a bad
        # download would.
        update_bytes.flip_entry_byte(MKUPDATE, cls.updates / "damaged.exe",
                                     "b.arc", 7)
        cls.pack("held.exe", "--verify-dir", abc, abc / "a.arc",
                 abc / "data1.arc", abc / "c.arc")
        shutil.copy(cls.build / "updater.exe", cls.updates / "nopayload.exe")

    def setUp(self):
        self.noted = False
        self.use_game(wine.c / "Games/Lumenhollow", "C:\\Games\\Lumenhollow")

    # --- helpers ------------------------------------------------------------

    @classmethod
    def pack(cls, out, *args):
        """An update on this program's updater, in its updates folder."""
        packed = subprocess.run(
            [MKUPDATE, "pack", "--stub", cls.build / "updater.exe", "--out",
             cls.updates / out] + list(args), capture_output=True)
        if packed.returncode != 0:
            raise AssertionError(text(packed.stderr))
        return cls.updates / out

    def note(self, text):
        """A line of what the scenario saw, under its name."""
        sys.stderr.write(("" if self.noted else "\n") + "      " + text + "\n")
        self.noted = True

    def update_win(self, name):
        return "C:\\updates\\%s\\%s" % (self.program, name)

    def use_game(self, folder, folder_win):
        """The install folder, as the game leaves it, at FOLDER, and the
        registry naming it as REG_SZ in the program's view."""
        self.game, self.game_win = folder, folder_win
        self.reset_game()
        self.set_registry("REG_SZ")

    def reset_game(self):
        shutil.rmtree(self.game, ignore_errors=True)
        write(self.game / "uninst.lst", UNINST)
        write(self.game / "data1.arc", b"old archive 1\n")
        write(self.game / "game.exe", b"game\n")
        write(self.game / "readme.txt", b"read me\n")
        (self.game / "movie").mkdir()

    def set_registry(self, kind, view=None):
        wine.set_registry(kind, self.game_win, view or self.view)

    def drive(self, name, update, boxes, exit_code=None, options=(),
              env=None, tracer=()):
        """e2e_driver runs the update (a name in the updates folder, or a
        Windows path), expects BOXES in turn ("KIND:TEXT:PRESS") and the
        exit code; every check of the driver must pass. TRACER: see
        harness.Wine.drive."""
        args = list(options)
        for box in boxes:
            args += ["--box", box]
        if exit_code is not None:
            args += ["--exit", str(exit_code)]
        if "\\" not in update:
            update = self.update_win(update)
        run = wine.drive("%s-%s" % (self.program, name), args + [update], env,
                         tracer)
        self.assertTrue(run.passed(), run.report())
        return run

    def install(self, name, update, outcome=DONE, exit_code=0, **kwargs):
        """Runs the update answering Yes; OUTCOME is the box that follows."""
        return self.drive(name, update, [YES, outcome], exit_code, **kwargs)

    def snapshot(self):
        """Every file in the install folder with its mode and contents."""
        files = {}
        for path in sorted(self.game.rglob("*")):
            if path.is_file():
                files[str(path.relative_to(self.game))] = (
                    path.stat().st_mode & 0o7777,
                    hashlib.sha256(path.read_bytes()).hexdigest())
        return files

    def drive_untouched(self, *args, **kwargs):
        """drive, and the install folder is byte for byte as before."""
        before = self.snapshot()
        run = self.drive(*args, **kwargs)
        self.assertEqual(self.snapshot(), before, "nothing written")
        return run

    def assert_no_temporaries(self):
        self.assertEqual([str(p) for p in self.game.rglob("*.updating")], [],
                         "no temporary file left")

    def assert_list_unchanged(self):
        self.assertEqual((self.game / "uninst.lst").read_bytes(), UNINST,
                         "uninst.lst unchanged")

    def assert_installed(self, name, source):
        self.assertTrue(same_file(self.game / name, source),
                        "%s installed from %s" % (name, source))

    def assert_complete_install(self):
        """The complete update's effect on the install folder."""
        release = FILES / "release"
        # The entry stored as Data1.arc is written as Data1.arc.updating and
        # moved over the existing data1.arc, which under Wine keeps its
        # name's case.
        self.assert_installed("data1.arc", release / "data1.arc")
        mode = (self.game / "data1.arc").stat().st_mode
        self.assertTrue(mode & stat.S_IWUSR, "data1.arc no longer read-only")
        self.assert_installed("Patch01.DAT", release / "Patch01.DAT")
        self.assert_installed("movie/Op.dat", release / "movie/Op.dat")
        self.assertGreater((self.game / "vrx.hvl").stat().st_size, 0)
        self.assertEqual((self.game / "uninst.lst").read_bytes(), UNINST_AFTER,
                         "uninst.lst merged byte for byte")
        self.assertEqual((self.game / "readme.txt").read_bytes(), b"read me\n",
                         "other files untouched")
        self.assert_no_temporaries()

    def make_read_only(self, name):
        path = self.game / name
        path.chmod(path.stat().st_mode & ~0o222)
        return "%s\\%s" % (self.game_win, name)

    # --- the scenarios ------------------------------------------------------

    def test_complete_update_installs_every_entry(self):
        readonly = self.make_read_only("data1.arc")
        # What a killed run of another update left is swept; game files
        # whose names only hold the suffix are not.
        write(self.game / "old.arc.updating", b"left by another update\n")
        write(self.game / "a.updating.x", b"a game file\n")
        write(self.game / "movie/x.UPDATINGx", b"a game file\n")
        self.install("complete", "complete.exe",
                     options=["--readonly", readonly])
        self.assert_complete_install()
        self.assertEqual(sorted(os.listdir(self.game)), [
            "Patch01.DAT", "a.updating.x", "data1.arc", "game.exe", "movie",
            "readme.txt", "uninst.lst", "vrx.hvl"],
            "created names keep their case")
        self.assertEqual(sorted(os.listdir(self.game / "movie")),
                         ["Op.dat", "x.UPDATINGx"])

    def test_answering_no_writes_nothing(self):
        self.drive_untouched("declined", "complete.exe",
                             ["question:confirm:no"], -3)

    def test_damaged_entry_changes_nothing(self):
        # b.arc, the second of three, is damaged: not even a.arc, checked
        # and staged before it, reaches the game.
        listed = subprocess.run(
            [MKUPDATE, "list", self.updates / "damaged.exe"],
            capture_output=True)
        self.assertNotEqual(listed.returncode, 0,
                            "mkupdate list sees the damage")
        self.drive_untouched("mismatch", "damaged.exe",
                             [YES, "warning:corrupt:ok"], "0x80000003")
        self.assert_no_temporaries()

    def test_download_cut_short_changes_nothing(self):
        # Cut inside the third entry's data, as an interrupted download
        # leaves the file: refused at once, before anything is written, the
        # two whole entries before the cut included.
        cut = self.updates / "cut.exe"
        shutil.copy(self.updates / "complete.exe", cut)
        with open(cut, "r+b") as f:
            f.truncate(update_bytes.entry_position(MKUPDATE, cut,
                                                   "movie\\Op.dat", 3))
        self.drive_untouched("cut", "cut.exe", [YES, "warning:corrupt:ok"],
                             "0x80000001")
        self.assert_no_temporaries()

    def test_missing_uninstall_list_fails_after_every_entry(self):
        (self.game / "uninst.lst").unlink()
        self.install("nolist", "complete.exe", "warning:uninstallfailed:ok",
                     "0x80000005")
        self.assert_installed("data1.arc", FILES / "release/data1.arc")
        self.assertTrue((self.game / "Patch01.DAT").exists())
        self.assertTrue((self.game / "vrx.hvl").exists())
        self.assertFalse((self.game / "uninst.lst").exists(),
                         "no uninst.lst created")

    def test_missing_key_is_not_installed(self):
        self.set_registry(None)
        run = self.drive_untouched(
            "notinstalled", "complete.exe", ["warning:notinstalled:ok"], -1,
            env={"WINEDEBUG": "-all,+reg"})
        # Wine's registry trace shows the key as the updater asked for it,
        # the code page 932 name converted to ルーメンホロウ.
        self.assertIn(
            r"Software\\Orvane\\\30eb\30fc\30e1\30f3\30db\30ed\30a6",
            run.trace())

    def test_expand_sz_value_is_not_installed(self):
        self.set_registry("REG_EXPAND_SZ")
        self.drive_untouched("expandsz", "complete.exe",
                             ["warning:notinstalled:ok"], -1)

    def test_running_game_stops_it_before_the_registry(self):
        run = self.drive_untouched(
            "running", "complete.exe", ["warning:busy:ok"], -2,
            options=["--hold-mutex", ENGINE_MUTEX],
            env={"WINEDEBUG": "-all,+reg"})
        self.assertNotIn("Orvane", run.trace(),
                         "the registry was not consulted")

    def test_second_updater_ends_at_once(self):
        self.drive_untouched("second", "complete.exe",
                             ["question:confirm:enter"], -3,
                             options=["--second"])

    def test_update_without_payload_is_damaged(self):
        self.drive_untouched("nopayload", "nopayload.exe",
                             [YES, "warning:corrupt:ok"], "0x80000001")

    def test_file_held_by_the_game_is_not_written(self):
        # Held throughout: waited for about two seconds, then the run ends
        # before the first move, and the staged files are removed.
        self.drive_untouched(
            "held", "held.exe", [YES, "warning:failed:ok"], "0x80000004",
            options=["--hold-file", self.game_win + "\\data1.arc"])
        self.assert_no_temporaries()

    def test_file_held_for_a_moment_is_waited_for(self):
        # Held for half a second after Yes, as a scanner holds a file.
        self.install("held-moment", "held.exe",
                     options=["--hold-file", self.game_win + "\\data1.arc",
                              "--release-after-ms", "500"])
        for name in ("a.arc", "data1.arc", "c.arc"):
            self.assert_installed(name, FILES / "abc" / name)
        self.assert_no_temporaries()

    def test_updater_in_a_folder_named_with_e_diaeresis_runs(self):
        # "Zoë" has no form in code page 932: the updater still opens its
        # own file, by its wide name, and mkupdate.exe lists it.
        folder = wine.c / "Users/Zoë/Downloads"
        folder.mkdir(parents=True, exist_ok=True)
        shutil.copy(self.updates / "complete.exe", folder / "setup.exe")
        self.install("zoe", "C:\\Users\\Zoë\\Downloads\\setup.exe")
        self.assert_complete_install()
        # mkupdate.exe reads it there too, by the same wide name.
        listed = wine.run([self.build / "mkupdate.exe", "list",
                           "C:\\Users\\Zoë\\Downloads\\setup.exe"])
        self.assertEqual(listed.returncode, 0, text(listed.stderr))

    def test_links_in_the_install_folder_are_never_followed(self):
        # Unix links stand in for Windows' links. Wine shows a link to a
        # file as the file itself and would delete or move what it leads
        # to; the updater tells it by the name it resolves to. Each case
        # either completes with real files or is refused with the folder as
        # it was; what lies outside never changes.
        outside = wine.dir / "outside"
        cases = [
            # (link in the folder, what it leads to, exit code, boxes)
            ("data1.arc.updating", "file", "0x80000004", "warning:failed:ok"),
            ("data1.arc", "file", 0, DONE),
            ("movie", "folder", "0x80000004", "warning:failed:ok"),
            ("uninst.lst.updating", "list", "0x80000004", "warning:failed:ok"),
        ]
        for link, target, code, box in cases:
            shutil.rmtree(outside, ignore_errors=True)
            write(outside / "file", b"outside\n")
            write(outside / "list", b"outside list\n\0")
            (outside / "folder").mkdir()
            self.reset_game()
            path = self.game / link
            if path.is_dir():
                path.rmdir()
            elif path.exists():
                path.unlink()
            path.symlink_to(outside / target)
            outside_before, game_before = tree(outside), tree(self.game)
            self.install("link-" + link, "complete.exe", box, code)
            self.assertEqual(tree(outside), outside_before, link)
            if code != 0:
                self.assertEqual(tree(self.game), game_before, link)
                continue
            self.assert_no_temporaries()
            self.assertFalse((self.game / link).is_symlink(), link)
            self.assert_installed("data1.arc", FILES / "release/data1.arc")

    def test_read_only_uninstall_list_is_refused(self):
        # Wine's move replaces a read-only file where Windows refuses; the
        # backend refuses it itself, so the list stays as Windows keeps it.
        self.make_read_only("uninst.lst")
        self.install("readonly-list", "complete.exe",
                     "warning:uninstallfailed:ok", "0x80000005")
        self.assert_installed("data1.arc", FILES / "release/data1.arc")
        self.assert_list_unchanged()
        self.assert_no_temporaries()

    def test_folder_swapped_for_a_link_while_staging(self):
        # While the large entry before movie\Op.dat stages, the folder movie
        # is renamed away and a link to a folder outside put in its place.
        # A Windows program cannot rename it: the run holds it without
        # sharing deletion, and the update completes inside. A process
        # outside Wine can (no Windows share mode stops it); its link (a
        # Unix link, which stands in for a Windows link here) must not lead
        # the run: refused, with the game as it was. Nothing outside ever
        # changes.
        big = FILES / "race/Big.arc"
        random_file(big, 96 << 20)
        self.pack("race.exe", "Big.arc=%s" % big,
                  "movie/Op.dat=%s" % (FILES / "release/movie/Op.dat"))
        outside = wine.dir / "outside-race"
        staging = self.game / "Big.arc.updating"
        for by_windows in (True, False):
            self.reset_game()
            shutil.rmtree(outside, ignore_errors=True)
            write(outside / "Op.dat", b"outside\n")
            write(self.game / "movie/Op.dat", b"old op\n")
            outside_before, game_before = tree(outside), tree(self.game)
            if by_windows:
                renamer = subprocess.Popen(
                    wine.command(["C:\\e2e\\e2e_hold.exe", "rename",
                                  self.game_win + "\\movie",
                                  self.game_win + "\\Big.arc.updating"]),
                    env=wine.env, stdout=subprocess.PIPE,
                    stderr=subprocess.DEVNULL)
                self.assertEqual(text(renamer.stdout.readline()).strip(),
                                 "ready")
                self.install("race-windows", "race.exe")
                said = text(renamer.communicate(timeout=90)[0]).strip()
                self.assertEqual(said, "refused 32", "a sharing violation")
                self.assert_installed("movie/Op.dat",
                                      FILES / "release/movie/Op.dat")
            else:
                swapper = threading.Thread(target=swap_when_staging, args=(
                    staging, self.game / "movie", outside))
                swapper.start()
                self.install("race-outside", "race.exe", "warning:failed:ok",
                             "0x80000004")
                swapper.join(60)
                # The game as it was, but for what the attacker did.
                game_before["movie.away"] = game_before.pop("movie")
                game_before["movie"] = "link to %s" % outside
                self.assertEqual(tree(self.game), game_before, "as it was")
            self.assertEqual(tree(outside), outside_before, "nothing outside")

    def test_own_file_swapped_by_another_program(self):
        # Another Windows program renames the update the player started
        # away and copies another update to its name. While the question is
        # shown, the run holds its file, sharing only reading: the rename is
        # refused and the started update installs. Before the program's
        # first instruction (created suspended) the swap succeeds: the file
        # then at the program's name is not the image it was started from,
        # and the run is refused; the other update is never installed.
        write(FILES / "other/Evil.dll", b"another update\n")
        self.pack("other.exe", FILES / "other/Evil.dll")
        folder = self.updates / "swap"
        for at_start in (False, True):
            self.reset_game()
            shutil.rmtree(folder, ignore_errors=True)
            folder.mkdir()
            shutil.copy(self.updates / "complete.exe", folder / "setup.exe")
            options = ["--swap-own-at-start" if at_start else "--swap-own",
                       self.update_win("other.exe")]
            exe = self.update_win("swap\\setup.exe")
            if at_start:
                run = self.drive_untouched(
                    "swap-at-start", exe, [YES, "warning:corrupt:ok"],
                    "0x80000001", options=options)
                self.assertIn("own file: renamed, another copied", run.lines)
            else:
                run = self.install("swap-at-question", exe, options=options)
                self.assertIn("own file: rename refused 32", run.lines)
                self.assert_complete_install()
            self.assertFalse((self.game / "Evil.dll").exists(), at_start)

    def test_hard_links_change_nothing_outside(self):
        # A hard link in the folder is a name of a file outside. Replaced as
        # a name when it may be written; read-only, at a target or at a
        # temporary name, the run refuses it before anything is written,
        # since Windows would have the attribute of the file outside
        # cleared to replace or remove it. The file outside never changes.
        outside = wine.dir / "outside-hard"
        cases = [
            # (name in the folder, read-only outside, exit code, box)
            ("data1.arc", True, "0x80000004", "warning:failed:ok"),
            ("Data1.arc.updating", True, "0x80000004", "warning:failed:ok"),
            ("data1.arc", False, 0, DONE),
        ]
        for name, read_only, code, box in cases:
            shutil.rmtree(outside, ignore_errors=True)
            write(outside / "file", b"outside\n")
            if read_only:
                (outside / "file").chmod(0o444)
            self.reset_game()
            path = self.game / name
            if path.exists():
                path.unlink()
            os.link(outside / "file", path)
            outside_before = self.modes(outside)
            game_before = tree(self.game)
            self.install("hard-" + name, "complete.exe", box, code)
            self.assertEqual(self.modes(outside), outside_before, name)
            if code != 0:
                self.assertEqual(tree(self.game), game_before, name)
            else:
                self.assert_installed("data1.arc", FILES / "release/data1.arc")

    def modes(self, folder):
        """tree(FOLDER) with each file's mode."""
        return {name: (value, (folder / name).stat().st_mode & 0o7777)
                for name, value in tree(folder).items()}

    def test_uninstall_list_swapped_for_a_link_at_its_read(self):
        # Wine's server makes the opens of Windows programs: stopped before
        # its open of uninst.lst (testing/pause_shim.c), it lets the list
        # be swapped for a link (a Unix one, which Wine shows as the file
        # it leads to) to a file only its owner may read, at that call and
        # no other. The run must not read it: every entry in, 0x80000005,
        # and the secret in no file the run wrote.
        secret = wine.dir / "outside-list/secret"
        write(secret, b"root's secret\n\0")
        secret.chmod(0o600)
        pause, list_path = wine.dir / "pause", self.game / "uninst.lst"

        def swap():
            if wait_for(pause / "paused"):
                list_path.unlink()
                list_path.symlink_to(secret)
            write(pause / "go", b"")

        with wine.paused_server("uninst.lst", pause):
            swapper = threading.Thread(target=swap)
            swapper.start()
            self.install("list-swapped", "complete.exe",
                         "warning:uninstallfailed:ok", "0x80000005")
            swapper.join(60)
        self.assertTrue(list_path.is_symlink(), "swapped at the read")
        self.assert_installed("data1.arc", FILES / "release/data1.arc")
        for path in self.game.rglob("*"):
            if path.is_file() and not path.is_symlink():
                self.assertNotIn(b"secret", path.read_bytes(), path)
        self.assertEqual(secret.stat().st_mode & 0o777, 0o600)

    def test_install_folder_reached_through_a_link_is_refused(self):
        # Someone who may write C:\Games puts a link where the game's folder
        # was (a Unix link, which Wine shows as the folder it leads to): the
        # run would write and sweep wherever it leads. It is refused before
        # anything is written, a link to the game's own folder too.
        outside = wine.dir / "outside-folder"
        shutil.rmtree(outside, ignore_errors=True)
        write(outside / "data1.arc", b"system file\n")
        write(outside / "movie/Op.dat", b"system file\n")
        write(outside / "uninst.lst", UNINST)
        write(outside / "cache.updating", b"system file\n")
        (outside / "cache.updating").chmod(0o444)
        real = self.game.with_name("Lumenhollow.real")
        shutil.rmtree(real, ignore_errors=True)
        self.game.rename(real)
        try:
            for target in (outside, real):
                self.game.symlink_to(target)
                before = self.modes(target)
                self.install("folder-link-" + target.name, "complete.exe",
                             "warning:failed:ok", "0x80000004")
                self.assertEqual(self.modes(target), before, target)
                self.game.unlink()
        finally:
            if self.game.is_symlink():
                self.game.unlink()
            real.rename(self.game)

    def test_every_staged_file_is_flushed_before_its_move(self):
        # The process tree under strace, Wine's server included (started
        # anew under it): every temporary file is synced (FlushFileBuffers)
        # before it is renamed over its target, and every folder a rename
        # went into is synced (FlushFolder) after it, and before the
        # uninstall list's rename, which is last; the install folder again
        # after that.
        log = wine.dir / "strace.log"
        wine.wineserver("-k")
        self.install("traced", "complete.exe", tracer=[
            "strace", "-f", "-y", "-qq", "-s", "512", "-o", log, "-e",
            "trace=fsync,fdatasync,rename,renameat,renameat2"])
        wine.wineserver("-k")
        self.assert_complete_install()
        calls = traced_calls(log.read_text("utf-8", "replace"))
        targets = ["data1.arc", "Patch01.DAT", "movie/Op.dat", "vrx.hvl",
                   "uninst.lst"]
        self.assertEqual(flush_then_move_faults(calls, self.game, targets), [])

    def test_signed_update_installs(self):
        readonly = self.make_read_only("data1.arc")
        key, cert = wine.dir / "sign.key", wine.dir / "sign.crt"
        if not cert.exists():
            subprocess.run(
                ["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes",
                 "-days", "2", "-subj", "/CN=Orvane test", "-keyout", key,
                 "-out", cert], check=True, capture_output=True)
        signed = self.updates / "signed.exe"
        subprocess.run(
            ["osslsigncode", "sign", "-certs", cert, "-key", key, "-n",
             "Lumenhollow update", "-in", self.updates / "complete.exe",
             "-out", signed], check=True, stdout=subprocess.DEVNULL)
        verified = subprocess.run(["osslsigncode", "verify", "-CAfile", cert,
                                   "-in", signed], capture_output=True)
        self.assertEqual(verified.returncode, 0, "a valid signature")
        self.install("signed", "signed.exe", options=["--readonly", readonly])
        self.assert_complete_install()

    def test_japanese_entry_names_in_code_page_932(self):
        # mkupdate stores the names in code page 932 and the updater's narrow
        # calls create them under those names. ソ (83 5C) ends in the byte
        # of a backslash. mkupdate.exe, the Windows tool, on the same files,
        # packs the same bytes.
        pack, names = wine.c / "pack", ("ルーメン.dat", "ソフト.txt")
        shutil.rmtree(pack, ignore_errors=True)
        write(pack / "ja" / names[0], b"lumen\n")
        write(pack / "ja" / names[1], b"soft\n")
        shutil.copy(self.build / "updater.exe", pack / "stub.exe")
        subprocess.run([MKUPDATE, "pack", "--stub", pack / "stub.exe", "--out",
                        self.updates / "japanese.exe", "--verify-dir",
                        pack / "ja"] + [pack / "ja" / n for n in names],
                       check=True, stdout=subprocess.DEVNULL)
        tool = self.build / "mkupdate.exe"
        packed = wine.run(
            [tool, "pack", "--stub", "C:\\pack\\stub.exe", "--out",
             "C:\\pack\\japanese.exe", "--verify-dir", "C:\\pack\\ja"] +
            ["C:\\pack\\ja\\" + n for n in names])
        self.assertEqual(packed.returncode, 0, packed.stderr)
        self.assertTrue(same_file(pack / "japanese.exe",
                                  self.updates / "japanese.exe"),
                        "mkupdate.exe packs the same bytes")
        listed = wine.run([tool, "list", self.update_win("japanese.exe")])
        self.assertRegex(text(listed.stdout),
                         re.compile("^ソフト.txt .* verified", re.M),
                         "mkupdate.exe lists the names in UTF-8")
        self.install("japanese-entries", "japanese.exe")
        for name in names:
            self.assert_installed(name, pack / "ja" / name)
        self.assertEqual(
            (self.game / "uninst.lst").read_bytes(),
            UNINST[:-1] + b"\x83\x8b\x81\x5b\x83\x81\x83\x93.dat\n"
            b"\x83\x5c\x83\x74\x83\x67.txt\nvrx.hvl\n\0",
            "uninst.lst holds the names in code page 932")

    def test_japanese_install_folder(self):
        # The registry hands the folder to the narrow calls in code page 932,
        # and ソ ends in 0x5C, the byte of a backslash.
        self.use_game(wine.c / "ソフト/ルーメンホロウ", "C:\\ソフト\\ルーメンホロウ")
        self.make_read_only("data1.arc")
        self.install("japanese", "complete.exe")
        self.assert_complete_install()

    def test_40_mib_entry_installs_and_one_changed_byte_refuses_it(self):
        # The size of the game's largest archives; the byte changed at 30 MiB
        # lies far past every block the kernels take at their start.
        source = random_file(FILES / "large/data2.arc", 40 << 20)
        update = self.pack("large.exe", "--verify-dir", source.parent, source)
        self.install("large", "large.exe")
        self.assert_installed("data2.arc", source)
        self.reset_game()
        update_bytes.flip_entry_byte(MKUPDATE, update, "data2.arc", 30 << 20)
        self.install("large-damaged", "large.exe", "warning:corrupt:ok",
                     "0x80000003")
        self.assertFalse((self.game / "data2.arc").exists(),
                         "the damaged entry never reached the disk")
        self.assert_list_unchanged()

    def test_mkupdate_exe_packs_lists_and_verifies_as_mkupdate(self):
        # On Windows paths, of this program's build.
        tool, release = self.build / "mkupdate.exe", z_path(FILES / "release")
        packed = wine.run([
            tool, "pack", "--stub", z_path(self.build / "updater.exe"),
            "--out", self.update_win("by-tool.exe"), "--verify-dir", release,
            "Data1.arc=%s\\data1.arc" % release, release + "\\Patch01.DAT",
            "movie/Op.dat=%s\\movie\\Op.dat" % release])
        self.assertEqual(packed.returncode, 0, packed.stderr)
        self.assertTrue(same_file(self.updates / "by-tool.exe",
                                  self.updates / "complete.exe"),
                        "byte for byte the native mkupdate's update")
        listed = wine.run([tool, "list", self.update_win("by-tool.exe")])
        self.assertEqual(listed.returncode, 0, listed.stderr)
        native = subprocess.run(
            [MKUPDATE, "list", self.updates / "complete.exe"],
            capture_output=True, check=True)
        # The first line names the file.
        self.assertEqual(
            text(listed.stdout).split("\n")[1:],
            text(native.stdout).split("\n")[1:])
        self.install("by-tool", "by-tool.exe")
        verify = [tool, "verify", self.game_win + "\\vrx.hvl", self.game_win]
        checked = wine.run(verify)
        self.assertEqual(checked.returncode, 0, checked.stdout)
        (self.game / "Patch01.DAT").write_bytes(b"changed\n")
        checked = wine.run(verify)
        self.assertEqual(checked.returncode, 1, checked.stdout)
        self.assertIn(b"Patch01.DAT", checked.stdout)

    def test_mkupdate_exe_checks_and_applies_an_update(self):
        # On Windows paths: the update of 1.0 to 1.1 that mkupdate.exe packs
        # with the updater.exe beside it brings a copy of 1.0 to 1.1
        # (check, in the system's temporary folder), and apply installs it,
        # ルーメン.dat and all, into a folder of C: with a Japanese name with
        # the updater's own run. No spelling of a release's path lets pack
        # write into it.
        releases = wine.c / "releases"
        shutil.rmtree(releases, ignore_errors=True)
        for name, game in (("old", b"game 1.0"), ("new", b"game 1.1")):
            write(releases / name / "game.exe", game)
            write(releases / name / "uninst.lst", b"game.exe\n\0")
        write(releases / "new" / "Patch01.DAT", b"patch\n")
        write(releases / "new" / "ルーメン.dat", b"lumen\n")
        tool, update = self.build / "mkupdate.exe", self.update_win("checked.exe")
        both = ["--from", "C:\\releases\\old", "--to", "C:\\releases\\new"]
        packed = wine.run([tool, "pack", "--out", update] + both)
        self.assertEqual(packed.returncode, 0, packed.stderr)
        self.assertIn(b"updater.exe (beside mkupdate; no --stub given)",
                      packed.stdout)
        # An output inside a release, its folder spelled in other letter
        # case, is refused and writes nothing there.
        inside = wine.run([tool, "pack", "--stub",
                           z_path(self.build / "updater.exe"), "--out",
                           "C:\\RELEASES\\NEW\\game.exe"] + both)
        self.assertEqual(inside.returncode, 1, inside.stderr)
        self.assertIn(b"the output lies inside C:\\releases\\new (--to)",
                      inside.stderr)
        self.assertEqual((releases / "new" / "game.exe").read_bytes(),
                         b"game 1.1")
        checked = wine.run([tool, "check", update] + both)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        self.assertIn(b"every release becomes", checked.stdout)
        shutil.copytree(releases / "old", releases / "コピー")
        applied = wine.run([tool, "apply", update, "C:\\releases\\コピー"])
        self.assertEqual(applied.returncode, 0, applied.stderr)
        self.assertIn(b", 0x00000000 (", applied.stdout)
        self.assertEqual((releases / "コピー" / "Patch01.DAT").read_bytes(),
                         b"patch\n")
        self.assertEqual((releases / "コピー" / "ルーメン.dat").read_bytes(),
                         b"lumen\n")

    def test_mkupdate_exe_interrupted_by_ctrl_c_leaves_nothing(self):
        # e2e_interrupt, in a console that Wine keeps on a pseudo-terminal
        # (script gives it one), presses Ctrl+C once the unfinished file of
        # a 256 MiB update holds 32 MiB. The tool ends with
        # STATUS_CONTROL_C_EXIT, never 0.
        big = FILES / "big"
        for name in ("a.arc", "b.arc"):
            random_file(big / name, 128 << 20)
        out = self.updates / "interrupted"
        log = self.updates / "interrupted.log"
        shutil.rmtree(out, ignore_errors=True)
        out.mkdir()
        if log.exists():
            log.unlink()
        source = z_path(big)
        command = " ".join('"%s"' % arg for arg in [
            z_path(self.build / "mkupdate.exe"), "pack", "--stub",
            z_path(self.build / "updater.exe"), "--out",
            self.update_win("interrupted\\big.exe"), "--verify-dir", source,
            source + "\\a.arc", source + "\\b.arc"])
        line = shlex.join(wine.command([
            "C:\\e2e\\e2e_interrupt.exe", self.update_win("interrupted.log"),
            self.update_win("interrupted\\big.exe.*.tmp"), 32 << 20, command]))
        done = subprocess.run(
            ["timeout", "180", "script", "-qec", line, "/dev/null"],
            env=wine.env_with({"SHELL": "/bin/bash"}),
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        report = text(log.read_bytes())
        self.assertEqual(done.returncode, 0, report)
        self.assertRegex(report, re.compile(
            r"^seen big\.exe\.[0-9]+-0\.tmp [0-9]+$", re.M),
            "Ctrl+C pressed while the unfinished file was being written")
        self.assertIn("exit 0xC000013A\n", report)
        self.assertEqual(os.listdir(out), [], "nothing left in the folder")

    def test_platform_contract_holds_on_win32(self):
        """The platform contract (testing/platform_contract.h) on the Win32
        backend, as the fake and the POSIX stand-in pass it in the unit
        suite. Wine shows a link that leads nowhere as nothing, where
        Windows shows the link: that difference is named; every other
        behaviour is Windows' own, or the backend's where Wine's is not (a
        read-only target)."""
        status, lines = wine.contract(self.build / "e2e/e2e_contract.exe",
                                      "C:\\contract-" + self.program,
                                      CONTRACT_WINE_DIFFERENCES)
        report = "\n".join(lines)
        self.assertEqual(status, 0, report)
        # "cases N" first, then a line for each.
        self.assertTrue(lines and lines[0].startswith("cases "), report)
        self.assertEqual(["ok"] * int(lines[0].split()[1]),
                         [x.split()[0] for x in lines[1:]], report)

    def test_planted_dlls_are_never_loaded(self):
        # The updater runs elevated from folders anyone can write to. Every
        # DLL it loads once it runs must come from System32, never from
        # beside it, even with Wine told to prefer a native DLL of that
        # name. Those the system loads before its first instruction (its
        # imports and theirs) the program cannot protect: Windows takes them
        # from System32 as known DLLs, Wine from beside the program when
        # told to prefer native ones. So they are left out here: the DLLs
        # loaded by a second updater, which ends at once having called
        # nothing that loads one; and the known DLLs, which Wine loads from
        # beside the program in spite of the restricted search.
        exe = self.update_win("complete.exe")
        trace = {"WINEDEBUG": "-all,+loaddll"}
        run = self.install("dlls-seen", "complete.exe", env=trace)
        loaded_later = dlls_loaded_by(run.trace(), exe)
        self.reset_game()
        run = self.drive("dlls-at-start", "complete.exe",
                         ["question:confirm:no"], -3, options=["--second"],
                         env=trace)
        at_start = dlls_loaded_by(run.trace(), exe, 2)
        planted = sorted(loaded_later - at_start - KNOWN_DLLS)
        self.note("loaded before the program runs: " +
                  " ".join(sorted(at_start)))
        self.note("loaded by the program, planted: " + " ".join(planted))
        self.assertIn("user32.dll", at_start,
                      "the trace names the DLLs loaded at the start")
        self.assertIn("uxtheme.dll", planted, "and those the program loads")
        folder, marks = self.updates / "planted", wine.c / "planted"
        for each in (folder, marks):
            shutil.rmtree(each, ignore_errors=True)
            each.mkdir()
        shutil.copy(self.updates / "complete.exe", folder)
        for name in planted:
            shutil.copy(self.build / "e2e/planted.dll", folder / name)
        self.reset_game()
        overrides = ",".join(name[:-len(".dll")] for name in planted)
        exe = self.update_win("planted\\complete.exe")
        run = self.install("planted", exe, env=dict(
            trace, WINEDLLOVERRIDES="%s;%s=n,b" % (
                wine.env["WINEDLLOVERRIDES"], overrides)))
        self.assertEqual(os.listdir(marks), [], "no planted DLL was loaded")
        exe = exe.lower()
        from_folder = [path for _, path in loaded(run.trace())
                       if path.startswith(exe[:-len("complete.exe")]) and
                       path != exe]
        self.assertEqual(from_folder, [], "only the update from its folder")
        self.assert_complete_install()

    def test_terminated_update_leaves_every_file_whole(self):
        # The updater ended by TerminateProcess, as the task manager ends it,
        # at moments spread over an update of three large entries over an
        # older install. After each kill every file of the update is its old
        # version (absent if the game did not have it) or its new one, and
        # the uninstall list its old text or the merged one; beside them
        # there may be the temporary file of the entry being written. The
        # next complete run replaces it and leaves none.
        kill = Kill(FILES / "kill")
        update = self.pack("kill.exe", "--verify-dir", kill.new,
                           *[kill.new / n for n in Kill.NAMES])
        kill.new_list = update_bytes.entry_data(MKUPDATE, update, "vrx.hvl")
        # Whole runs first, timed from Yes to the done box: the kills are
        # spread over the faster, which has the entries in the page cache.
        times = []
        for n in (1, 2):
            kill.reset(self)
            run = self.install("kill-whole-%d" % n, "kill.exe",
                               options=["--timed"])
            times += [int(m.group(1)) for m in map(
                re.compile(r"box 2 after ([0-9]+) ms$").match, run.lines) if m]
        self.assertTrue(times, "the whole update was timed")
        whole = min(times)
        self.note("the whole update took %d ms" % whole)
        rounds, ended, cut, problems = 16, 0, 0, []
        for k in range(1, rounds + 1):
            kill.reset(self)
            after = whole * k // (rounds + 1)
            run = self.drive("kill-%d" % k, "kill.exe", [YES],
                             options=["--kill-after-ms", after])
            ended += run.has_line("terminated")
            fresh, temps, problem = kill.state(self.game)
            if problem:
                problems.append("kill %d: %s" % (k, problem))
                continue
            cut += temps > 0
            self.note("kill %d after %d ms: %d of 5 new, %d temporary" % (
                k, after, fresh, temps))
        self.assertEqual(problems, [], "every file whole after each kill")
        self.assertGreater(ended, 0, "the kills ended a running update")
        self.assertGreater(cut, 0, "kills fell in the middle of an entry")
        # The last kill's leftovers, replaced by a complete run.
        self.install("kill-after", "kill.exe")
        self.assertEqual(kill.state(self.game), (5, 0, None))


def traced_calls(text):
    """(call, first path, second path) of each successful call in an strace
    -f -y log: a descriptor's path for fsync, the names for rename."""
    calls = []
    for line in text.splitlines():
        found = re.search(r" (fsync|fdatasync)\([0-9]+<([^>]*)>\) += 0", line)
        if found:
            calls.append(("sync", found.group(2), None))
            continue
        found = re.search(r' rename(?:at2?)?\((?:[^,]*, )?"([^"]*)", '
                          r'(?:[^,]*, )?"([^"]*)".*\) += 0', line)
        if found:
            calls.append(("rename", found.group(1), found.group(2)))
    return calls


def flush_then_move_faults(calls, game, targets):
    """What the traced calls do wrong: a target renamed over without its
    temporary file synced first, a folder not synced after a rename into
    it and before the list's, the list not renamed last, or the install
    folder not synced after it."""
    faults, synced, unsynced_folders = [], set(), set()
    renamed = {}
    for call, first, second in calls:
        if not first.startswith(str(game)):
            continue  # Wine's own files: its registry, saved by its server
        if call == "sync":
            synced.add(first)
            unsynced_folders.discard(first)
        else:
            renamed[second] = first
            if second == str(game / "uninst.lst") and unsynced_folders:
                faults.append("the list renamed before %s was synced" %
                              sorted(unsynced_folders))
            unsynced_folders.add(os.path.dirname(second))
            if first not in synced:
                faults.append("%s renamed unsynced" % first)
    for target in targets:
        if str(game / target) not in renamed:
            faults.append("%s never renamed over" % target)
    if unsynced_folders:
        faults.append("%s not synced after the last rename" %
                      sorted(unsynced_folders))
    return faults


def wait_for(path):
    """True once PATH exists, waiting a minute at most."""
    for _ in range(60000):
        if path.exists():
            return True
        time.sleep(0.001)
    return False


def swap_when_staging(staging, folder, target):
    """Renames FOLDER away and puts a link to TARGET in its place as soon as
    STAGING exists (a minute at most)."""
    for _ in range(60000):
        if staging.exists():
            folder.rename(folder.with_name(folder.name + ".away"))
            folder.symlink_to(target)
            return
        time.sleep(0.001)


def tree(folder):
    """Every name under FOLDER, links not followed: a file's hash, a link's
    target, a folder as such."""
    found = {}
    for entry in os.scandir(folder):
        if entry.is_symlink():
            found[entry.name] = "link to " + os.readlink(entry.path)
        elif entry.is_dir():
            found[entry.name] = tree(entry.path)
        else:
            with open(entry.path, "rb") as f:
                found[entry.name] = hashlib.sha256(f.read()).hexdigest()
    return found


class Kill:
    """The files of the kill test: an older install and the update's."""

    NAMES = ("data1.arc", "data2.arc", "data3.arc")

    def __init__(self, folder):
        self.new, self.old = folder / "new", folder / "old"
        for name, mib in zip(self.NAMES, (40, 32, 24)):
            random_file(self.new / name, mib << 20)
        for name, mib in zip(self.NAMES, (36, 30)):
            random_file(self.old / name, mib << 20)
        self.uninst_after = UNINST[:-1] + b"data2.arc\ndata3.arc\nvrx.hvl\n\0"
        self.new_list = None

    def reset(self, scenario):
        scenario.reset_game()
        for name in self.NAMES[:2]:
            shutil.copy(self.old / name, scenario.game)

    def state(self, game):
        """(files now new, temporary files, None), or a problem as the
        third: a file that is neither old nor new, a stray file."""
        fresh = temps = 0
        for name in self.NAMES + ("vrx.hvl",):
            path, old = game / name, self.old / name
            if name == "vrx.hvl":
                new = path.exists() and path.read_bytes() == self.new_list
            else:
                new = same_file(path, self.new / name)
            if new:
                fresh += 1
            elif path.exists() != old.exists() or (
                    path.exists() and not same_file(path, old)):
                return fresh, temps, "%s is neither old nor new (%d bytes)" % (
                    name, path.stat().st_size if path.exists() else 0)
        merged = (game / "uninst.lst").read_bytes()
        if merged == self.uninst_after:
            fresh += 1
        elif merged != UNINST:
            return fresh, temps, "uninst.lst is neither old nor merged"
        known = set(self.NAMES) | {"vrx.hvl", "uninst.lst", "game.exe",
                                   "readme.txt", "movie"}
        for name in os.listdir(game):
            if name.endswith(".updating"):
                temps += 1
            elif name not in known:
                return fresh, temps, "stray file " + name
        return fresh, temps, None


def loaded(trace):
    """(thread, path) for every module in Wine's +loaddll trace, the path in
    small letters with single backslashes."""
    found = re.findall(r'^([0-9a-f]+):trace:loaddll:.*Loaded L"([^"]*)"',
                       trace, re.M)
    return [(tid, path.replace("\\\\", "\\").lower()) for tid, path in found]


def dlls_loaded_by(trace, exe, nth=1):
    """The file names of the DLLs that the NTH process which loaded EXE
    loaded; the updater has one thread, the one that loaded its own file."""
    exe = exe.lower()
    threads = [tid for tid, path in loaded(trace) if path == exe]
    if len(threads) < nth:
        return set()
    return {path.rsplit("\\", 1)[-1] for tid, path in loaded(trace)
            if tid == threads[nth - 1] and path != exe}


class I686(Scenarios, unittest.TestCase):
    """The product: the i686 updater.exe, a 32-bit program under WoW64."""

    program = "win32"
    view = "/reg:32"

    def test_folder_only_in_64_bit_view_is_not_found(self):
        # The 32-bit program asks for no registry view, so on a 64-bit
        # system it reads the 32-bit one (Software\WOW6432Node).
        self.set_registry("REG_SZ", "/reg:64")
        self.drive_untouched("view64", "complete.exe",
                             ["warning:notinstalled:ok"], -1)
        self.set_registry("REG_SZ")
        self.install("view32", "complete.exe")
        self.assert_installed("Patch01.DAT", FILES / "release/Patch01.DAT")

    def test_entry_over_1_gib_installs(self):
        # The format holds entries up to 4 GiB (the data starting below
        # 2 GiB); a 32-bit process cannot hold one in memory, but every
        # entry streams through one small buffer.
        source = FILES / "huge/huge.arc"
        if not source.exists():
            block = bytearray(os.urandom(1 << 20))
            source.parent.mkdir(parents=True, exist_ok=True)
            with open(source, "wb") as f:
                for i in range(1100):  # 1,100 MiB, each MiB unlike the rest
                    block[:8] = i.to_bytes(8, "little")
                    f.write(block)
        update = self.pack("huge.exe", "--verify-dir", source.parent, source)
        try:
            self.install("huge", "huge.exe")
            self.assert_installed("huge.arc", source)
            self.assert_no_temporaries()
        finally:
            update.unlink()
            self.reset_game()

    def test_checksum_kernels_run_on_any_stack_alignment(self):
        # The kernels as 32-bit Windows code (e2e/kernels.cpp), called from
        # stacks 0, 4, 8 and 12 bytes past a multiple of 16, since 32-bit
        # Windows promises 4: each kernel this processor has must agree with
        # the byte loop on every stack. A copy whose kernels trust the stack
        # to be aligned to 16 (build/win32-trusting, made by the stage) must
        # fault.
        flags = processor_flags()
        want = ["byte_loop"] + [k for k in ("sse2", "avx2") if k in flags]
        if {"avx512f", "avx512bw"} <= flags:
            want.append("avx512")
        code, lines = self.run_kernels(self.build / "e2e/e2e_kernels.exe")
        report = "\n".join(lines)
        self.assertEqual(code, 0, report)
        self.assertIn("kernels: " + " ".join(want), lines)
        self.assertEqual(sum(line.startswith("ok ") for line in lines),
                         4 * len(want), report)
        self.assertIn("every kernel agreed on every stack", lines)
        code, lines = self.run_kernels(
            ROOT / "build/win32-trusting/e2e/e2e_kernels.exe")
        self.note("trusting copy: " + " ".join(
            line for line in lines if line.startswith("FAIL")))
        self.assertNotEqual(code, 0)
        self.assertTrue(any(line.startswith("FAIL exception 0x")
                            for line in lines), "\n".join(lines))
        misaligned = re.compile(
            r"ok +(sse2|avx2|avx512): stack pointer (4|8|12) ")
        self.assertFalse(any(misaligned.match(line) for line in lines),
                         "\n".join(lines))

    def run_kernels(self, program):
        done = wine.run([program], stderr=subprocess.STDOUT, timeout=300)
        return done.returncode, text(done.stdout).split("\n")


def processor_flags():
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("flags"):
                return set(line.split(":", 1)[1].split())
    return set()


class X86_64(Scenarios, unittest.TestCase):
    """The same code built for x86-64, run by the same scenarios."""

    program = "win64"
    view = "/reg:64"


if __name__ == "__main__":
    unittest.main(verbosity=2)
