#!/usr/bin/env python3
"""Benchmark of PowerDeleteDir against NSIS's own RMDir /r, each inside a real
installer under Wine, alternating, in one run, and against the floor: a
program that lists the tree first, untimed, and then times only the
deletes, one after another. Prints the medians and the ratios for 10,000
files in 1,000 folders, 2,000 files in 200 folders and one empty folder.

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


TREES = (
    ("10,000 files in 1,000 folders", make_tree((10, 9, 10), 10)),
    ("2,000 files in 200 folders", make_tree((2, 9, 10), 10)),
    ("one empty folder", make_empty_tree),
)


def main():
    bench = Bench("run")
    build, work, env = bench.build, bench.work, bench.env
    tree = work / "tree"
    floor_exe = build / "bench" / "bin" / "delete_floor.exe"

    installers = {}
    for method in ("power", "rmdir"):
        out = work / f"{method}.exe"
        subprocess.run(["makensis", "-V2", f"-DPLUGIN_DIR={build / 'x86-ansi'}", f"-DOUT_FILE={out}",
                        f"-DMETHOD={method}", f"-DTREE={windows_path(tree)}", str(HERE / "delete_tree.nsi")],
                       check=True)
        installers[method] = out

    with bench.warm_wineserver():
        run_all(bench.rounds, installers, tree, work, env, floor_exe)


def run_all(rounds, installers, tree, work, env, floor_exe):
    def run(method, make):
        shutil.rmtree(tree, ignore_errors=True)
        make(tree)
        subprocess.run(["sync"])
        started = time.monotonic()
        if method == "floor":
            out = subprocess.run(["wine", str(floor_exe), windows_path(tree)], cwd=work, env=env, check=True,
                                 capture_output=True, text=True).stdout.split()
            inside = int(out[0])
        else:
            subprocess.run(["wine", str(installers[method]), "/S"], cwd=work, env=env, check=True)
            inside = int((work / "elapsed.txt").read_text())
        wall = (time.monotonic() - started) * 1000
        if tree.exists():
            sys.exit(f"{method}: the tree was not deleted")
        return inside, wall

    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True, env=env).stdout.strip()
    print(f"PowerDeleteDir against RMDir /r and the floor, {rounds} rounds each, alternating, under {wine}")
    methods = ("power", "rmdir", "floor")
    for label, make in TREES:
        times = {m: [] for m in methods}
        walls = {m: [] for m in methods}
        for _ in range(rounds):
            for method in methods:
                inside, wall = run(method, make)
                times[method].append(inside)
                walls[method].append(wall)
        p, r, f = (statistics.median(times[m]) for m in methods)
        print(f"\n{label}:")
        for method, name in (("power", "PowerDeleteDir"), ("rmdir", "RMDir /r"), ("floor", "floor")):
            print(f"  {name:15} median {statistics.median(times[method]):7.0f} ms   (rounds {times[method]}; "
                  f"whole run {statistics.median(walls[method]):.0f} ms)")
        print(f"  ratio PowerDeleteDir / RMDir /r: {p / r:.2f}" if r else "  ratio to RMDir /r: RMDir /r took 0 ms")
        print(f"  ratio PowerDeleteDir / floor:    {p / f:.2f}" if f else "  ratio to the floor: the floor took 0 ms")


if __name__ == "__main__":
    main()
