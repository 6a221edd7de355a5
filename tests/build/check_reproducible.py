#!/usr/bin/env python3
"""Builds the package twice with `make dist`, from two clean clones of the
source's HEAD in folders of different lengths under BUILD_DIR/dist-repro,
the second at least a minute after the first, with another umask and time
zone, and checks that the three shipping plug-ins, the zip and its SHA-256
file are the same bytes. The clones take SQLite from BUILD_DIR's cache and
build no tests.

Usage: check_reproducible.py SOURCE BUILD_DIR CMAKE_FLAGS...
"""
import hashlib
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

CLONES = (("a", 0o022, "UTC"), ("second-clone-in-a-longer-folder", 0o077, "Asia/Tokyo"))


def build_clone(source, commit, folder, umask, zone, cmake_flags, sqlite_cache):
    env = {k: v for k, v in os.environ.items() if not k.startswith(("SIGN_", "MAKE", "MFLAGS"))}
    env.pop("SOURCE_DATE_EPOCH", None)
    env["TZ"] = zone
    subprocess.run(["git", "clone", "--quiet", "--no-hardlinks", str(source), str(folder)], check=True, env=env,
                   preexec_fn=lambda: os.umask(umask))
    subprocess.run(["git", "-C", str(folder), "checkout", "--quiet", "--detach", commit], check=True)
    with open(folder / "dist.log", "w") as log:
        made = subprocess.run(["make", "-C", str(folder), "dist", "BUILD=build",
                               f"CMAKE_FLAGS={cmake_flags} -DBUILD_TESTING=OFF -DTM_SQLITE_CACHE={sqlite_cache}"],
                              env=env, preexec_fn=lambda: os.umask(umask), stdout=log, stderr=subprocess.STDOUT)
    return [] if made.returncode == 0 else [f"make dist failed in {folder}: see {folder}/dist.log"]


def main(source, build_dir, *cmake_flags):
    source, build_dir = Path(source).resolve(), Path(build_dir).resolve()
    commit = subprocess.run(["git", "-C", str(source), "rev-parse", "HEAD"], check=True, capture_output=True,
                            text=True).stdout.strip()
    scratch = build_dir / "dist-repro"
    shutil.rmtree(scratch, ignore_errors=True)
    started = time.monotonic()
    for i, (name, umask, zone) in enumerate(CLONES):
        time.sleep(max(0.0, 61 * i - (time.monotonic() - started)))
        failures = build_clone(source, commit, scratch / name, umask, zone, " ".join(cmake_flags),
                               build_dir / "_deps/sqlite")
        if failures:
            return failures
    dists = sorted(p.name for p in (scratch / CLONES[0][0] / "build/dist").glob("*.zip*"))
    files = [f"{flavour}/tmnsisplug.dll" for flavour in ("x86-ansi", "x86-unicode", "amd64-unicode")]
    files += [f"dist/{name}" for name in dists]
    if len(dists) != 2:
        failures.append(f"the first clone's dist/ holds {dists}, not a zip and its .sha256")
    for name in files:
        a, b = ((scratch / clone / "build" / name).read_bytes() for clone, _, _ in CLONES)
        print(f"{hashlib.sha256(a).hexdigest()}  {name}")
        if a != b:
            failures.append(f"{name} differs between the clones (diffoscope shows where)")
    return failures


if __name__ == "__main__":
    problems = main(*sys.argv[1:])
    for problem in problems:
        print("FAIL", problem)
    if not problems:
        print("ok: two clean clones of HEAD gave the same bytes")
    sys.exit(1 if problems else 0)
