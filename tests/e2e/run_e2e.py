#!/usr/bin/env python3
"""End-to-end cases: real installers built by makensis from the scripts
beside this file, run silently under Wine. Each installer writes what it
observed to result.txt; the case checks that together with what Windows
shows afterwards (processes, files, windows, registry).

Cases are the functions named case_* in the cases_*.py files here.

Usage: run_e2e.py --build-dir BUILD [--kind main|xp64|win32] [--flavour ansi|unicode] CASE
"""
import argparse
import importlib
import sys
from pathlib import Path

from harness import FLAVOURS, Failure, Harness

HERE = Path(__file__).resolve().parent


def all_cases():
    cases = {}
    for module_file in sorted(HERE.glob("cases_*.py")):
        module = importlib.import_module(module_file.stem)
        for name, function in vars(module).items():
            if name.startswith("case_") and callable(function):
                cases[name[len("case_"):]] = function
    return cases


def main():
    cases = all_cases()
    parser = argparse.ArgumentParser()
    parser.add_argument("--build-dir", required=True)
    parser.add_argument("--kind", default="main")
    parser.add_argument("--flavour", choices=FLAVOURS, default="ansi")
    parser.add_argument("--prefix", help="the Wine prefix, if not the kind's own (build/wine/<kind>)")
    parser.add_argument("case", choices=sorted(cases))
    args = parser.parse_args()
    h = None
    try:
        h = Harness(args.build_dir, args.kind, args.case, args.flavour, args.prefix)
        cases[args.case](h)
    except Failure as failure:
        print(f"FAIL {args.case} ({args.kind}, {args.flavour}): {failure}")
        return 1
    finally:
        if h is not None:
            h.close()
    print(f"ok {args.case} ({args.kind}, {args.flavour})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
