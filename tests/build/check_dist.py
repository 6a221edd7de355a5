#!/usr/bin/env python3
"""Builds the installer author's package (the dist target) and checks it:
NSIS's layout, the three shipping plug-ins as built, the include file, docs,
example and changelog as in package/ with CRLF line ends, the version the
include file and the changelog name; then unpacks it into a
scratch folder and builds the example for each target with makensis, given
nothing but the package's own folders.

Usage: check_dist.py CMAKE BUILD_DIR VERSION PACKAGE_SOURCE ANSI_DLL UNICODE_DLL AMD64_DLL
"""
import shutil
import subprocess
import sys
import zipfile
from pathlib import Path

TARGETS = ("x86-ansi", "x86-unicode", "amd64-unicode")
PLUGINS = tuple(f"Plugins/{target}/tmnsisplug.dll" for target in TARGETS)
# What makensis needs beyond the package's folders to build for each target.
TARGET_OPTIONS = {"x86-unicode": [], "x86-ansi": ["-XUnicode false"], "amd64-unicode": ["-XTarget amd64-unicode"]}
AUTHOR_FILES = ("Include/tmnsisplug.nsh", "Docs/tmnsisplug/tmnsisplug.txt", "Examples/tmnsisplug/example.nsi",
                "CHANGES.txt")


def main(cmake, build_dir, version, package_source, *built_dlls):
    build_dir, package_source = Path(build_dir).resolve(), Path(package_source).resolve()
    subprocess.run([cmake, "--build", str(build_dir), "--target", "dist"], check=True, capture_output=True)
    zip_path = build_dir / "dist" / f"tmnsisplug-{version}.zip"
    if not zip_path.is_file():
        return [f"{zip_path} was not written"]
    failures = []
    with zipfile.ZipFile(zip_path) as archive:
        files = {info.filename: archive.read(info) for info in archive.infolist() if not info.is_dir()}

    sources = {str(path.relative_to(package_source)): path.read_bytes()
               for folder in ("Include", "Docs", "Examples")
               for path in sorted((package_source / folder).rglob("*")) if path.is_file()}
    sources["CHANGES.txt"] = (package_source / "CHANGES.txt").read_bytes()
    expected = set(PLUGINS) | set(AUTHOR_FILES) | set(sources)
    if set(files) != expected:
        failures.append(f"files {sorted(files)}, expected {sorted(expected)}")
    for name, data in sources.items():
        if name in files and files[name] != data:
            failures.append(f"{name} differs from package/{name}")
    for name in AUTHOR_FILES:
        if name in files and files[name].count(b"\n") != files[name].count(b"\r\n"):
            failures.append(f"{name} has line ends other than CRLF, which Windows' older viewers need")
    if (f'!define TMNSISPLUG_VERSION "{version}"'.encode() not in files.get(AUTHOR_FILES[0], b"")
            or f"\r\n\r\n\r\n{version}\r\n".encode() not in files.get("CHANGES.txt", b"")):
        failures.append(f"the include file's TMNSISPLUG_VERSION or the entry of CHANGES.txt is not {version}")
    for name, built in zip(PLUGINS, built_dlls):
        if files.get(name) != Path(built).read_bytes():
            failures.append(f"{name} is not the built {built}")
    if len({files.get(name) for name in PLUGINS}) != len(PLUGINS):
        failures.append("two of the plug-ins are the same file")
    if failures:
        return failures

    scratch = build_dir / "dist-check"
    shutil.rmtree(scratch, ignore_errors=True)
    with zipfile.ZipFile(zip_path) as archive:
        archive.extractall(scratch)
    package_dirs = [f"-X!addincludedir {scratch / 'Include'}"]
    package_dirs += [f"-X!addplugindir /{target} {scratch / 'Plugins' / target}" for target in TARGETS]
    for flavour, options in TARGET_OPTIONS.items():
        out = scratch / f"example-{flavour}.exe"
        result = subprocess.run(["makensis", "-V3", *package_dirs, *options, f"-DOUT_FILE={out}",
                                 str(scratch / "Examples" / "tmnsisplug" / "example.nsi")],
                                capture_output=True, text=True)
        if result.returncode != 0 or not out.is_file():
            failures.append(f"makensis ({flavour}) failed:\n{result.stdout}\n{result.stderr}")
        elif f"({flavour})" not in result.stdout or "warning" in result.stdout.lower():
            failures.append(f"makensis did not build a clean {flavour} installer:\n{result.stdout}")
    return failures


if __name__ == "__main__":
    problems = main(*sys.argv[1:])
    for problem in problems:
        print("FAIL", problem)
    if not problems:
        print("ok: the package's layout, its plug-ins, and the example for each target")
    sys.exit(1 if problems else 0)
