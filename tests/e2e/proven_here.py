#!/usr/bin/env python3
"""Says in one line what a test run proved on this host: how many of the
end-to-end cases passed in at least one flavour with none of their tests
failing, in which flavours, and how many tests were skipped and why.

Usage: proven_here.py JUNIT.xml VERDICT
  JUNIT.xml  CTest's --output-junit file of the run
  VERDICT    build/wine/wine-x86.txt: "yes", or "no: <why>"
"""
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

FLAVOURS = {"ansi": "x86-ansi", "unicode": "x86-unicode", "amd64": "amd64-unicode"}


def outcome(testcase):
    status = testcase.get("status")
    if status == "run":
        return "passed"
    if status == "fail":
        return "failed"
    return "skipped"


def main():
    junit, verdict = Path(sys.argv[1]), Path(sys.argv[2])
    if not junit.exists():
        print(f"no test results in {junit}")
        return 0
    tests = [(t.get("name"), outcome(t)) for t in ElementTree.parse(junit).getroot().iter("testcase")]
    cases = {}
    flavours = set()
    for name, result in tests:
        parts = name.split(".")
        if parts[0] != "e2e" or len(parts) < 3:
            continue
        flavour = parts[3] if len(parts) > 3 else "ansi"
        cases.setdefault(parts[1], []).append(result)
        if result == "passed":
            flavours.add(flavour)
    proven = [case for case, results in cases.items() if "passed" in results and "failed" not in results]
    skipped = sum(1 for _, result in tests if result == "skipped")
    failed = sum(1 for _, result in tests if result == "failed")
    answer = verdict.read_text().strip() if verdict.exists() else ""
    names = ", ".join(FLAVOURS[f] for f in FLAVOURS if f in flavours) or "none"
    line = f"end-to-end cases proven here: {len(proven)} of {len(cases)} ({names}); skipped: {skipped} tests"
    if skipped and answer.startswith("no: "):
        line = (f"end-to-end cases proven here: {len(proven)} of {len(cases)} ({names}); "
                f"skipped: {skipped} x86 tests ({answer[len('no: '):]})")
    if failed:
        line += f"; failed: {failed} tests"
    unproven = sorted(set(cases) - set(proven))
    if unproven:
        line += f"; not proven: {', '.join(unproven)}"
    print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
