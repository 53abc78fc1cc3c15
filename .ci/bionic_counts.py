#!/usr/bin/env python3
"""Prints "N passed, F failed" from a ctest JUnit file (skipped tests are neither).

  .ci/bionic_counts.py JUNIT.xml [POLICY]

F is 1 when the file is missing or unreadable. With POLICY, the filter's list the tests ran
under: a test whose output lacks the launcher's line naming it ran without the filter, and
counts as failed.
"""
import sys
import xml.etree.ElementTree as ET


def main():
    try:
        cases = ET.parse(sys.argv[1]).getroot().iter("testcase")
    except (OSError, ET.ParseError):
        print("0 passed, 1 failed")
        return
    passed = failed = 0
    for case in cases:
        status = case.get("status")
        if case.find("skipped") is not None or status == "disabled":
            continue
        out = case.findtext("system-out") or ""
        if len(sys.argv) > 2 and f"syscalls allowed from {sys.argv[2]}" not in out.replace("\n", " "):
            print(f"   ran without the filter: {case.get('name')}", file=sys.stderr)
            failed += 1
        elif status == "run" and case.find("failure") is None:
            passed += 1
        else:
            failed += 1
    print(f"{passed} passed, {failed} failed")


if __name__ == "__main__":
    main()
