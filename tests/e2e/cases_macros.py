"""End-to-end case of the installer author's include file, in a Unicode
installer of either machine: the macros' outputs, the stack and the variables they keep, and
names outside any ANSI code page passed whole."""
from harness import HERE, check, check_equal

REGISTERS = "0 1 2 3 4 5 6 7 8 9 R0 R1 R2 R3 R4 R5 R6 R7 R8 R9".split()


def case_include_macros(h):
    victim, tree = "tmkit-\u03c9\u00e9.exe", "tree \u65e5\u672c \u03c9"
    (h.work / tree / "sub").mkdir(parents=True)
    (h.work / tree / "sub" / "\u00e9.txt").write_text("own")
    (h.work / f"{tree}-kept").mkdir()
    names = h.work / "names.nsh"
    names.write_text(f'!define VICTIM "{victim}"\n!define TREE "{tree}"\n', encoding="utf-8-sig")
    child = h.start(h.copy_helper("tmwait.exe", victim), 60)
    h.wait_for(lambda: victim in h.names_running(), 20, f"{victim} to start")

    lines, _ = h.run_installer(h.build_installer(
        "include_macros.nsi", plugin_dir=h.loopback_plugin_dir,
        INCLUDE_DIR=HERE.parent.parent / "package" / "Include", NAMES=names))
    calls = {}
    for line in lines:
        label, _, rest = line.partition("|")
        calls[label] = rest.split("|")
    outputs = {"architecture": ("5", "64"), "ticket": ("6", None), "ticket in R0": ("R0", None)}
    for label in ("architecture", "ticket", "ticket in R0", "kill", "delete", "close"):
        check(label in calls, f"no line for {label}: {lines}")
        stack, registers = calls[label][0], calls[label][1].split(" ")
        check_equal("[below 1][below 2]", stack, f"stack after {label}")
        output, value = outputs.get(label, (None, None))
        expected = [value if name == output and value else name for name in REGISTERS]
        if output and not value:
            address = registers[REGISTERS.index(output)]
            check(address.lstrip("-").isdigit() and int(address) != 0, f"{label}: no ticket address: {address!r}")
            expected[REGISTERS.index(output)] = address
        check_equal(expected, registers, f"variables after {label}")
    mixed, tick, pid = map(int, calls["words"][0].split(" "))
    check_equal((1234, 1234), (pid, (mixed ^ tick) & 0xFFFFFFFF), "the ticket's process id and mixed id")
    check(not (h.work / tree).exists(), f"{tree} was not deleted")
    check((h.work / f"{tree}-kept").is_dir(), "the folder beside the tree went")
    h.wait_for(lambda: child.poll() is not None, 20, f"{victim} to end")
