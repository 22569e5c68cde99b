#!/usr/bin/env python3
"""Checks that includes between the shipped folders follow the arrows of docs/development.md:
no folder includes one it may not, so no two folders include each other in a circle, and
nothing shipped includes tests/, bench/ or sim/; bench/ and harness/ take nothing from tests/. Reads the sources as text; builds nothing."""
import os
import re
import sys

# Which folders each folder may include (besides itself).
ALLOWED = {
    "base": set(),
    "protocol": {"base"},
    "interrupt": {"base"},
    "ports": {"base"},
    "serial": {"base", "ports", "interrupt"},
    "network": {"base", "serial", "interrupt"},
    "dialog": {"base"},
    "conversations": {"base", "dialog", "protocol", "serial"},
    "sim": {"base", "protocol", "serial"},
    "cli": {"base", "conversations", "dialog", "protocol", "serial", "network", "ports",
            "interrupt"},
    "qt": {"base", "conversations", "dialog", "protocol", "serial", "network", "ports",
           "interrupt"},
    "ui": {"base", "conversations", "dialog", "protocol", "serial", "ports"},
    "tools": {"dialog", "protocol"},
}
# Folders that may include any shipped folder but not these: the bench and the tests share only
# what harness/ holds.
FREE = {"bench": ("tests",), "harness": ("tests", "bench")}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/', re.M)


def main():
    top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    wrong = []
    for folder in list(ALLOWED) + list(FREE):
        allowed = ALLOWED.get(folder, set(ALLOWED))
        never = FREE.get(folder, ("tests", "bench"))
        for here, _, files in os.walk(os.path.join(top, folder)):
            for name in files:
                if not name.endswith((".h", ".cpp", ".rc", ".rc.in")):
                    continue
                path = os.path.join(here, name)
                with open(path, encoding="utf-8", errors="replace") as f:
                    for target in INCLUDE.findall(f.read()):
                        if target != folder and target in ALLOWED and target not in allowed:
                            wrong.append("%s includes %s/" % (os.path.relpath(path, top), target))
                        elif target in never:
                            wrong.append("%s includes %s/" % (os.path.relpath(path, top), target))
    for line in wrong:
        print(line)
    return 1 if wrong else 0


if __name__ == "__main__":
    sys.exit(main())
