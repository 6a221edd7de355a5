"""What every end-to-end case shares: a work folder of its own under
build/e2e, installers built by makensis from the scripts beside this file
and run silently under Wine, helper programs, and the Windows view of the
running processes.

A prefix's wineserver may be cold when a case starts: CI starts with none
running, and a server shuts down as soon as its last program ends. Programs
started while a server shuts down, or several at once against a cold one,
can stall for a minute. So every case first starts one program alone, an
anchor that makes a file once it runs, and waits for that file without
starting anything else; the anchor then keeps the server up and warm until
the case closes, whatever the case starts and however long it pauses.

Each case runs in one flavour of the plug-in: "ansi" (installers with
Unicode false, the plug-in from build/x86-ansi), "unicode" (makensis's
defaults, the plug-in from build/x86-unicode) or "amd64" (64-bit installers,
Target amd64-unicode, the plug-in from build/amd64-unicode). The amd64
flavour runs only 64-bit programs, under wine64: its installers, the test
programs and stand-ins of the 64-bit part (build/amd64/), and Wine's own
64-bit tools, so that it runs on hosts that cannot start 32-bit ones. A case
that runs in several flavours takes its texts from the harness, which gives
each flavour texts outside ASCII that its installers can carry.
"""
import os
import shutil
import subprocess
import threading
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
FLAVOURS = ("ansi", "unicode", "amd64")
# The NSIS target of each flavour: its installers' stubs and plug-in folder.
TARGETS = {"ansi": "x86-ansi", "unicode": "x86-unicode", "amd64": "amd64-unicode"}
# Debian's wine starts its 32-bit loader first; 64-bit programs need none.
WINE = {"ansi": "wine", "unicode": "wine", "amd64": "/usr/lib/wine/wine64"}
# Texts outside ASCII for each flavour. The ANSI code page of the test
# prefixes, 1252, holds the first. The second holds letters of two code
# pages no single one has, and a character outside the Basic Multilingual
# Plane, which UTF-16 keeps as a surrogate pair.
FOREIGN = {"ansi": "\u00e9\u00fc\u00df", "unicode": "\u0436\u4e2d\U0001F98A", "amd64": "\u0436\u4e2d\U0001F98A"}
ANSI_CODE_PAGE = "cp1252"


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(expected, actual, what):
    if expected != actual:
        raise Failure(f"{what}: expected {expected!r}, got {actual!r}")


def read_lines(path):
    """The lines of a text file written on the Windows side: UTF-16LE after
    its mark (a Unicode installer's results, a Unicode profile file), else
    text in the ANSI code page."""
    raw = path.read_bytes()
    if raw.startswith(b"\xff\xfe"):
        return raw[2:].decode("utf-16-le", "replace").splitlines()
    return raw.decode(ANSI_CODE_PAGE, "replace").splitlines()


def windows_path(path):
    """The Windows name of a Unix path, through Wine's Z: drive."""
    return "Z:" + str(path).replace("/", "\\")


def make_race_tree(root, outside, folders=40, files=50):
    """root with folders subfolders d00.. of files files f00.txt.. each, and
    outside holding files of the same names."""
    outside.mkdir(parents=True, exist_ok=True)
    for j in range(files):
        (outside / f"f{j:02}.txt").write_text("outside")
    for i in range(folders):
        sub = root / f"d{i:02}"
        sub.mkdir(parents=True)
        for j in range(files):
            (sub / f"f{j:02}.txt").write_text("own")


class Racer:
    """A local user racing a deletion of root from the Linux side: once the
    deletion has begun (a file of the tree is gone), every subfolder still
    whole is renamed aside, out of the tree, and a Unix link to outside put
    in its place, as fast as the loop goes. Use it as a context manager
    around the deletion; swapped names the folders moved aside."""

    def __init__(self, root, outside, aside, files):
        self.root, self.outside, self.aside, self.files = root, outside, aside, files
        self.swapped = []
        self.began = False
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)

    def __enter__(self):
        self.aside.mkdir(parents=True, exist_ok=True)
        self._thread.start()
        return self

    def __exit__(self, *exc):
        self._stop.set()
        self._thread.join()

    def _whole(self, sub):
        try:
            return sub.is_dir() and not sub.is_symlink() and sum(1 for _ in os.scandir(sub)) == self.files
        except OSError:
            return False

    def _run(self):
        subs = sorted(self.root.iterdir())
        while not self._stop.is_set() and not self.began:
            self.began = not self.root.exists() or not all(self._whole(sub) for sub in subs)
        while not self._stop.is_set():
            for sub in subs:
                if sub.name in self.swapped or not self._whole(sub):
                    continue
                try:
                    os.rename(sub, self.aside / sub.name)
                    os.symlink(self.outside, sub, target_is_directory=True)
                    self.swapped.append(sub.name)
                except OSError:
                    pass
            if len(self.swapped) == len(subs):
                return


def race_deletion(h, delete, root, rounds=3, folders=40, files=50):
    """Runs delete() (a deletion of root by a real installer) rounds times
    against a Racer. Checks that at most one outside file went in all (the
    window between the plug-in's last check and wineserver's own unlink by
    path) and that every subfolder never swapped went with its files.
    Returns (outside files lost, folders swapped)."""
    outside, aside = h.work / "race-outside", h.work / "race-aside"
    lost = swaps = 0
    for round_ in range(rounds):
        for folder in (root, outside, aside):
            if folder.is_symlink():
                folder.unlink()
            shutil.rmtree(folder, ignore_errors=True)
        make_race_tree(root, outside, folders, files)
        with Racer(root, outside, aside, files) as racer:
            delete()
        check(racer.began, f"round {round_}: the deletion never began")
        check(racer.swapped, f"round {round_}: the racer swapped nothing: no race was run")
        kept = {p.name for p in outside.iterdir()} if outside.is_dir() else set()
        lost += files - len(kept)
        swaps += len(racer.swapped)
        for i in range(folders):
            sub = root / f"d{i:02}"
            if sub.name not in racer.swapped:
                check(not sub.exists() and not sub.is_symlink(), f"round {round_}: {sub.name}, never swapped, was left")
    check(lost <= 1, f"{lost} outside files went in {rounds} rounds ({swaps} folders swapped)")
    return lost, swaps


class Harness:
    ANCHOR = "tmanchor.exe"

    def __init__(self, build_dir, kind, case, flavour="ansi", prefix=None):
        check(flavour in FLAVOURS, f"no flavour {flavour!r}")
        self.build = Path(build_dir).resolve()
        self.kind = kind
        self.flavour = flavour
        self.foreign = FOREIGN[flavour]
        self.prefix = Path(prefix) if prefix else self.build / "wine" / kind
        self.target = TARGETS[flavour]
        self.wine = WINE[flavour]
        # The test programs and the stand-ins of the flavour's machine.
        part = self.build / "amd64" if flavour == "amd64" else self.build
        self.bin = part / "tests" / "bin"
        self.standins = part / "standins"
        self.plugin_dir = self.build / self.target
        # The same plug-in with the beacon's hosts on 127.0.0.1.
        self.loopback_plugin_dir = self.build / f"{self.target}-loopback"
        self.work = self.build / "e2e" / (f"{case}.{kind}" + ("" if flavour == "ansi" else f".{flavour}"))
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir(parents=True)
        # Wine names Unix files in the locale's character set, and takes the
        # ANSI code page from the locale: C.UTF-8 keeps every name a case
        # makes, with code page 1252.
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=", LC_ALL="C.UTF-8")
        for proxy in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy", "NO_PROXY"):
            self.env.pop(proxy, None)
        self.children = []
        self.anchor = None
        try:
            self._start_anchor()
        except BaseException:
            self.close()
            raise

    windows_path = staticmethod(windows_path)

    def units(self, text):
        """The length of text as the plug-in counts it: bytes in the ANSI
        code page, UTF-16 code units (a surrogate pair is two) in Unicode."""
        if self.flavour == "ansi":
            return len(text.encode(ANSI_CODE_PAGE))
        return len(text.encode("utf-16-le")) // 2

    def _start_anchor(self):
        anchor = self.copy_helper("tmwait.exe", self.ANCHOR)
        ready = self.work / "anchor.ready"
        self.anchor = subprocess.Popen([self.wine, str(anchor), "3600", windows_path(ready)], cwd=self.work,
                                       env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
        deadline = time.monotonic() + 180
        while not ready.exists():
            check(self.anchor.poll() is None, f"the anchor program ended with {self.anchor.returncode}")
            check(time.monotonic() < deadline, "timed out waiting for the anchor program to start")
            time.sleep(0.1)

    def profile_bytes(self, text):
        """A profile file such as config.ini, lines ended by CR LF, as the
        flavour's texts need it: in the ANSI code page, or in UTF-16LE after
        its mark, the one form the W profile functions read Unicode from."""
        text = text.replace("\n", "\r\n")
        if self.flavour == "ansi":
            return text.encode(ANSI_CODE_PAGE)
        return b"\xff\xfe" + text.encode("utf-16-le")

    def build_installer(self, script, name="setup.exe", plugin_dir=None, **defines):
        """Builds script into the work folder as name. Defines holding text
        outside ASCII reach the script through an include file in UTF-8 with
        its mark, which makensis reads as such and common.nsh includes first;
        the others through the command line."""
        built = self.work / "makensis-output.exe"
        defines = dict(FLAVOUR=self.flavour, TARGET=self.target, PLUGIN_DIR=plugin_dir or self.plugin_dir,
                       OUT_FILE=built, **defines)
        foreign = {key: str(value) for key, value in defines.items() if not str(value).isascii()}
        for key, value in foreign.items():
            check('"' not in value and "\n" not in value, f"define {key} cannot be written: {value!r}")
        include = self.work / "defines.nsh"
        include.write_text("".join(f'!define {k} "{v}"\n' for k, v in foreign.items()), encoding="utf-8-sig")
        command = ["makensis", "-V2", "-NOCD", f"-DDEFINES={include}"]
        command += [f"-D{k}={v}" for k, v in defines.items() if k not in foreign]
        command.append(str(HERE / script))
        result = subprocess.run(command, cwd=HERE, env=self.env, capture_output=True, text=True)
        check(result.returncode == 0, f"makensis {script} failed:\n{result.stdout}\n{result.stderr}")
        out = self.work / name
        out.parent.mkdir(parents=True, exist_ok=True)
        os.replace(built, out)
        return out

    def run_installer(self, exe, timeout=300, args=("/S",), result_name="result.txt"):
        result = self.work / result_name
        if result.exists():
            result.unlink()
        started = time.monotonic()
        # Not into pipes: a program Wine starts on demand meanwhile (explorer.exe
        # for the desktop) inherits them and would hold the wait to its end.
        completed = subprocess.run([self.wine, str(exe), *args], cwd=self.work, env=self.env,
                                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                                   timeout=timeout)
        elapsed = time.monotonic() - started
        check(completed.returncode == 0, f"{exe.name} exited with {completed.returncode}")
        check(result.exists(), f"{exe.name} wrote no {result_name}")
        return read_lines(result), elapsed

    def start(self, exe, *args):
        child = subprocess.Popen([self.wine, str(exe), *map(str, args)], cwd=self.work, env=self.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.children.append(child)
        return child

    def processes(self, timeout=60):
        out = subprocess.run([self.wine, str(self.bin / "proclist.exe")], env=self.env, capture_output=True,
                             check=True, timeout=timeout).stdout.decode("utf-8", "replace")
        listed = []
        for line in out.splitlines():
            pid, _, name = line.partition("\t")
            if pid.strip().isdigit():
                listed.append((int(pid), name.strip()))
        return listed

    def names_running(self):
        return [name for _, name in self.processes()]

    def wait_for(self, predicate, timeout, what):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate():
                return
            time.sleep(0.2)
        raise Failure(f"timed out waiting for {what}")

    def copy_helper(self, helper, name):
        target = self.work / name
        shutil.copyfile(self.bin / helper, target)
        return target

    def wine_reg(self, *args):
        """Runs Wine's reg.exe in this prefix; its exit code is returned."""
        return subprocess.run([self.wine, "reg", *args], env=self.env, capture_output=True, timeout=120).returncode

    def close(self):
        for child in self.children + ([self.anchor] if self.anchor else []):
            if child.poll() is None:
                child.kill()
                child.wait()
