#!/usr/bin/env python3
"""Prints each device API guard in the library's sources with the levels that run each side.

  git ls-files codec identity jni store sys text | .ci/bionic_guards.py LEVEL...

Reads the source paths on standard input and the bionic lane's device API levels as arguments.
Exits 1 for a guard with a side no level runs, or one it cannot read (compare
android_get_device_api_level() with a number).
"""
import re
import sys

CALL = r"android_get_device_api_level\(\)"


def main():
    levels = [int(x) for x in sys.argv[1:]]
    ok = True
    for path in sys.stdin.read().split():
        for n, line in enumerate(open(path, encoding="utf-8"), 1):
            code = line.split("//")[0]
            if not re.search(CALL, code):
                continue
            m = re.search(CALL + r"\s*(<=|>=|<|>|==|!=)\s*(\d+)", code)
            r = re.search(r"(\d+)\s*(<=|>=|<|>|==|!=)\s*" + CALL, code)
            if m:
                op, level = m.group(1), int(m.group(2))
            elif r:
                op = {"<": ">", ">": "<", "<=": ">=", ">=": "<="}.get(r.group(2), r.group(2))
                level = int(r.group(1))
            else:
                print(f"{path}:{n}: a device API guard this lane cannot read (compare "
                      f"android_get_device_api_level() with a number):\n  {line.strip()}")
                ok = False
                continue
            if op in ("==", "!="):
                sides = ([l for l in levels if l == level], [l for l in levels if l != level])
            else:
                first = level + 1 if op in ("<=", ">") else level  # the upper side's first level
                sides = ([l for l in levels if l < first], [l for l in levels if l >= first])
            print(f"   {path}:{n}: api {op} {level}: sides run at {sides[0]} and {sides[1]}")
            if not sides[0] or not sides[1]:
                print(f"{path}:{n}: add a device API level on each side of this guard to "
                      "BIONIC_API_LEVELS")
                ok = False
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
