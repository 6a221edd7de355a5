#!/usr/bin/env python3
"""Makes the installer author's package: stages package/'s folders, its
changelog and the three shipping plug-ins in STAGE, signs the plug-ins when
SIGN_PFX names a certificate, lists every file's SHA-256 in SHA256SUMS at
the package's root, and packs STAGE into ZIP, with ZIP.sha256 beside it.

One commit gives one zip, wherever and whenever it is packed: entries in
the order of their names, each with the time of the last commit (or of
SOURCE_DATE_EPOCH, where set) and fixed permissions, and no field that
names the packing machine's owners or times.

Signing, with osslsigncode (SHA-256), takes from the environment:
  SIGN_PFX            the PKCS#12 file with the key and its certificates
  SIGN_PASSWORD_FILE  the file whose first line is that file's password;
                      osslsigncode reads it, so the password is never in a
                      command line or in anything the build writes
  SIGN_TIMESTAMP_URL  a time-stamp server (RFC 3161), optional

Usage: make_dist.py SOURCE_DIR PACKAGE_DIR STAGE ZIP FOLDER=DLL...
"""
import hashlib
import os
import shutil
import subprocess
import sys
import time
import zipfile
from pathlib import Path

AUTHOR_FOLDERS = ("Include", "Docs", "Examples")
SUMS = "SHA256SUMS"
# The oldest time a zip entry can carry.
ZIP_EPOCH = 315532800  # 1980-01-01 00:00:00 UTC
FILE_MODE, FOLDER_MODE = 0o100644, 0o040755
UNIX = 3  # the system that made an entry, which gives its mode its meaning


class DistError(Exception):
    pass


def sha256(path):
    return hashlib.sha256(path.read_bytes()).hexdigest()


def source_date_epoch(source_dir):
    """SOURCE_DATE_EPOCH where set, else the time of the source's last commit."""
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    last = subprocess.run(["git", "-C", str(source_dir), "log", "-1", "--format=%ct"],
                          capture_output=True, text=True)
    if last.returncode != 0 or not last.stdout.strip():
        raise DistError(f"{source_dir} is no Git checkout (git: {last.stderr.strip()}); "
                        "set SOURCE_DATE_EPOCH to the time the package's entries carry")
    return int(last.stdout)


def stage(package_dir, stage_dir, plugins):
    """The package's files in stage_dir, afresh, so that nothing removed from
    the sources lingers."""
    shutil.rmtree(stage_dir, ignore_errors=True)
    for folder in AUTHOR_FOLDERS:
        shutil.copytree(package_dir / folder, stage_dir / folder, copy_function=shutil.copyfile)
    shutil.copyfile(package_dir / "CHANGES.txt", stage_dir / "CHANGES.txt")
    for folder, dll in plugins:
        (stage_dir / "Plugins" / folder).mkdir(parents=True)
        shutil.copyfile(dll, stage_dir / "Plugins" / folder / "tmnsisplug.dll")


def sign(dlls, pfx, password_file, timestamp_url):
    """Signs each DLL in place; the command line names the files, never the
    password."""
    signer = shutil.which("osslsigncode")
    if not signer:
        raise DistError("SIGN_PFX is set, but osslsigncode is not installed (scripts/bootstrap.sh installs it)")
    for name, value in (("SIGN_PFX", pfx), ("SIGN_PASSWORD_FILE", password_file)):
        if value and not Path(value).is_file():
            raise DistError(f"{name} names no file: {value}")
    for dll in dlls:
        signed = dll.with_name(dll.name + ".signed")
        command = [signer, "sign", "-pkcs12", pfx, "-h", "sha256", "-in", str(dll), "-out", str(signed)]
        if password_file:
            command += ["-readpass", password_file]
        if timestamp_url:
            command += ["-ts", timestamp_url]
        # No terminal to ask a missing password from: osslsigncode fails instead.
        result = subprocess.run(command, stdin=subprocess.DEVNULL, capture_output=True, text=True)
        if result.returncode != 0:
            raise DistError(f"osslsigncode could not sign {dll}:\n{result.stdout}{result.stderr}")
        os.replace(signed, dll)


def write_sums(stage_dir):
    """SHA256SUMS in the form `sha256sum -c` reads, one line a file."""
    names = sorted(path.relative_to(stage_dir).as_posix() for path in stage_dir.rglob("*") if path.is_file())
    lines = [f"{sha256(stage_dir / name)}  {name}\n" for name in names if name != SUMS]
    (stage_dir / SUMS).write_text("".join(lines), encoding="ascii", newline="\n")


def pack(stage_dir, zip_path, epoch):
    when = time.gmtime(max(epoch, ZIP_EPOCH))[:6]
    partial = zip_path.with_name(zip_path.name + ".part")
    with zipfile.ZipFile(partial, "w") as archive:
        for name in sorted(path.relative_to(stage_dir).as_posix() for path in stage_dir.rglob("*")):
            path = stage_dir / name
            folder = path.is_dir()
            info = zipfile.ZipInfo(name + "/" if folder else name, date_time=when)
            info.create_system = UNIX
            info.external_attr = (FOLDER_MODE << 16 | 0x10) if folder else FILE_MODE << 16
            info.compress_type = zipfile.ZIP_STORED if folder else zipfile.ZIP_DEFLATED
            archive.writestr(info, b"" if folder else path.read_bytes(), compresslevel=9)
    os.replace(partial, zip_path)


def main(source_dir, package_dir, stage_dir, zip_path, *plugin_args):
    stage_dir, zip_path, package_dir = Path(stage_dir), Path(zip_path), Path(package_dir)
    plugins = [(folder, Path(dll)) for folder, _, dll in (arg.partition("=") for arg in plugin_args)]
    sums_of_zip = zip_path.with_name(zip_path.name + ".sha256")
    # A run that fails leaves no package of an earlier one to be taken for its own.
    for earlier in (zip_path, sums_of_zip):
        earlier.unlink(missing_ok=True)
    epoch = source_date_epoch(source_dir)
    stage(package_dir, stage_dir, plugins)
    pfx = os.environ.get("SIGN_PFX")
    if pfx:
        sign([stage_dir / "Plugins" / folder / "tmnsisplug.dll" for folder, _ in plugins],
             pfx, os.environ.get("SIGN_PASSWORD_FILE"), os.environ.get("SIGN_TIMESTAMP_URL"))
    write_sums(stage_dir)
    pack(stage_dir, zip_path, epoch)
    digest = sha256(zip_path)
    sums_of_zip.write_text(f"{digest}  {zip_path.name}\n", encoding="ascii", newline="\n")
    print(f"{zip_path}{' (plug-ins signed)' if pfx else ''}")
    print(f"{sums_of_zip}: {digest}")
    print(f"{stage_dir / SUMS}: the SHA-256 of each file, also at the zip's root")


if __name__ == "__main__":
    try:
        main(*sys.argv[1:])
    except DistError as error:
        sys.exit(f"make_dist: {error}")
