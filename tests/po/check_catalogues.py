#!/usr/bin/env python3
"""The catalogues in po/: the template holds what the sources mark, every language translates each
of its messages, none fuzzy, msgfmt --check passes, the hobby's words of po/glossary.txt are used
the same way everywhere, and a fragment keeps the spaces it is joined by
(French may put one before a colon).
Usage: check_catalogues.py <repository>"""
import os
import subprocess
import sys

repo = sys.argv[1]
sys.path.insert(0, os.path.join(repo, "scripts"))
import po_catalogue  # noqa: E402

po = os.path.join(repo, "po")
failures = []
if subprocess.run([os.path.join(repo, "scripts", "update-po.sh"), "--check"]).returncode:
    failures.append("po/valdrix.pot does not hold what the sources mark")
template = {e["msgid"] for e in po_catalogue.read(os.path.join(po, "valdrix.pot"))}
glossary = [line.rstrip("\n").split("\t") for line in open(os.path.join(po, "glossary.txt"))
            if line.strip() and not line.startswith("#")]
languages = open(os.path.join(po, "LINGUAS")).read().split()
failures += [f"{language}: no column in po/glossary.txt" for language in languages
             if language not in glossary[0]]
for language in languages:
    column = glossary[0].index(language) if language in glossary[0] else 0
    path = os.path.join(po, language + ".po")
    checked = subprocess.run(["msgfmt", "--check", "-o", os.devnull, path], capture_output=True,
                             text=True)
    if checked.returncode:
        failures.append(f"{language}: msgfmt --check: {checked.stderr.strip()}")
    entries = po_catalogue.read(path)
    missing = template - {e["msgid"] for e in entries if e["msgstr"] and "fuzzy" not in e["flags"]}
    failures += [f"{language}: not translated: {text!r}" for text in sorted(missing)]
    failures += [f"{language}: fuzzy: {e['msgid']!r}" for e in entries if "fuzzy" in e["flags"]]
    for e in entries:
        english, translated = e["msgid"], e["msgstr"]
        for row in glossary[1:]:
            forms = row[column].lower().split("|")
            if row[0].lower() in english.lower() and not any(f in translated.lower() for f in forms):
                failures.append(f"{language}: {english!r} has {row[0]!r} but not {row[column]!r}")
        if translated and (english[:1] == " " > translated[:1] or
                           (english[-1:] == " ") != (translated[-1:] == " ")):
            failures.append(f"{language}: {english!r}: the spaces at its ends differ")
print("\n".join(f"FAIL: {failure}" for failure in failures) or "ok")
sys.exit(1 if failures else 0)
