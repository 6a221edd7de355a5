#!/usr/bin/env python3
"""Benchmark of PowerDeleteDir against NSIS's own RMDir /r, each inside a real
installer under Wine, alternating, in one run. Prints the medians and the
ratio for a tree of 10,000 files in 1,000 folders and for one empty folder.

The time of each deletion is taken inside the installer (GetTickCount around
the call); the whole run of the installer is printed beside it.
"""
import argparse
import os
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent
ROOT = HERE.parent


def windows_path(path):
    return "Z:" + str(path).replace("/", "\\")


def make_large_tree(root):
    """1,000 folders on three levels (10, 90, 900), ten files in each."""
    folders = []
    for a in range(10):
        top = root / f"a{a}"
        folders.append(top)
        for b in range(9):
            middle = top / f"b{b}"
            folders.append(middle)
            for c in range(10):
                folders.append(middle / f"c{c}")
    for folder in folders:
        folder.mkdir(parents=True, exist_ok=True)
        for f in range(10):
            (folder / f"file{f}.dat").write_bytes(b"x" * 512)
    assert len(folders) == 1000
    return 10 * len(folders)


def make_empty_tree(root):
    root.mkdir(parents=True)
    return 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", default=str(ROOT / "build"))
    parser.add_argument("--rounds", type=int, default=5)
    args = parser.parse_args()
    build = Path(args.build_dir).resolve()
    prefix = build / "wine" / "main"
    subprocess.run([str(ROOT / "scripts" / "wine-prefix.sh"), str(prefix), "main"], check=True)
    work = build / "bench"
    shutil.rmtree(work, ignore_errors=True)
    work.mkdir(parents=True)
    env = dict(os.environ, WINEPREFIX=str(prefix), WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
    tree = work / "tree"

    installers = {}
    for method in ("power", "rmdir"):
        out = work / f"{method}.exe"
        subprocess.run(["makensis", "-V2", f"-DPLUGIN_DIR={build / 'x86-ansi'}", f"-DOUT_FILE={out}",
                        f"-DMETHOD={method}", f"-DTREE={windows_path(tree)}", str(HERE / "delete_tree.nsi")],
                       check=True)
        installers[method] = out

    def run(method, make):
        shutil.rmtree(tree, ignore_errors=True)
        make(tree)
        subprocess.run(["sync"])
        started = time.monotonic()
        subprocess.run(["wine", str(installers[method]), "/S"], cwd=work, env=env, check=True)
        wall = (time.monotonic() - started) * 1000
        if tree.exists():
            sys.exit(f"{method}: the tree was not deleted")
        return int((work / "elapsed.txt").read_text()), wall

    print(f"PowerDeleteDir against RMDir /r, {args.rounds} rounds each, alternating, under {subprocess.run(['wine', '--version'], capture_output=True, text=True).stdout.strip()}")
    for label, make in (("10,000 files in 1,000 folders", make_large_tree), ("one empty folder", make_empty_tree)):
        times = {"power": [], "rmdir": []}
        walls = {"power": [], "rmdir": []}
        for _ in range(args.rounds):
            for method in ("power", "rmdir"):
                inside, wall = run(method, make)
                times[method].append(inside)
                walls[method].append(wall)
        p, r = statistics.median(times["power"]), statistics.median(times["rmdir"])
        pw, rw = statistics.median(walls["power"]), statistics.median(walls["rmdir"])
        print(f"\n{label}:")
        print(f"  PowerDeleteDir  median {p:7.0f} ms   (rounds {times['power']}; whole installer {pw:.0f} ms)")
        print(f"  RMDir /r        median {r:7.0f} ms   (rounds {times['rmdir']}; whole installer {rw:.0f} ms)")
        print(f"  ratio PowerDeleteDir / RMDir /r: {p / r:.2f}" if r else "  ratio: RMDir /r took 0 ms")


if __name__ == "__main__":
    main()
