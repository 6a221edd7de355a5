"""What the benchmark scripts share: their arguments, the flavours of the
plug-in this host can run (x86-ansi and amd64-unicode, or amd64-unicode
alone where 32-bit Windows programs cannot start), a fresh work folder
under build/bench for each, the main prefix's environment without proxy
variables, and the anchor program that keeps the prefix's wineserver up and
warm for the whole run."""
import argparse
import contextlib
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


class Bench:
    """Parses --build-dir and --rounds, makes the main prefix when missing,
    and finds the flavours this host can run, which the first line names.
    A script runs its whole benchmark once for each flavour of
    each_flavour(), which points the loader, the programs, the stand-ins
    and an emptied work folder, build/bench/<folder>/<flavour>, at it."""

    def __init__(self, folder):
        parser = argparse.ArgumentParser()
        parser.add_argument("--build-dir", default=str(ROOT / "build"))
        parser.add_argument("--rounds", type=int, default=5)
        args = parser.parse_args()
        self.rounds = args.rounds
        self.build = Path(args.build_dir).resolve()
        self.folder = folder
        self.prefix = self.build / "wine" / "main"
        subprocess.run([str(ROOT / "scripts" / "wine-prefix.sh"), str(self.prefix), "main"], check=True)
        # host-flavour.sh names x86-ansi where 32-bit programs start.
        host = subprocess.run([str(ROOT / "scripts" / "host-flavour.sh"), str(self.build)], check=True,
                              capture_output=True, text=True).stdout.strip()
        self.targets = ["amd64-unicode"] if host == "amd64-unicode" else ["x86-ansi", "amd64-unicode"]
        if host == "amd64-unicode":
            print("flavour: amd64-unicode (this host cannot start 32-bit Windows programs)", flush=True)
        else:
            print(f"flavours: {', '.join(self.targets)}", flush=True)
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        for proxy in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy", "NO_PROXY"):
            self.env.pop(proxy, None)
        self._use(self.targets[0])

    def _use(self, target):
        self.target = target
        amd64 = target == "amd64-unicode"
        self.wine = "/usr/lib/wine/wine64" if amd64 else "wine"
        # The programs and stand-ins built for the flavour's machine.
        part = self.build / "amd64" if amd64 else self.build
        self.bin = part / "tests" / "bin"
        self.bench_bin = part / "bench" / "bin"
        self.standins = part / "standins"
        self.work = self.build / "bench" / self.folder / target
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir(parents=True)

    def each_flavour(self):
        """Each flavour in turn, named in a line of its own."""
        for target in self.targets:
            self._use(target)
            print(f"\n=== {target} ===", flush=True)
            yield target

    def plugin_dir(self, loopback=False):
        return self.build / (self.target + ("-loopback" if loopback else ""))

    def makensis(self, script, out, **defines):
        """Builds one of the benchmark's installers for the flavour."""
        defines = dict(TARGET=self.target, PLUGIN_DIR=defines.pop("PLUGIN_DIR", self.plugin_dir()), OUT_FILE=out,
                       **defines)
        subprocess.run(["makensis", "-V2", *(f"-D{k}={v}" for k, v in defines.items()), str(script)], check=True)
        return out

    @contextlib.contextmanager
    def warm_wineserver(self):
        """One program alone keeps the prefix's wineserver up and warm."""
        shutil.copyfile(self.bin / "tmwait.exe", self.work / "tmanchor.exe")
        ready = self.work / "anchor.ready"
        anchor = subprocess.Popen([self.wine, str(self.work / "tmanchor.exe"), "3600", windows_path(ready)],
                                  cwd=self.work, env=self.env, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL)
        try:
            deadline = time.monotonic() + 180
            while not ready.exists():
                if time.monotonic() > deadline:
                    sys.exit("the anchor program did not start")
                time.sleep(0.1)
            yield
        finally:
            anchor.kill()
            anchor.wait()

    def wine_version(self):
        return subprocess.run([self.wine, "--version"], capture_output=True, text=True, env=self.env).stdout.strip()
