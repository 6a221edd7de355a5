#!/usr/bin/env python3
"""End-to-end cases: real installers built by makensis from the scripts
beside this file, run silently under Wine. Each installer writes what it
observed to result.txt; the case checks that together with what Windows
shows afterwards (processes, files, windows).

Usage: run_e2e.py --build-dir BUILD --kind main|xp64|win32 CASE
"""
import argparse
import os
import shutil
import subprocess
import sys
import time
from pathlib import Path

HERE = Path(__file__).resolve().parent


class Failure(Exception):
    pass


def check(condition, message):
    if not condition:
        raise Failure(message)


def check_equal(expected, actual, what):
    if expected != actual:
        raise Failure(f"{what}: expected {expected!r}, got {actual!r}")


class Harness:
    def __init__(self, build_dir, kind, case):
        self.build = Path(build_dir).resolve()
        self.kind = kind
        self.prefix = self.build / "wine" / kind
        self.bin = self.build / "tests" / "bin"
        self.plugin_dir = self.build / "x86-ansi"
        self.work = self.build / "e2e" / f"{case}.{kind}"
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir(parents=True)
        self.env = dict(os.environ, WINEPREFIX=str(self.prefix), WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")
        self.children = []

    @staticmethod
    def windows_path(path):
        return "Z:" + str(path).replace("/", "\\")

    def build_installer(self, script, name="setup.exe", **defines):
        out = self.work / name
        command = ["makensis", "-V2", "-NOCD", f"-DPLUGIN_DIR={self.plugin_dir}", f"-DOUT_FILE={out}"]
        command += [f"-D{k}={v}" for k, v in defines.items()]
        command.append(str(HERE / script))
        result = subprocess.run(command, cwd=HERE, capture_output=True, text=True)
        check(result.returncode == 0, f"makensis {script} failed:\n{result.stdout}\n{result.stderr}")
        return out

    def run_installer(self, exe, timeout=300):
        result = (self.work / "result.txt")
        if result.exists():
            result.unlink()
        started = time.monotonic()
        completed = subprocess.run(["wine", str(exe), "/S"], cwd=self.work, env=self.env,
                                   capture_output=True, timeout=timeout)
        elapsed = time.monotonic() - started
        check(completed.returncode == 0, f"{exe.name} exited with {completed.returncode}")
        check(result.exists(), f"{exe.name} wrote no result.txt")
        return result.read_text(encoding="latin-1").splitlines(), elapsed

    def start(self, exe, *args):
        child = subprocess.Popen(["wine", str(exe), *map(str, args)], cwd=self.work, env=self.env,
                                 stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.children.append(child)
        return child

    def processes(self):
        out = subprocess.run(["wine", str(self.bin / "proclist.exe")], env=self.env,
                             capture_output=True, check=True).stdout.decode("utf-8", "replace")
        listed = []
        for line in out.splitlines():
            pid, _, name = line.partition("\t")
            if pid.strip().isdigit():
                listed.append((int(pid), name.strip()))
        return listed

    def names_running(self):
        return [name for _, name in self.processes()]

    def wait_for(self, predicate, timeout, what):
        deadline = time.monotonic() + timeout
        while time.monotonic() < deadline:
            if predicate():
                return
            time.sleep(0.2)
        raise Failure(f"timed out waiting for {what}")

    def copy_helper(self, helper, name):
        target = self.work / name
        shutil.copyfile(self.bin / helper, target)
        return target

    def close(self):
        for child in self.children:
            if child.poll() is None:
                child.kill()
                child.wait()


# ---------------------------------------------------------------- cases

def case_stack_rows(h):
    lines, _ = h.run_installer(h.build_installer("stack_rows.nsi"))
    arch = "32" if h.kind == "win32" else "64"
    check_equal("CheckCloseMain:[pushed before][below]", lines[0], "CheckCloseMain row")
    check_equal("KillProcByName:[pushed before][below]", lines[1], "KillProcByName row")
    check_equal("KillProcByPid:[pushed before][below]", lines[2], "KillProcByPid row")
    r0 = lines[3].partition(":")[2]
    check(r0.lstrip("-").isdigit() and int(r0) != 0, f"$R0 holds no ticket address: {lines[3]!r}")
    check_equal(["R1:untouched", "0:untouched"], lines[4:6], "other variables")
    check_equal("PowerDeleteDir:[pushed before][below]", lines[6], "PowerDeleteDir row")
    check_equal(f"WindowsPlatformArchitecture:[{arch}][pushed before][below]", lines[7],
                "WindowsPlatformArchitecture row")


def case_kill_by_name(h):
    victim = h.copy_helper("tmwait.exe", "tmvictim.exe")
    longer = h.copy_helper("tmwait.exe", "tmvictimx.exe")
    for _ in range(3):
        h.start(victim, 60)
    h.start(longer, 60)
    h.wait_for(lambda: h.names_running().count("tmvictim.exe") == 3 and "tmvictimx.exe" in h.names_running(),
               20, "the waiting copies to start")

    # A name without its extension, or a mere prefix, ends nothing.
    for name in ("tmvictim", "tmvictim.ex", "TMVICTIM"):
        lines, _ = h.run_installer(h.build_installer("kill_by_name.nsi", NAME=name))
        check_equal(["KillProcByName:[below]"], lines, f"stack after {name}")
        running = h.names_running()
        check_equal(3, running.count("tmvictim.exe"), f"copies running after {name}")

    lines, _ = h.run_installer(h.build_installer("kill_by_name.nsi", NAME="TmVictim.EXE"))
    check_equal(["KillProcByName:[below]"], lines, "stack after TmVictim.EXE")
    h.wait_for(lambda: "tmvictim.exe" not in h.names_running(), 10, "the three copies to end")
    check("tmvictimx.exe" in h.names_running(), "the process whose name shares the prefix was ended")


def case_pid_ticket(h):
    keeper = h.copy_helper("tmwait.exe", "tmkeeper.exe")
    h.start(keeper, 60)
    h.wait_for(lambda: "tmkeeper.exe" in h.names_running(), 20, "tmkeeper.exe to start")
    before = {pid for pid, name in h.processes() if name != "proclist.exe"}

    lines, _ = h.run_installer(h.build_installer("pid_ticket.nsi"))
    expected = {"1234": 1234, "  42abc": 42, "abc": 0, "-5": -5, "99999999999": 2147483647}
    addresses = set()
    for line in lines[:-1]:
        text, r0, mixed, tick, pid = line.split("|")
        check(text in expected, f"unexpected line {line!r}")
        check_equal(expected[text], int(pid), f"processId of {text!r}")
        check_equal(expected[text] & 0xFFFFFFFF, (int(mixed) ^ int(tick)) & 0xFFFFFFFF,
                    f"mixedId XOR tickCount of {text!r}")
        check(r0.lstrip("-").isdigit(), f"$R0 {r0!r} is not decimal")
        addresses.add(r0)
    check_equal(len(expected), len(addresses), "distinct tickets")
    check_equal("after:[below]", lines[-1], "stack after the tickets")
    after = {pid for pid, _ in h.processes()}
    check(before <= after, f"processes ended by KillProcByPid: {sorted(before - after)}")


def case_close_main(h):
    record = h.work / "windows.txt"
    host = h.start(h.bin / "winhost.exe", h.windows_path(record), 1, 30)
    h.wait_for(lambda: record.exists() and "ready" in record.read_text().split("\n"), 20, "the window host")
    lines, _ = h.run_installer(h.build_installer("close_main.nsi"))
    check_equal(["CheckCloseMain:[below]"], lines, "stack after CheckCloseMain")
    host.wait(timeout=20)
    seen = record.read_text().splitlines()
    asked = [line for line in seen if "syscommand" in line]
    check_equal(["1 0 syscommand 0xF062", "2 0 syscommand 0xF062"], asked, "close requests")
    check("1 0 destroy" in seen and "2 0 destroy" in seen, f"windows not closed: {seen}")


def case_architecture(h):
    lines, _ = h.run_installer(h.build_installer("architecture.nsi"))
    arch = "32" if h.kind == "win32" else "64"
    check_equal([f"WindowsPlatformArchitecture:[{arch}][below]"], lines, "architecture")


def case_long_texts(h):
    spaces = " " * 190
    texts = {
        "PID199": spaces + "123456789",
        "PID200": spaces + "1234567891",
        "PID1023": spaces + "123456789" + "9" * 824,
        "NAME199": "a" * 195 + ".exe",
        "NAME200": "b" * 196 + ".exe",
        "NAME1023": "c" * 195 + ".exe" + "x" * 824,
    }
    for key, length in (("PID199", 199), ("PID200", 200), ("PID1023", 1023),
                        ("NAME199", 199), ("NAME200", 200), ("NAME1023", 1023)):
        assert len(texts[key]) == length, key
    include = h.work / "long_texts.nsh"
    include.write_text("".join(f'!define {k} "{v}"\n' for k, v in texts.items()))

    names = {"a": texts["NAME199"], "b": texts["NAME200"], "c": texts["NAME1023"][:199]}
    for name in names.values():
        h.start(h.copy_helper("tmwait.exe", name), 60)
    h.wait_for(lambda: all(n in h.names_running() for n in names.values()), 20, "the long-named copies")

    lines, _ = h.run_installer(h.build_installer("long_texts.nsi", TEXTS=include))
    check_equal(["id199:123456789", "id200:123456789", "id1023:123456789"], lines[1:4],
                "ids parsed from the long texts")
    check_equal("after:[below]", lines[4], "stack after the long texts")
    running = h.names_running()
    check(names["a"] not in running, "the 199-character name did not reach the worker whole")
    check(names["b"] in running, "a 200-character name was not cut to 199 characters")
    check(names["c"] not in running, "a 1023-character name was not cut to its first 199 characters")


def case_power_delete(h):
    w = h.windows_path
    tree, slashed, linked = h.work / "tree", h.work / "slashed", h.work / "linked"
    outside = h.work / "outside"
    outside.mkdir()
    (outside / "keep.txt").write_text("keep")
    (linked / "sub").mkdir(parents=True)
    (linked / "sub" / "x.txt").write_text("x")
    (linked / "plain.txt").write_text("x")
    (linked / "link").symlink_to(outside, target_is_directory=True)
    afile = h.work / "afile.txt"
    afile.write_text("keep")
    # A 199-character path, and a 200-character one whose first 199
    # characters name another folder that must stay.
    room = 199 - len(w(h.work)) - 1
    long199 = h.work / ("d" * room)
    long199_other = h.work / ("e" * room)
    long200 = h.work / ("e" * (room + 1))
    assert len(w(long199)) == 199 and len(w(long200)) == 200

    lines, _ = h.run_installer(h.build_installer(
        "power_delete.nsi", TREE=w(tree), SLASHED=w(slashed), LINKED=w(linked), MISSING=w(h.work / "missing"),
        AFILE=w(afile), LONG199=w(long199), LONG199_OTHER=w(long199_other), LONG200=w(long200)))
    check_equal(["made"] + [f"{label}:[below]" for label in
                            ("tree", "slashed", "linked", "missing", "file", "empty", "long199", "long200")],
                lines, "stack after each call")
    check(not tree.exists(), f"{tree} left: {list(tree.rglob('*')) if tree.exists() else ''}")
    check(not slashed.exists(), f"{slashed} left: {list(slashed.rglob('*')) if slashed.exists() else ''}")
    check(not long199.exists(), "the 199-character path was not deleted")
    check((long199_other / "plain.txt").exists(), "a cut path deleted another folder")
    check((long200 / "plain.txt").exists(), "a path longer than 199 characters was acted on")
    check(afile.read_text() == "keep", "a path naming a file deleted it")
    # What a link points to is never entered; everything else of the tree goes.
    check((outside / "keep.txt").read_text() == "keep", "the folder behind the link was touched")
    left = sorted(str(p.relative_to(linked)) for p in linked.rglob("*")) if linked.exists() else []
    check(set(left) <= {"link"}, f"left in the linked tree: {left}")


CASES = {name[len("case_"):]: f for name, f in globals().items() if name.startswith("case_")}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--kind", default="main")
    parser.add_argument("case", choices=sorted(CASES))
    args = parser.parse_args()
    h = Harness(args.build_dir, args.kind, args.case)
    try:
        CASES[args.case](h)
    except Failure as failure:
        print(f"FAIL {args.case} ({args.kind}): {failure}")
        return 1
    finally:
        h.close()
    print(f"ok {args.case} ({args.kind})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
