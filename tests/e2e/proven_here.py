#!/usr/bin/env python3
"""Says in one line what a test run proved on this host: how many of the
end-to-end cases passed in at least one flavour with none of their tests
failing, in which flavours, and how many tests were skipped and why (each
skipped test prints "skipped: <why>").

Usage: proven_here.py JUNIT.xml   (CTest's --output-junit file of the run)
"""
import collections
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

FLAVOURS = {"ansi": "x86-ansi", "unicode": "x86-unicode", "amd64": "amd64-unicode"}


def outcome(testcase):
    status = testcase.get("status")
    return {"run": "passed", "fail": "failed"}.get(status, "skipped")


def why_skipped(testcase):
    for line in (testcase.findtext("system-out") or "").splitlines():
        if line.startswith("skipped: "):
            return line[len("skipped: "):]
    return "no reason given"


def main():
    junit = Path(sys.argv[1])
    if not junit.exists():
        print(f"no test results in {junit}")
        return 0
    tests = list(ElementTree.parse(junit).getroot().iter("testcase"))
    cases = collections.defaultdict(list)
    flavours = set()
    for test in tests:
        parts = test.get("name").split(".")
        if parts[0] != "e2e" or len(parts) < 3:
            continue
        result = outcome(test)
        cases[parts[1]].append(result)
        if result == "passed":
            flavours.add(parts[3] if len(parts) > 3 else "ansi")
    proven = [case for case, results in cases.items() if "passed" in results and "failed" not in results]
    names = ", ".join(FLAVOURS[f] for f in FLAVOURS if f in flavours) or "none"
    reasons = collections.Counter(why_skipped(t) for t in tests if outcome(t) == "skipped")
    skipped = "; ".join(f"{count} tests ({why})" for why, count in reasons.most_common()) or "0 tests"
    line = f"end-to-end cases proven here: {len(proven)} of {len(cases)} ({names}); skipped: {skipped}"
    failed = sum(1 for t in tests if outcome(t) == "failed")
    if failed:
        line += f"; failed: {failed} tests"
    unproven = sorted(set(cases) - set(proven))
    if unproven:
        line += f"; not proven: {', '.join(unproven)}"
    print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
