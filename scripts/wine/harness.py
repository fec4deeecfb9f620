"""Wine for the end-to-end tests: a fresh 64-bit prefix on a private Xvfb
display, the registry key the updater reads, and the loop that answers
e2e_driver's requests.

e2e_driver (e2e/driver.cpp) plays the user. It writes one line per check
("ok ..." or "FAIL ..."), and two kinds of request, each answered with a
line on its standard input: "SHOT NAME X Y W H", a screenshot of a box,
and "KEY Return", a real key press (xdotool). It exits 0 only when every
check passed.
"""
import contextlib
import os
import pathlib
import shutil
import subprocess
import threading
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent.parent
# testing/pause_shim.c, built by the native build: it stops a process before
# one open of a named file.
PAUSE_SHIM = ROOT / "build/native/libpause_shim.so"
KEY = "HKLM\\Software\\Orvane\\ルーメンホロウ"
DRIVER = "C:\\e2e\\e2e_driver.exe"
DRIVER_TIMEOUT_S = 180


def no_dac_override():
    """The command prefix that runs Wine without root's override of file
    modes: Windows refuses a read-only file even to an administrator, and
    Wine does so only without that privilege."""
    if os.geteuid() != 0:
        return []
    prefix = ["setpriv", "--inh-caps=-dac_override",
              "--bounding-set=-dac_override", "--"]
    subprocess.run(prefix + ["true"], check=True)
    return prefix


class Drive:
    """What one run of e2e_driver reported."""

    def __init__(self, name, lines, status, stderr_path):
        self.name = name
        self.lines = lines
        self.status = status
        self.stderr_path = stderr_path

    def passed(self):
        """Every check of the driver passed, and every request was met."""
        return self.status == 0 and not any(
            line.startswith("FAIL") for line in self.lines)

    def has_line(self, text):
        return text in self.lines

    def trace(self):
        """Wine's own messages (the trace asked for with WINEDEBUG)."""
        return self.stderr_path.read_bytes().decode("utf-8", "replace")

    def report(self):
        return "e2e_driver %s ended with %s:\n  %s" % (
            self.name, self.status, "\n  ".join(self.lines))


class Wine:
    """A Wine prefix in DIRECTORY/prefix and an X display for it."""

    def __init__(self, directory):
        self.dir = pathlib.Path(directory)
        self.prefix = self.dir / "prefix"
        self.c = self.prefix / "drive_c"
        self.shots = self.dir / "shots"
        # Debian's wine command takes the 32-bit loader whenever wine32 is
        # installed; where 32-bit programs cannot run, the caller names the
        # 64-bit loader.
        self.loader = os.environ.get("WINE_LOADER", "wine")
        self.nodac = no_dac_override()
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix),
                        WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=",
                        # Wine takes code page 932 for the narrow calls from
                        # the locale.
                        LANG="ja_JP.UTF-8", LC_ALL="ja_JP.UTF-8")
        self.env.pop("DISPLAY", None)
        self.xvfb = None
        self.registry = None

    # --- the prefix and the display ---------------------------------------

    def start(self, quiet=False):
        """A new prefix, a virtual desktop on a new display, and the e2e
        programs (64-bit, of the win64 build) in C:\\e2e."""
        if self.prefix.exists():
            self.wineserver("-k")
        shutil.rmtree(self.dir, ignore_errors=True)
        self.shots.mkdir(parents=True)
        self.c.mkdir(parents=True)
        started = time.monotonic()
        # With wine32 installed beside wine64 the prefix is still a 64-bit
        # one, and 32-bit programs run in it under WoW64, as on 64-bit
        # Windows.
        self.run(["wineboot.exe", "-i"], env={"WINEARCH": "win64"},
                 check=True)
        # A virtual desktop: Wine draws the boxes' frames and captions
        # itself, so the screenshots show what a user sees without a
        # window manager.
        self.reg("add", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop",
                 "/d", "Default", "/f")
        self.reg("add", "HKCU\\Software\\Wine\\Explorer\\Desktops", "/v",
                 "Default", "/d", "1024x768", "/f")
        # A program that crashes ends with its exception code; no debugger
        # window waits for a user.
        self.reg("add", "HKCU\\Software\\Wine\\WineDbg", "/v",
                 "ShowCrashDialog", "/t", "REG_DWORD", "/d", "0", "/f")
        self.wineserver("-w")
        if not quiet:
            print("wine prefix ready in %.0f s" % (time.monotonic() - started),
                  flush=True)
        self.start_display()
        e2e = self.c / "e2e"
        e2e.mkdir()
        for tool in ("e2e_driver", "e2e_hold", "e2e_interrupt"):
            shutil.copy(ROOT / "build/win64/e2e" / (tool + ".exe"), e2e)

    def start_display(self):
        read, write = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp"], pass_fds=(write,),
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(write)
        with os.fdopen(read) as f:
            display = f.readline().strip()
        if not display:
            raise RuntimeError("Xvfb gave no display")
        self.env["DISPLAY"] = ":" + display

    def stop(self):
        self.wineserver("-k")
        if self.xvfb is not None:
            self.xvfb.kill()
            self.xvfb.wait()

    # --- running programs -------------------------------------------------

    def command(self, args):
        return self.nodac + [self.loader] + [str(a) for a in args]

    def run(self, args, env=None, check=False, **kwargs):
        """Runs a Windows program (a path or a name Wine knows) with its
        arguments; output is captured unless told otherwise."""
        kwargs.setdefault("stdout", subprocess.PIPE)
        kwargs.setdefault("stderr", subprocess.PIPE)
        return subprocess.run(self.command(args), env=self.env_with(env),
                              check=check, **kwargs)

    def env_with(self, extra):
        return dict(self.env, **(extra or {}))

    def wineserver(self, flag, env=None):
        subprocess.run(self.nodac + ["wineserver", flag],
                       env=self.env_with(env), stderr=subprocess.DEVNULL,
                       check=False)

    @contextlib.contextmanager
    def paused_server(self, name, folder):
        """Wine's server, which makes every open of the Windows programs,
        stopped before its first open of a file named NAME: it then writes
        FOLDER/paused and goes on once FOLDER/go exists
        (testing/pause_shim.c). A plain server again afterwards."""
        shutil.rmtree(folder, ignore_errors=True)
        folder.mkdir(parents=True)
        self.wineserver("-k")
        # Persistent, so that it is the one the programs find; it is ready
        # once the command returns.
        self.wineserver("-p", env={
            "LD_PRELOAD": str(PAUSE_SHIM), "PAUSE_SHIM_AT": name,
            "PAUSE_SHIM_DIR": str(folder)})
        try:
            yield
        finally:
            self.wineserver("-k")

    def reg(self, *args, check=True):
        return self.run(["reg"] + list(args), check=check)

    # --- the registry -----------------------------------------------------

    def set_registry(self, kind, folder, view):
        """The game's key in neither view, then the install folder as a value
        of type KIND (REG_SZ, REG_EXPAND_SZ, or None for no key) in VIEW
        (/reg:32 or /reg:64). Nothing is done when the key already is so."""
        wanted = (kind, folder, view) if kind else None
        if self.registry == wanted:
            return
        for each in ("/reg:32", "/reg:64"):
            self.reg("delete", KEY, "/f", each, check=False)
        if kind:
            self.reg("add", KEY, "/v", "InstalledFolder", "/t", kind, "/d",
                     folder, "/f", view)
        self.registry = wanted

    # --- the platform contract ----------------------------------------------

    def contract(self, program, root, differences):
        """Runs e2e_contract (PROGRAM, a Linux path) on the folder ROOT on
        drive C:, with the DIFFERENCES from Windows it names, making the
        links it asks for; returns its exit status and its lines."""
        shutil.rmtree(self.c / root[3:].replace("\\", "/"), ignore_errors=True)
        process = subprocess.Popen(
            self.command([program, root, str(differences)]), env=self.env,
            stdin=subprocess.PIPE, stdout=subprocess.PIPE,
            stderr=subprocess.DEVNULL)
        lines = []
        for raw in process.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if not line.startswith("LINK "):
                lines.append(line)
                continue
            # Wine makes no links itself: a Unix link is one to it.
            path, target = line[5:].split(" ", 1)
            link = self.c / path[3:].replace("\\", "/")
            try:
                os.symlink(target, link)
                process.stdin.write(b"ok\n")
            except OSError as error:
                lines.append("FAIL  the harness made no link: %s" % error)
                process.stdin.write(b"no\n")
            process.stdin.flush()
        process.stdin.close()
        return process.wait(), lines

    # --- the driver -------------------------------------------------------

    def drive(self, name, args, env=None, tracer=()):
        """Runs e2e_driver with ARGS, answering its screenshot and key
        requests, under TRACER (a command and its options, such as strace)
        if given. Wine's messages go to NAME.stderr, the driver's lines to
        NAME.out."""
        stderr_path = self.dir / (name + ".stderr")
        command = self.command([DRIVER, "--shots", name] + list(args))
        if tracer:
            at = len(self.nodac)
            command = command[:at] + list(tracer) + command[at:]
        with open(stderr_path, "wb") as stderr:
            driver = subprocess.Popen(
                command,
                env=self.env_with(env), stdin=subprocess.PIPE,
                stdout=subprocess.PIPE, stderr=stderr)
            timer = threading.Timer(DRIVER_TIMEOUT_S, driver.kill)
            timer.start()
            try:
                lines = self.answer(driver)
            finally:
                timer.cancel()
                driver.stdin.close()
                driver.stdout.close()
                status = driver.wait()
        (self.dir / (name + ".out")).write_text("".join(
            line + "\n" for line in lines))
        return Drive(name, lines, status, stderr_path)

    def answer(self, driver):
        """Answers the driver's requests until it ends; returns its other
        lines."""
        lines = []
        for raw in driver.stdout:
            line = raw.decode("utf-8", "replace").rstrip("\r\n")
            if line.startswith("SHOT "):
                shot, x, y, w, h = line.split()[1:]
                done = subprocess.run(
                    ["import", "-window", "root", "-crop",
                     "%sx%s+%s+%s" % (w, h, x, y), "+repage",
                     str(self.shots / (shot + ".png"))],
                    env=self.env, check=False)
            elif line.startswith("KEY "):
                done = subprocess.run(["xdotool", "key", line[4:]],
                                      env=self.env, check=False)
            else:
                lines.append(line)
                continue
            if done.returncode != 0:
                lines.append("FAIL  the harness could not meet: " + line)
            driver.stdin.write(b"ok\n")
            driver.stdin.flush()
        return lines
