#!/usr/bin/env python3
"""Checks the built plug-in file: PE32 for i386, the exports of the .def
file under their undecorated names, imports from Windows system DLLs only, ASLR and DEP on,
stack protection built in, the size budget, and a version resource whose fixed file and
product versions are the project's version."""
import re
import struct
import subprocess
import sys

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll",
    "ole32.dll", "oleaut32.dll", "wininet.dll", "version.dll", "msvcrt.dll",
}
BUDGET = 96 * 1024

def exports_of(def_file):
    """The names under EXPORTS in the module-definition file."""
    names, listing = set(), False
    for line in open(def_file, encoding="ascii"):
        line = line.split(";", 1)[0].strip()
        if not line:
            continue
        if line.upper() == "EXPORTS":
            listing = True
        elif listing:
            names.add(line.split()[0])
    return names


def fixed_versions(data):
    """The file and product versions of the VS_FIXEDFILEINFO in the file, as
    dotted texts; None when there is none."""
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None
    ms, ls, pms, pls = struct.unpack_from("<IIII", data, at + 8)
    dotted = lambda high, low: f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"
    return dotted(ms, ls), dotted(pms, pls)


def main(path, def_file, version):
    expected_exports = exports_of(def_file)
    dump = subprocess.run(["i686-w64-mingw32-objdump", "-p", path],
                          check=True, capture_output=True, text=True).stdout
    failures = []
    fmt = re.search(r"file format (\S+)", dump)
    if not fmt or fmt.group(1) != "pei-i386":
        failures.append(f"format is {fmt.group(1) if fmt else '?'}, not pei-i386")
    machine = re.search(r"^Magic\s+(\S+)", dump, re.M)
    if not machine or machine.group(1) != "010b":
        failures.append("optional header is not PE32 (magic 010b)")
    chars = int(re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", dump, re.M).group(1), 16)
    if not chars & 0x40:
        failures.append("ASLR (DYNAMIC_BASE) is off")
    if not chars & 0x100:
        failures.append("DEP (NX_COMPAT) is off")
    if not re.search(r"^\tDLL$", dump, re.M):
        failures.append("not marked as a DLL")

    imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
    foreign = sorted(imports - SYSTEM_DLLS)
    if foreign:
        failures.append(f"imports beyond Windows system DLLs: {foreign}")

    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    exports = set(re.findall(r"^\s+\[\s*\d+\]\s+(\S+)\s*$", table[1], re.M)) if len(table) > 1 else set()
    if not expected_exports:
        failures.append(f"{def_file} lists no exports")
    if exports != expected_exports:
        failures.append(f"exports {sorted(exports)}, expected {sorted(expected_exports)}")

    data = open(path, "rb").read()
    if b"stack smashing detected" not in data:
        failures.append("no stack protector built in")
    if len(data) > BUDGET:
        failures.append(f"{len(data)} bytes, over the {BUDGET}-byte budget")
    expected_version = ".".join((version.split(".") + ["0"] * 4)[:4])
    versions = fixed_versions(data)
    if versions is None:
        failures.append("no version resource")
    elif versions != (expected_version, expected_version):
        failures.append(f"file and product versions {versions}, expected {expected_version}")
    if "VS_VERSION_INFO".encode("utf-16-le") not in data or "tmnsisplug.dll".encode("utf-16-le") not in data:
        failures.append("the version resource names no VS_VERSION_INFO or original file name")

    print(f"{path}: {len(data)} bytes, version {versions}, imports {sorted(imports)}, exports {sorted(exports)}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0

if __name__ == "__main__":
    sys.exit(main(sys.argv[1], sys.argv[2], sys.argv[3]))
