"""End-to-end cases of the frame and of process and window control."""
from harness import check, check_equal


def case_stack_effects(h):
    above, below = f"pushed before {h.foreign}", f"below {h.foreign}"
    lines, _ = h.run_installer(h.build_installer("stack_effects.nsi", ABOVE=above, BELOW=below))
    arch = "32" if h.kind == "win32" else "64"
    left = f"[{above}][{below}]"
    check_equal(f"CheckCloseMain:{left}", lines[0], "CheckCloseMain stack")
    check_equal(f"KillProcByName:{left}", lines[1], "KillProcByName stack")
    check_equal(f"KillProcByPid:{left}", lines[2], "KillProcByPid stack")
    r0 = lines[3].partition(":")[2]
    check(r0.lstrip("-").isdigit() and int(r0) != 0, f"$R0 holds no ticket address: {lines[3]!r}")
    check_equal(["R1:untouched", "0:untouched"], lines[4:6], "other variables")
    check_equal(f"PowerDeleteDir:{left}", lines[6], "PowerDeleteDir stack")
    check_equal(f"WindowsPlatformArchitecture:[{arch}]{left}", lines[7], "WindowsPlatformArchitecture stack")


def case_kill_by_name(h):
    base = f"tmvictim{h.foreign}"
    victim, longer = f"{base}.exe", f"{base}x.exe"
    for _ in range(3):
        h.start(h.copy_helper("tmwait.exe", victim), 60)
    h.start(h.copy_helper("tmwait.exe", longer), 60)
    h.wait_for(lambda: h.names_running().count(victim) == 3 and longer in h.names_running(),
               20, "the waiting copies to start")

    # A name without its extension, or a mere prefix, ends nothing; nor does
    # one that differs in the case of a letter outside ASCII.
    other_case = f"tmvictim{h.foreign[0].upper()}{h.foreign[1:]}.exe"
    check(other_case != victim, "the foreign text has no upper-case letter first")
    for name in (base, f"{base}.ex", f"TMVICTIM{h.foreign}", other_case):
        lines, _ = h.run_installer(h.build_installer("kill_by_name.nsi", NAME=name))
        check_equal(["KillProcByName:[below]"], lines, f"stack after {name}")
        check_equal(3, h.names_running().count(victim), f"copies running after {name}")

    lines, _ = h.run_installer(h.build_installer("kill_by_name.nsi", NAME=f"TmVictim{h.foreign}.EXE"))
    check_equal(["KillProcByName:[below]"], lines, "stack after the name in other ASCII case")
    h.wait_for(lambda: victim not in h.names_running(), 10, "the three copies to end")
    check(longer in h.names_running(), "the process whose name shares the prefix was ended")


def case_pid_ticket(h):
    keeper = h.copy_helper("tmwait.exe", "tmkeeper.exe")
    h.start(keeper, 60)
    h.wait_for(lambda: "tmkeeper.exe" in h.names_running(), 20, "tmkeeper.exe to start")
    before = {pid for pid, name in h.processes() if name != "proclist.exe"}

    foreign = f"77{h.foreign}"
    lines, _ = h.run_installer(h.build_installer("pid_ticket.nsi", FOREIGN=foreign))
    expected = {"1234": 1234, "  42abc": 42, "abc": 0, "-5": -5, "99999999999": 2147483647, foreign: 77}
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
    """Texts of 199, 200 and 1023 characters as the host counts them: the
    names start with the flavour's foreign text, whose surrogate pair a
    Unicode installer counts as two."""
    spaces = " " * 190

    def name(letter, length, tail=""):
        return h.foreign + letter * (length - h.units(h.foreign) - len(".exe")) + ".exe" + tail

    texts = {
        "PID199": spaces + "123456789",
        "PID200": spaces + "1234567891",
        "PID1023": spaces + "123456789" + "9" * 824,
        "NAME199": name("a", 199),
        "NAME200": name("b", 200),
        "NAME1023": name("c", 199, "x" * 824),
    }
    for key, length in (("PID199", 199), ("PID200", 200), ("PID1023", 1023),
                        ("NAME199", 199), ("NAME200", 200), ("NAME1023", 1023)):
        check_equal(length, h.units(texts[key]), f"length of {key}")

    names = {"a": texts["NAME199"], "b": texts["NAME200"], "c": name("c", 199)}
    for running in names.values():
        h.start(h.copy_helper("tmwait.exe", running), 60)
    h.wait_for(lambda: all(n in h.names_running() for n in names.values()), 20, "the long-named copies")

    lines, _ = h.run_installer(h.build_installer("long_texts.nsi", **texts))
    check_equal(["id199:123456789", "id200:123456789", "id1023:123456789"], lines[1:4],
                "ids parsed from the long texts")
    check_equal("after:[below]", lines[4], "stack after the long texts")
    running = h.names_running()
    check(names["a"] not in running, "the 199-character name did not reach the worker whole")
    check(names["b"] in running, "a 200-character name was not cut to 199 characters")
    check(names["c"] in running, "a 1023-character name ended the program named by its first 199 characters")
