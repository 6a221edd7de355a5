#!/usr/bin/env python3
"""Benchmark of PowerDeleteDir against NSIS's own RMDir /r, each inside a real
installer under Wine, alternating, in one run, and against two floors that
list the tree first, untimed, and then time only the deletes: by path, one
after another, and through handles (each entry opened relative to its held
folder, its id and name checked in one query, deleted through the handle).
Prints the medians and the ratios for 10,000 files in 1,000 folders, 2,000
files in 200 folders, one empty folder and 100,000 files in 1,000 folders,
and for the last the peak working set of the installer against one that
does nothing.

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


def make_tree(folders_per_level, files_per_folder):
    """A maker of trees of folders on three levels with files in each."""
    def make(root):
        folders = []
        a_count, b_count, c_count = folders_per_level
        for a in range(a_count):
            top = root / f"a{a}"
            folders.append(top)
            for b in range(b_count):
                middle = top / f"b{b}"
                folders.append(middle)
                for c in range(c_count):
                    folders.append(middle / f"c{c}")
        for folder in folders:
            folder.mkdir(parents=True, exist_ok=True)
            for f in range(files_per_folder):
                (folder / f"file{f}.dat").write_bytes(b"x" * 512)
        return files_per_folder * len(folders), len(folders)
    return make


def make_empty_tree(root):
    root.mkdir(parents=True)
    return 0, 0


ALL = ("power", "rmdir", "floor-handle", "floor-path")
TREES = (
    ("10,000 files in 1,000 folders", make_tree((10, 9, 10), 10), ALL),
    ("2,000 files in 200 folders", make_tree((2, 9, 10), 10), ALL),
    ("one empty folder", make_empty_tree, ALL),
    ("100,000 files in 1,000 folders", make_tree((10, 9, 10), 100), ("power", "rmdir", "nothing")),
)
NAMES = {"power": "PowerDeleteDir", "rmdir": "RMDir /r", "floor-handle": "handle floor", "floor-path": "path floor",
         "nothing": "no deletion"}


def main():
    bench = Bench("run")
    for _ in bench.each_flavour():
        benchmark(bench)


def benchmark(bench):
    work, env = bench.work, bench.env
    tree = work / "tree"
    floor_exe = bench.bench_bin / "delete_floor.exe"

    installers = {}
    for method in ("power", "rmdir", "nothing"):
        installers[method] = bench.makensis(HERE / "delete_tree.nsi", work / f"{method}.exe", METHOD=method,
                                            TREE=windows_path(tree))

    with bench.warm_wineserver():
        run_all(bench.rounds, installers, tree, work, env, floor_exe, bench.wine)


def run_all(rounds, installers, tree, work, env, floor_exe, wine_loader):
    def run(method, make):
        shutil.rmtree(tree, ignore_errors=True)
        if method != "nothing":
            make(tree)
        subprocess.run(["sync"])
        started = time.monotonic()
        peak = 0
        if method.startswith("floor"):
            out = subprocess.run([wine_loader, str(floor_exe), method[len("floor-"):], windows_path(tree)], cwd=work,
                                 env=env, check=True, capture_output=True, text=True).stdout.split()
            inside = int(out[0])
        else:
            subprocess.run([wine_loader, str(installers[method]), "/S"], cwd=work, env=env, check=True)
            inside, peak = (int(v) for v in (work / "elapsed.txt").read_text().split())
        wall = (time.monotonic() - started) * 1000
        if tree.exists():
            sys.exit(f"{method}: the tree was not deleted")
        return inside, wall, peak

    wine = subprocess.run([wine_loader, "--version"], capture_output=True, text=True, env=env).stdout.strip()
    print(f"PowerDeleteDir against RMDir /r and the floors, {rounds} rounds each, alternating, under {wine}")
    for label, make, methods in TREES:
        times = {m: [] for m in methods}
        walls = {m: [] for m in methods}
        peaks = {m: [] for m in methods}
        for _ in range(rounds):
            for method in methods:
                inside, wall, peak = run(method, make)
                times[method].append(inside)
                walls[method].append(wall)
                peaks[method].append(peak)
        median = {m: statistics.median(times[m]) for m in methods}
        print(f"\n{label}:")
        for method in methods:
            print(f"  {NAMES[method]:15} median {median[method]:7.0f} ms   (rounds {times[method]}; "
                  f"whole run {statistics.median(walls[method]):.0f} ms)")
        p = median["power"]
        for other in methods[1:]:
            if other == "nothing":
                continue
            ratio = f"{p / median[other]:.2f}" if median[other] else f"{NAMES[other]} took 0 ms"
            print(f"  ratio PowerDeleteDir / {NAMES[other]}: {ratio}")
        if "nothing" in methods:
            above = (statistics.median(peaks["power"]) - statistics.median(peaks["nothing"])) / 2**20
            print(f"  peak working set: PowerDeleteDir {statistics.median(peaks['power']) / 2**20:.1f} MB, "
                  f"RMDir /r {statistics.median(peaks['rmdir']) / 2**20:.1f} MB, "
                  f"no deletion {statistics.median(peaks['nothing']) / 2**20:.1f} MB; "
                  f"PowerDeleteDir above no deletion: {above:.1f} MB")


if __name__ == "__main__":
    main()
