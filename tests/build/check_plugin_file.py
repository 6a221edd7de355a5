#!/usr/bin/env python3
"""Checks a built plug-in file: the image format of its machine (PE32 for
i386, PE32+ for x86-64 with high-entropy ASLR), the exports of the .def file
under their undecorated names, imports from Windows system DLLs only, ASLR
and DEP on, stack protection built in, the size budget of its machine, a
version resource whose fixed file and product versions are the project's
version and whose description names the NSIS target, and the beacon
addresses of the hosts the build was configured with.

Usage: check_plugin_file.py DLL x86|amd64 DEF VERSION TARGET COUNTER_HOST REPORT_HOST
"""
import re
import struct
import subprocess
import sys

SYSTEM_DLLS = {
    "kernel32.dll", "user32.dll", "advapi32.dll", "shell32.dll", "shlwapi.dll",
    "ole32.dll", "oleaut32.dll", "wininet.dll", "version.dll", "msvcrt.dll",
}
# objdump, format, optional header magic, size budget.
MACHINES = {
    "x86": ("i686-w64-mingw32-objdump", "pei-i386", "010b", 96 * 1024),
    "amd64": ("x86_64-w64-mingw32-objdump", "pei-x86-64", "020b", 128 * 1024),
}

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


def main(path, machine, def_file, version, target, counter_host, report_host):
    objdump, want_format, want_magic, budget = MACHINES[machine]
    expected_exports = exports_of(def_file)
    dump = subprocess.run([objdump, "-p", path], check=True, capture_output=True, text=True).stdout
    failures = []
    fmt = re.search(r"file format (\S+)", dump)
    if not fmt or fmt.group(1) != want_format:
        failures.append(f"format is {fmt.group(1) if fmt else '?'}, not {want_format}")
    magic = re.search(r"^Magic\s+(\S+)", dump, re.M)
    if not magic or magic.group(1) != want_magic:
        failures.append(f"optional header magic is {magic.group(1) if magic else '?'}, not {want_magic}")
    chars = int(re.search(r"^DllCharacteristics\s+([0-9a-fA-F]+)", dump, re.M).group(1), 16)
    if not chars & 0x40:
        failures.append("ASLR (DYNAMIC_BASE) is off")
    if not chars & 0x100:
        failures.append("DEP (NX_COMPAT) is off")
    if machine == "amd64" and not chars & 0x20:
        failures.append("high-entropy ASLR (HIGH_ENTROPY_VA) is off")
    if not re.search(r"^\tDLL$", dump, re.M):
        failures.append("not marked as a DLL")

    imports = {m.lower() for m in re.findall(r"DLL Name: (\S+)", dump)}
    foreign = sorted(imports - SYSTEM_DLLS)
    if foreign:
        failures.append(f"imports beyond Windows system DLLs: {foreign}")

    # Accounts go by their SIDs: their names change with the language of
    # Windows ("Administratoren", "Administrateurs").
    named = sorted(set(re.findall(r"\b(LookupAccountName[AW]|BuildExplicitAccessWithName[AW]|BuildTrusteeWithName[AW])\b",
                                  dump)))
    if named:
        failures.append(f"names accounts by name: {named}")

    table = dump.split("[Ordinal/Name Pointer] Table", 1)
    exports = set(re.findall(r"^\s+\[\s*\d+\]\s+(\S+)\s*$", table[1], re.M)) if len(table) > 1 else set()
    if not expected_exports:
        failures.append(f"{def_file} lists no exports")
    if exports != expected_exports:
        failures.append(f"exports {sorted(exports)}, expected {sorted(expected_exports)}")

    data = open(path, "rb").read()
    if b"stack smashing detected" not in data:
        failures.append("no stack protector built in")
    if len(data) > budget:
        failures.append(f"{len(data)} bytes, over the {budget}-byte budget")
    expected_version = ".".join((version.split(".") + ["0"] * 4)[:4])
    versions = fixed_versions(data)
    if versions is None:
        failures.append("no version resource")
    elif versions != (expected_version, expected_version):
        failures.append(f"file and product versions {versions}, expected {expected_version}")
    if "VS_VERSION_INFO".encode("utf-16-le") not in data or "tmnsisplug.dll".encode("utf-16-le") not in data:
        failures.append("the version resource names no VS_VERSION_INFO or original file name")

    description = f"tmnsisplug NSIS plug-in ({target})".encode("utf-16-le")
    if description not in data:
        failures.append(f"the version resource's description does not name {target}")
    for url in (f"http://{counter_host}/2813985/tongji.gif", f"http://{report_host}/install"):
        if url.encode("utf-16-le") + b"\0\0" not in data:
            failures.append(f"the beacon address {url} is not in the file")

    print(f"{path}: {len(data)} bytes, version {versions}, imports {sorted(imports)}, exports {sorted(exports)}")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0

if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:8]))
