"""What the benchmark scripts share: their arguments, a fresh work folder
under build/bench, the main prefix's environment without proxy variables,
and the anchor program that keeps the prefix's wineserver up and warm for
the whole run."""
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
    and empties build/bench/<folder>."""

    def __init__(self, folder):
        parser = argparse.ArgumentParser()
        parser.add_argument("--build-dir", default=str(ROOT / "build"))
        parser.add_argument("--rounds", type=int, default=5)
        args = parser.parse_args()
        self.rounds = args.rounds
        self.build = Path(args.build_dir).resolve()
        self.prefix = self.build / "wine" / "main"
        subprocess.run([str(ROOT / "scripts" / "wine-prefix.sh"), str(self.prefix), "main"], check=True)
        self.work = self.build / "bench" / folder
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir(parents=True)
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        for proxy in ("http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "no_proxy", "NO_PROXY"):
            self.env.pop(proxy, None)

    @contextlib.contextmanager
    def warm_wineserver(self):
        """One program alone keeps the prefix's wineserver up and warm."""
        shutil.copyfile(self.build / "tests" / "bin" / "tmwait.exe", self.work / "tmanchor.exe")
        ready = self.work / "anchor.ready"
        anchor = subprocess.Popen(["wine", str(self.work / "tmanchor.exe"), "3600", windows_path(ready)],
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
        return subprocess.run(["wine", "--version"], capture_output=True, text=True, env=self.env).stdout.strip()
