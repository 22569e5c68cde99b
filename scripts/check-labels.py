#!/usr/bin/env python3
"""Fails unless each label named ran at least one test in the CTest log given (one run's output:
scripts/test.sh names each run's labels), and no test was skipped or left unrun: a green run then
means that every kind of test it is meant to cover ran. Silent when it holds, so that the test
command's last line stays CTest's summary. A test CTest lists as Disabled is a
declared skip, allowed: only tests/CMakeLists.txt disables tests, those a cross build's emulator
cannot run, and configuring says which and why.
Usage: check-labels.py LABEL,LABEL,... CTEST_OUTPUT"""
import re
import sys

labels, text = sys.argv[1].split(","), open(sys.argv[2]).read()
ran = {}
for label, count in re.findall(r"^(\S+)\s+=\s+[\d.]+ sec\*proc \((\d+) tests?\)$", text, re.M):
    ran[label] = ran.get(label, 0) + int(count)
unrun = re.findall(r"^\s*\d+ - (\S+ \((?:Skipped|Not Run)\))$", text, re.M)
missing = [label for label in labels if not ran.get(label)]
for label in missing:
    print(f"check-labels: no test with the label {label} ran")
for test in unrun:
    print(f"check-labels: {test}")
sys.exit(1 if missing or unrun else 0)
