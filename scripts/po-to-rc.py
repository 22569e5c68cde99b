#!/usr/bin/env python3
"""The Windows program's translations, made from the catalogues at build time: for each language
a copy of the English dialog with its texts translated (same controls, places and styles: only
the quoted texts change) and a string table, each tagged with the language's LANGUAGE so that
Windows picks them by the user's UI language; and for the program, the sorted English texts whose
place in that list is a string's id (ui/translate_win32.cpp). The string tables hold only the
texts the program's sources have, to keep it small.
Usage: po-to-rc.py <valdrixconfig.rc.in> <out.rc> <out.inc> <po dir> <lang;lang...> <source>..."""
import os
import re
import sys

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import po_catalogue  # noqa: E402

# Primary languages of winnt.h; SUBLANG_NEUTRAL so that every variant (de-AT, fr-CA, nl-BE) takes it.
LANGUAGES = {"de": "LANG_GERMAN", "nl": "LANG_DUTCH", "fr": "LANG_FRENCH"}
FIRST_ID = 1

template, out_rc, out_inc, po_dir, languages, *sources = sys.argv[1:]
languages = languages.split(";")
code = "".join(open(source, encoding="utf-8").read() for source in sources)
lines = open(template, encoding="utf-8").read().splitlines()
start = next(i for i, line in enumerate(lines) if " DIALOGEX " in line)
end = lines.index("END", start)
dialog = lines[start:end + 1]
english = sorted((e["msgid"] for e in po_catalogue.read(os.path.join(po_dir, "valdrix.pot"))
                  if '"' + e["msgid"].replace("\\", "\\\\").replace('"', '\\"') + '"' in code),
                 key=lambda text: text.encode())


def rc_text(text):
    # windres reads the file as UTF-8 (the code_page pragma); quotes are doubled in a resource script.
    return '"' + text.replace('"', '""') + '"'


def c_text(text):
    return '"' + "".join(c if 0x20 <= ord(c) < 0x7F and c not in '"\\' else
                         "".join(f"\\{b:03o}" for b in c.encode()) for c in text) + '"'


rc = ["// Made by scripts/po-to-rc.py from po/*.po and valdrixconfig.rc.in; do not edit.",
      "#pragma code_page(65001)"]
for language in languages:
    texts = {e["msgid"]: e["msgstr"] for e in po_catalogue.read(os.path.join(po_dir, language + ".po"))
             if e["msgstr"] and "fuzzy" not in e["flags"]}
    rc += ["", f"LANGUAGE {LANGUAGES[language]}, SUBLANG_NEUTRAL"]
    for line in dialog:
        if line.lstrip().startswith("CONTROL "):
            line = re.sub(r'"([^"]+)"', lambda m: rc_text(texts.get(m.group(1), m.group(1))), line,
                          count=1)
        rc.append(line)
    rc += ["STRINGTABLE", "BEGIN"]
    rc += [f"  {FIRST_ID + i}, {rc_text(texts.get(text, text))}" for i, text in enumerate(english)]
    rc.append("END")
open(out_rc, "w", encoding="utf-8").write("\n".join(rc) + "\n")
inc = ["// Made by scripts/po-to-rc.py; do not edit. Sorted bytewise, as strcmp compares.",
       f"constexpr unsigned FIRST_STRING_ID = {FIRST_ID};",
       "constexpr const char* ENGLISH_TEXTS[] = {"]
inc += [f"    {c_text(text)}," for text in english]
open(out_inc, "w", encoding="utf-8").write("\n".join(inc + ["};"]) + "\n")
