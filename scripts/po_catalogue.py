"""Reads a gettext catalogue (.po, .pot): the messages as a list of dicts with msgid, msgstr and
flags, the header (msgid "") left out. Only what the catalogues in po/ use: no plurals, no
context."""
import ast


def read(path):
    entries, entry, field = [], None, None

    def finish():
        if entry is not None and entry["msgid"]:
            entries.append(entry)

    for line in open(path, encoding="utf-8"):
        line = line.strip()
        if line.startswith("#,"):
            finish()
            entry, field = {"msgid": "", "msgstr": "", "flags": line[2:].split(",")}, None
            entry["flags"] = [f.strip() for f in entry["flags"]]
        elif line.startswith("msgid "):
            if entry is None or field is not None:
                finish()
                entry = {"msgid": "", "msgstr": "", "flags": []}
            field = "msgid"
            entry[field] = ast.literal_eval(line[6:])
        elif line.startswith("msgstr "):
            field = "msgstr"
            entry[field] = ast.literal_eval(line[7:])
        elif line.startswith('"') and field:
            entry[field] += ast.literal_eval(line)
        elif not line:
            finish()
            entry, field = None, None
    finish()
    return entries
