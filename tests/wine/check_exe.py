#!/usr/bin/env python3
"""valdrixconfig.exe without running it: imports, size, manifest, version information, and the
dialog resource against the template it was compiled from (dialog/template.json, the table the
other dialogs are made from): that no resource-compiler default slipped in or a style fell out,
and which edits take digits only.
Usage: check_exe.py <valdrixconfig.exe> <objdump> <version> <largest size in bytes> <template.json>"""
import json
import re
import struct
import subprocess
import sys

ORDINAL_CLASSES = {0x80: "button", 0x81: "edit", 0x82: "static", 0x85: "combobox"}
WS_DISABLED, ES_NUMBER = 0x08000000, 0x2000
failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def resources(data):
    """{type: bytes of its resource 1 in English (US), else in its first language}, from the .rsrc
    section."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    count, optional = struct.unpack_from("<6xH12xH", data, pe)
    for i in range(count):
        name, _, rva, _, raw = struct.unpack_from("<8sIIII", data, pe + 24 + optional + 40 * i)
        if name.rstrip(b"\0") == b".rsrc":
            break

    def entries(offset):
        named, numbered = struct.unpack_from("<12xHH", data, raw + offset)
        return dict(struct.unpack_from("<II", data, raw + offset + 16 + 8 * i)
                    for i in range(named + numbered))

    found = {}
    for rtype, by_id in entries(0).items():
        langs = entries(entries(by_id & 0x7FFFFFFF)[1] & 0x7FFFFFFF)
        leaf_rva, size = struct.unpack_from("<II", data, raw + langs.get(0x409, next(iter(langs.values()))))
        found[rtype] = data[raw + leaf_rva - rva:raw + leaf_rva - rva + size]
    return found


def sz_or_ordinal(data, pos):
    if struct.unpack_from("<H", data, pos)[0] == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    end = pos
    while data[end:end + 2] != b"\0\0":
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def check_dialog(data):
    count = struct.unpack_from("<H", data, 16)[0]
    _, pos = sz_or_ordinal(data, 26)  # menu
    _, pos = sz_or_ordinal(data, pos)  # class
    caption, pos = sz_or_ordinal(data, pos)
    check(caption == TEMPLATE["caption"], f"caption {caption!r}")
    _, pos = sz_or_ordinal(data, pos + 6)  # font
    got = []
    for _ in range(count):
        pos = (pos + 3) & ~3
        style, cid = struct.unpack_from("<8xI8xI", data, pos)
        kind, pos = sz_or_ordinal(data, pos + 24)
        kind = ORDINAL_CLASSES.get(kind, kind) if isinstance(kind, int) else kind.lower()
        text, pos = sz_or_ordinal(data, pos)
        pos += 2 + struct.unpack_from("<H", data, pos)[0]
        got.append((cid, kind, text, not style & WS_DISABLED, bool(style & ES_NUMBER)))
    want = [(c["id"], c["class"].lower(), c["text"], not c["Disabled"], c["DigitsOnly"])
            for c in TEMPLATE["controls"]]
    for g, w in zip(got, want):
        check(g == w, f"(id, class, text, enabled, digits only) {g}, expected {w}")
    check(len(got) == len(want), f"{len(got)} controls, expected {len(want)}")
    # The template itself: every dialog takes these from it.
    names = {c["id"]: c["name"] for c in TEMPLATE["controls"]}
    digits = sorted(names.get(g[0]) for g in got if g[4])
    check(digits == ["IDC_BASE_ADDRESS", "IDC_MODULES16", "IDC_VERSION"], f"digits only: {digits}")


def check_version(data):
    fixed = struct.unpack_from("<6I", data, data.find(struct.pack("<I", 0xFEEF04BD)))
    versions = [hex(v) for v in fixed[2:]]
    major, minor, patch = (int(n) for n in version.split("."))
    product = [hex(major << 16 | minor), hex(patch << 16)]
    check(versions == ["0x40001", "0x0"] + product, f"file, product {versions}")
    text = data.decode("utf-16-le", errors="replace")
    for key, value in [("FileDescription", "Valdrix Configurator"), ("FileVersion", version),
                       ("ProductVersion", version), ("InternalName", "valdrixconfig"),
                       ("OriginalFilename", "valdrixconfig.exe")]:
        check(re.search(f"{key}\0+{re.escape(value)}\0", text), f"{key} is not {value!r}")


def check_manifest(data):
    dependency = re.search(rb'name="Microsoft\.Windows\.Common-Controls"[^>]*', data)
    check(dependency and b'version="6.0.0.0"' in dependency.group(0)
          and b'processorArchitecture="X86"' in dependency.group(0),
          "no dependency on common controls 6 for X86")


exe, objdump, version, max_bytes, template = sys.argv[1:6]
TEMPLATE = json.load(open(template))
out = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
dlls = {dll.lower() for dll in re.findall(r"DLL Name:\s*(\S+)", out)}
check(dlls and dlls <= {"kernel32.dll", "user32.dll", "comctl32.dll", "msvcrt.dll"},
      f"imports {sorted(dlls)}")
data = open(exe, "rb").read()
check(len(data) < int(max_bytes), f"{len(data)} bytes")
found = resources(data)
check_dialog(found[5])
check_version(found[16])
check_manifest(found[24])
print("\n".join(f"FAIL: {failure}" for failure in failures) or "ok")
sys.exit(1 if failures else 0)

