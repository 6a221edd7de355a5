#!/usr/bin/env python3
"""Checks that every #include "..." under src/ points down the layers: a file
may include from its own folder and from the folders below it, never from one
above it or beside it, and always as "folder/file"."""
import pathlib
import re
import sys

# Each folder and the folders it may use (everything below it, transitively).
BELOW = {
    "base": set(),
    "fs": {"base"},
    "security": {"fs"},
    "process": {"base"},
    "settings": {"security"},
    "removal": {"settings", "beacon"},
    "beacon": {"settings"},
    "report": {"beacon"},
    "plugin": {"process", "removal", "report"},
}


def reachable(folder):
    return set(BELOW[folder]).union(*(reachable(below) for below in BELOW[folder]))


def main(src):
    src = pathlib.Path(src)
    failures, count = [], 0
    for path in sorted(src.rglob("*")):
        if path.suffix not in {".h", ".cpp", ".c", ".in"} or not path.is_file():
            continue
        folder = path.relative_to(src).parts[0]
        allowed = reachable(folder) | {folder}
        for number, line in enumerate(path.read_text(encoding="utf-8").splitlines(), 1):
            match = re.match(r'\s*#\s*include\s+"([^"]+)"', line)
            if not match:
                continue
            count += 1
            target = match.group(1)
            parts = target.split("/")
            if len(parts) != 2 or ".." in parts:
                failures.append(f"{path}:{number}: \"{target}\" is not named as folder/file")
            elif parts[0] not in allowed:
                failures.append(f"{path}:{number}: {folder} includes \"{target}\", which is not below it")
    print(f"{count} includes checked under {src}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
