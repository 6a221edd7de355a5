#!/usr/bin/env python3
"""Benchmark of the software downloads cleanup (PromptDeleteSoftDownloadedFiles
with the answer "y") against NSIS's own RMDir /r of the same folder, each
inside a real installer under Wine, alternating, in one run. The folder is
the product's default download folder, Orvik\\Download below the install
folder, holding 10,000 files in 100 folders; the cleanup walks it once to
size it and then deletes it, each folder and file through a handle opened
relative to its parent's. The cleanup with the answer "n", which walks the
folder and deletes nothing, is timed too. Prints the medians and the ratios.

The time of each deletion is taken inside the installer (GetTickCount around
the call); the whole run of the installer is printed beside it.
"""
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

from bench_support import Bench, windows_path

HERE = Path(__file__).resolve().parent
KEY = r"HKLM\SOFTWARE\Vardo"
METHODS = {"cleanup": "PromptDeleteSoftDownloadedFiles y", "rmdir": "RMDir /r",
           "walk": "PromptDeleteSoftDownloadedFiles n"}


def make_downloads(tree):
    """100 folders of 100 files each."""
    for f in range(100):
        folder = tree / f"package{f:03}"
        folder.mkdir(parents=True)
        for n in range(100):
            (folder / f"part{n:03}.bin").write_bytes(b"x" * 512)


def main():
    bench = Bench("cleanup")
    for _ in bench.each_flavour():
        benchmark(bench)


def benchmark(bench):
    work, env = bench.work, bench.env
    product = work / "Vardo"
    tree = product / "Orvik" / "Download"
    (product / "Cfg").mkdir(parents=True)

    installers = {}
    for method in METHODS:
        installers[method] = bench.makensis(HERE / "cleanup_bench.nsi", work / f"{method}.exe", METHOD=method,
                                            TREE=windows_path(tree))

    def reg(*reg_args):
        subprocess.run([bench.wine, "reg", *reg_args, "/reg:32"], env=env, capture_output=True)

    def run(method):
        shutil.rmtree(tree, ignore_errors=True)
        make_downloads(tree)
        subprocess.run(["sync"])
        started = time.monotonic()
        # The trace lines of the folder walk go to standard output.
        subprocess.run([bench.wine, str(installers[method]), "/S"], cwd=work, env=env, check=True,
                       stdout=subprocess.DEVNULL)
        wall = (time.monotonic() - started) * 1000
        # The answer "n" keeps the downloads; every other method deletes them.
        kept = method == "walk"
        if tree.exists() != kept:
            sys.exit(f"{method}: the download folder was {'deleted' if kept else 'not deleted'}")
        return int((work / "elapsed.txt").read_text()), wall

    times = {method: [] for method in METHODS}
    walls = {method: [] for method in METHODS}
    with bench.warm_wineserver():
        reg("delete", KEY, "/f")
        reg("add", KEY, "/v", "Install Path", "/d", windows_path(product), "/f")
        try:
            print(f"Software downloads cleanup against RMDir /r, {bench.rounds} rounds each, alternating, "
                  f"under {bench.wine_version()}")
            for _ in range(bench.rounds):
                for method in METHODS:
                    inside, wall = run(method)
                    times[method].append(inside)
                    walls[method].append(wall)
        finally:
            reg("delete", KEY, "/f")
    print("\n10,000 files in 100 folders (Orvik\\Download):")
    medians = {}
    for method, label in METHODS.items():
        medians[method] = statistics.median(times[method])
        print(f"  {label:34} median {medians[method]:7.0f} ms   (rounds {times[method]}; "
              f"whole installer {statistics.median(walls[method]):.0f} ms)")
    r = medians["rmdir"]
    if r:
        print(f"  ratio cleanup / RMDir /r: {medians['cleanup'] / r:.2f}")
        print(f"  the walk that sizes the folder (answer n): {medians['walk'] / medians['cleanup']:.1%} "
              "of the cleanup")
    else:
        print("  ratio: RMDir /r took 0 ms")


if __name__ == "__main__":
    main()
