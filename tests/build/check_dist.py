#!/usr/bin/env python3
"""Builds the installer author's package (the dist target) and checks it:
NSIS's layout, the three shipping plug-ins as built, the include file, docs,
example and changelog as in package/ with CRLF line ends, the version the
include file and the changelog name; then unpacks it into a
scratch folder and builds the example for each target with makensis, given
nothing but the package's own folders. Also SHA256SUMS, which lists every
other file, the zip's SHA-256 file, and entries in name order with the last
commit's time and fixed modes. All of it signed by a throwaway certificate
first: each plug-in verifies, and is the built one without its signature;
one changed after signing does not verify; the password is read from its
file alone; the host's flavour answers in an installer. Then unsigned.

Usage: check_dist.py CMAKE BUILD_DIR VERSION PACKAGE_SOURCE ANSI_DLL UNICODE_DLL AMD64_DLL
"""
import hashlib
import os
import secrets
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "e2e"))
from harness import Failure, Harness  # noqa: E402

TARGETS = ("x86-ansi", "x86-unicode", "amd64-unicode")
PLUGINS = tuple(f"Plugins/{target}/tmnsisplug.dll" for target in TARGETS)
# What makensis needs beyond the package's folders to build for each target.
TARGET_OPTIONS = {"x86-unicode": [], "x86-ansi": ["-XUnicode false"], "amd64-unicode": ["-XTarget amd64-unicode"]}
AUTHOR_FILES = ("Include/tmnsisplug.nsh", "Docs/tmnsisplug/tmnsisplug.txt", "Examples/tmnsisplug/example.nsi",
                "CHANGES.txt")


def make_signer(folder):
    """A throwaway CA, a code-signing certificate it issued, their PKCS#12
    file and its password file; osslsigncode behind a wrapper that logs its
    command lines."""
    folder.mkdir(parents=True)
    password, bin_dir = f"throwaway {secrets.token_hex(8)}", folder / "bin"
    (folder / "password.txt").write_text(password + "\n")
    for name, issuer, uses in (("CA", [], ["basicConstraints=critical,CA:TRUE", "keyUsage=keyCertSign"]),
                               ("signer", ["-CA", folder / "CA.pem", "-CAkey", folder / "CA.key"],
                                ["extendedKeyUsage=codeSigning", "keyUsage=digitalSignature"])):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", *issuer,
                        "-subj", f"/CN=tmnsisplug throwaway {name}", "-keyout", folder / f"{name}.key",
                        "-out", folder / f"{name}.pem", *(a for use in uses for a in ("-addext", use))],
                       check=True, capture_output=True)
    subprocess.run(["openssl", "pkcs12", "-export", "-in", folder / "signer.pem", "-inkey", folder / "signer.key",
                    "-certfile", folder / "CA.pem", "-out", folder / "signer.pfx",
                    "-passout", f"file:{folder / 'password.txt'}"], check=True)
    bin_dir.mkdir()
    (bin_dir / "osslsigncode").write_text(f'#!/bin/sh\necho "$*" >> {folder}/argv.log\n'
                                          f'exec {shutil.which("osslsigncode")} "$@"\n')
    (bin_dir / "osslsigncode").chmod(0o755)
    return {"password": password, "ca": folder / "CA.pem", "argv": folder / "argv.log",
            "env": {"SIGN_PFX": str(folder / "signer.pfx"), "SIGN_PASSWORD_FILE": str(folder / "password.txt"),
                    "PATH": f"{bin_dir}:{os.environ['PATH']}"}}


def verifies(dll, ca):
    return subprocess.run(["osslsigncode", "verify", "-in", dll, "-CAfile", ca], capture_output=True).returncode == 0


def check_signed(build_dir, unpacked, built_dlls, signer, made):
    failures, bare, changed = [], unpacked.parent / "bare.dll", unpacked.parent / "changed.dll"
    for name, built in zip(PLUGINS, built_dlls):
        bare.unlink(missing_ok=True)
        subprocess.run(["osslsigncode", "remove-signature", "-in", unpacked / name, "-out", bare], capture_output=True)
        if not verifies(unpacked / name, signer["ca"]):
            failures.append(f"{name} does not verify against the throwaway CA")
        if not bare.is_file() or bare.read_bytes() != Path(built).read_bytes():
            failures.append(f"{name} without its signature is not the built {built}")
    data = bytearray((unpacked / PLUGINS[0]).read_bytes())
    data[len(data) // 2] ^= 0xFF
    changed.write_bytes(data)
    if verifies(changed, signer["ca"]):
        failures.append("a plug-in changed after signing still verifies")
    argv = signer["argv"].read_text() if signer["argv"].is_file() else ""
    leaks = subprocess.run(["grep", "-rlF", "--exclude-dir=dist-check", signer["password"], build_dir],
                           capture_output=True, text=True).stdout.split()
    if argv.count(" -readpass ") != len(PLUGINS) or signer["password"] in argv + made or leaks:
        failures.append(f"the password was not read from its file alone: {argv!r}, files {leaks}")
    target = subprocess.run([HERE.parent.parent / "scripts" / "host-flavour.sh", build_dir], check=True,
                            capture_output=True, text=True).stdout.strip()
    h = Harness(build_dir, "main", "dist_signed", {"x86-ansi": "ansi", "amd64-unicode": "amd64"}[target])
    try:
        lines, _ = h.run_installer(h.build_installer("architecture.nsi", plugin_dir=unpacked / "Plugins" / target))
    except Failure as failure:
        lines = [str(failure)]
    finally:
        h.close()
    if lines != ["WindowsPlatformArchitecture:[64][below]"]:
        failures.append(f"the signed {target} plug-in in an installer: {lines}")
    return failures


def check_verifiable_form(zip_path, infos, files, package_source):
    """SHA256SUMS, the zip's SHA-256 file, and entries that carry nothing of
    the machine or the moment they were packed."""
    listed = [line.partition("  ")[2] for line in files.get("SHA256SUMS", b"").decode().splitlines()]
    failures = [] if listed == sorted(set(files) - {"SHA256SUMS"}) else [f"SHA256SUMS lists {listed}"]
    digest = hashlib.sha256(zip_path.read_bytes()).hexdigest()
    sums_of_zip = zip_path.with_name(zip_path.name + ".sha256")
    if not sums_of_zip.is_file() or sums_of_zip.read_text() != f"{digest}  {zip_path.name}\n":
        failures.append(f"{sums_of_zip} does not hold the zip's SHA-256 {digest}")
    epoch = int(os.environ.get("SOURCE_DATE_EPOCH") or subprocess.run(
        ["git", "-C", package_source, "log", "-1", "--format=%ct"], capture_output=True, text=True).stdout)
    when = time.gmtime(epoch // 2 * 2)[:6]  # a zip keeps even seconds
    names = [info.filename for info in infos]
    odd = [(i.filename, i.date_time, oct(i.external_attr >> 16)) for i in infos if i.extra or i.date_time != when
           or i.external_attr >> 16 != (0o40755 if i.is_dir() else 0o100644)]
    if names != sorted(names) or odd:
        failures.append(f"entries out of name order, or not at {when} with modes 644/755: {odd or names}")
    return failures


def check_package(cmake, build_dir, version, package_source, built_dlls, signer):
    env = {key: value for key, value in os.environ.items() if not key.startswith("SIGN_")}
    env.update(signer["env"] if signer else {})
    result = subprocess.run([cmake, "--build", str(build_dir), "--target", "dist"], env=env, capture_output=True,
                            text=True)
    zip_path = build_dir / "dist" / f"tmnsisplug-{version}.zip"
    if result.returncode != 0 or not zip_path.is_file():
        return [f"the dist target failed:\n{result.stdout}{result.stderr}"]
    with zipfile.ZipFile(zip_path) as archive:
        infos = archive.infolist()
        files = {info.filename: archive.read(info) for info in infos if not info.is_dir()}
    failures = check_verifiable_form(zip_path, infos, files, package_source)

    sources = {str(path.relative_to(package_source)): path.read_bytes()
               for folder in ("Include", "Docs", "Examples")
               for path in sorted((package_source / folder).rglob("*")) if path.is_file()}
    sources["CHANGES.txt"] = (package_source / "CHANGES.txt").read_bytes()
    expected = set(PLUGINS) | set(AUTHOR_FILES) | set(sources) | {"SHA256SUMS"}
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
        if not signer and files.get(name) != Path(built).read_bytes():
            failures.append(f"{name} is not the built {built}")
    if len({files.get(name) for name in PLUGINS}) != len(PLUGINS):
        failures.append("two of the plug-ins are the same file")
    if failures:
        return failures

    scratch = build_dir / "dist-check" / ("signed" if signer else "unsigned")
    with zipfile.ZipFile(zip_path) as archive:
        archive.extractall(scratch)
    if subprocess.run(["sha256sum", "--check", "--strict", "--quiet", "SHA256SUMS"], cwd=scratch).returncode:
        failures.append("sha256sum -c SHA256SUMS fails in the unpacked package")
    if signer:
        failures += check_signed(build_dir, scratch, built_dlls, signer, result.stdout + result.stderr)
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


def main(cmake, build_dir, version, package_source, *built_dlls):
    build_dir, package_source = Path(build_dir).resolve(), Path(package_source).resolve()
    shutil.rmtree(build_dir / "dist-check", ignore_errors=True)
    signer = make_signer(build_dir / "dist-check" / "signer")
    # Signed first, so that the build's dist/ is left as make dist leaves it.
    failures = [f"(signed) {failure}" for failure in
                check_package(cmake, build_dir, version, package_source, built_dlls, signer)]
    return failures + check_package(cmake, build_dir, version, package_source, built_dlls, None)


if __name__ == "__main__":
    problems = main(*sys.argv[1:])
    for problem in problems:
        print("FAIL", problem)
    if not problems:
        print("ok: the package's layout, checksums and form, its plug-ins signed and not, and the example for each"
              " target")
    sys.exit(1 if problems else 0)
