"""End-to-end cases of the installer author's include file, in a Unicode
installer of either machine: the macros' outputs, the stack and the variables
they keep, names outside any ANSI code page passed whole, and a plug-in
Windows refuses to load."""
from harness import HERE, check, check_equal

REGISTERS = "0 1 2 3 4 5 6 7 8 9 R0 R1 R2 R3 R4 R5 R6 R7 R8 R9".split()


OUTPUTS = {"architecture": "5", "ticket": "6", "ticket in R0": "R0", "ticket from and in R0": "R0"}


def run_macros(h, names, plugin_dir, **defines):
    """Runs include_macros.nsi; its lines by label."""
    lines, _ = h.run_installer(h.build_installer("include_macros.nsi", plugin_dir=plugin_dir, NAMES=names,
                                                 INCLUDE_DIR=HERE.parent.parent / "package" / "Include", **defines))
    return {label: rest.split("|") for label, _, rest in (line.partition("|") for line in lines)}


def check_macro_line(calls, label, errors, output=None):
    """The stack, the error flag and the variables after one macro: every
    variable holds its own name but the output, which holds output (a ticket
    address, when None)."""
    check(label in calls, f"no line for {label}: {calls}")
    stack, registers, flag = calls[label][0], calls[label][1].split(" "), calls[label][2]
    check_equal(("[below 1][below 2]", errors), (stack, flag), f"stack and error flag after {label}")
    expected = list(REGISTERS)
    if label in OUTPUTS:
        at = REGISTERS.index(OUTPUTS[label])
        expected[at] = output if output is not None else registers[at]
        check(output is not None or int(registers[at]) != 0, f"{label}: no ticket address: {registers[at]!r}")
    check_equal(expected, registers, f"variables after {label}")


def case_include_macros(h):
    victim, tree = "tmkit-\u03c9\u00e9.exe", "tree \u65e5\u672c \u03c9"
    (h.work / tree / "sub").mkdir(parents=True)
    (h.work / tree / "sub" / "\u00e9.txt").write_text("own")
    (h.work / f"{tree}-kept").mkdir()
    names = h.work / "names.nsh"
    names.write_text(f'!define VICTIM "{victim}"\n!define TREE "{tree}"\n', encoding="utf-8-sig")
    child = h.start(h.copy_helper("tmwait.exe", victim), 60)
    h.wait_for(lambda: victim in h.names_running(), 20, f"{victim} to start")

    calls = run_macros(h, names, h.loopback_plugin_dir)
    check_macro_line(calls, "architecture", "clear", "64")
    for label in ("ticket", "ticket in R0", "ticket from and in R0", "kill", "delete", "close"):
        check_macro_line(calls, label, "clear")
    mixed, tick, pid = map(int, calls["words"][0].split(" "))
    check_equal((1234, 1234), (pid, (mixed ^ tick) & 0xFFFFFFFF), "the ticket's process id and mixed id")
    # $R0 as the argument: the ticket is for the number it held, and it keeps it.
    words, kept = calls["words from R0"]
    check_equal((4321, "4321"), (int(words.split(" ")[2]), kept), "the ticket for the id in $R0, and $R0")
    check(not (h.work / tree).exists(), f"{tree} was not deleted")
    check((h.work / f"{tree}-kept").is_dir(), "the folder beside the tree went")
    h.wait_for(lambda: child.poll() is not None, 20, f"{victim} to end")


def case_include_macros_unloadable(h):
    """A plug-in Windows refuses to load: every macro sets the error flag,
    takes its arguments back off the stack and leaves its output empty."""
    names = h.work / "names.nsh"
    names.write_text('!define VICTIM "tmwait.exe"\n!define TREE "tree"\n', encoding="utf-8-sig")
    (h.work / "tree").mkdir()
    calls = run_macros(h, names, h.bin / "refusing", REFUSING=1)
    labels = ["architecture", "ticket", "ticket in R0", "ticket from and in R0", "kill", "delete", "close",
              "hotfixes", "software", "drivers", "all downloads", "install", "uninstall"]
    check_equal(sorted(labels), sorted(calls), "lines of the installer")
    for label in labels:
        check_macro_line(calls, label, "set", "")
    check((h.work / "tree").is_dir(), "the tree went")
