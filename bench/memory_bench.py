#!/usr/bin/env python3
"""Peak working set of an installer that deletes a tree with PowerDeleteDir
(the plug-in of the flavour the host runs: x86-ansi where it starts 32-bit
programs), against one that deletes nothing, for trees that differ
in the count of folders and in depth: 100 folders, 200,000 folders (200 of
1,000 each), and one chain of folders 4,000 deep. Each installer reads its
own peak with GetProcessMemoryInfo after the call (bench/delete_tree.nsi).
Prints the medians of the peaks, what the deletion added above the
installer that deletes nothing, and the time the call took.
"""
import os
import statistics
import subprocess
from pathlib import Path

from bench_support import Bench, windows_path

HERE = Path(__file__).resolve().parent


def make_wide(count, per_folder):
    """count folders, per_folder of them in each folder of the first level."""
    def make(root):
        root.mkdir(parents=True)
        for top in range(count // per_folder):
            first = root / f"t{top:03}"
            first.mkdir()
            for n in range(per_folder - 1):
                (first / f"f{n:04}").mkdir()
    return make


def make_chain(depth):
    """One folder in each folder, depth levels, and a file at the bottom.
    Made relative to each folder's descriptor: the whole path is far longer
    than a Unix path may be."""
    def make(root):
        root.mkdir(parents=True)
        fd = os.open(root, os.O_RDONLY)
        try:
            for _ in range(depth - 1):
                os.mkdir("d", dir_fd=fd)
                below = os.open("d", os.O_RDONLY, dir_fd=fd)
                os.close(fd)
                fd = below
            leaf = os.open("leaf.txt", os.O_WRONLY | os.O_CREAT, dir_fd=fd)
            os.write(leaf, b"x")
            os.close(leaf)
        finally:
            os.close(fd)
    return make


def remove(root):
    """Removes what a round left, however deep: bottom up, by descriptors."""
    if not root.exists():
        return
    subprocess.run(["rm", "-rf", "--one-file-system", str(root)], check=True)


TREES = (
    ("100 folders", make_wide(100, 10)),
    ("200,000 folders", make_wide(200_000, 1000)),
    ("a chain 4,000 deep", make_chain(4000)),
)


def main():
    bench = Bench("memory")
    for _ in bench.each_flavour():
        benchmark(bench)


def benchmark(bench):
    work, env = bench.work, bench.env
    tree = work / "tree"
    installers = {}
    for method in ("power", "nothing"):
        installers[method] = bench.makensis(HERE / "delete_tree.nsi", work / f"{method}.exe", METHOD=method,
                                            TREE=windows_path(tree))

    def run(method, make=None):
        remove(tree)
        if make is not None:
            make(tree)
        subprocess.run(["sync"])
        subprocess.run([bench.wine, str(installers[method]), "/S"], cwd=work, env=env, check=True, timeout=3600)
        inside, peak = (int(v) for v in (work / "elapsed.txt").read_text().split())
        left = tree.exists()
        remove(tree)
        return inside, peak, left

    with bench.warm_wineserver():
        print(f"Peak working set of the {bench.target} plug-in's PowerDeleteDir, {bench.rounds} rounds each, "
              f"under {bench.wine_version()}")
        nothing = statistics.median(run("nothing")[1] for _ in range(bench.rounds))
        print(f"\nno deletion: peak {nothing / 2**20:.1f} MB")
        for label, make in TREES:
            peaks, times, left = [], [], False
            for _ in range(bench.rounds):
                inside, peak, stayed = run("power", make)
                peaks.append(peak)
                times.append(inside)
                left = left or stayed
            power = statistics.median(peaks)
            print(f"\n{label}:")
            print(f"  PowerDeleteDir peak {power / 2**20:.1f} MB (rounds {[round(p / 2**20, 1) for p in peaks]}), "
                  f"{(power - nothing) / 2**20:.1f} MB above no deletion; the call took {statistics.median(times):.0f} ms"
                  + ("; the tree was NOT deleted whole" if left else ""))


if __name__ == "__main__":
    main()
