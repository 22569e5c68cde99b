#!/usr/bin/env python3
"""Checks valdrixconfig.exe without running it: the DLLs it imports, its size, and its resources
(the dialog template control by control, the version information and the manifest).

Usage: check_exe.py <valdrixconfig.exe> [objdump]
"""
import re
import struct
import subprocess
import sys

ALLOWED_DLLS = {"kernel32.dll", "user32.dll", "comctl32.dll", "msvcrt.dll"}
MAX_SIZE = 300 * 1024

RT_DIALOG, RT_VERSION, RT_MANIFEST = 5, 16, 24

WS_CHILD, WS_VISIBLE, WS_DISABLED = 0x40000000, 0x10000000, 0x08000000
WS_BORDER, WS_VSCROLL, WS_TABSTOP = 0x00800000, 0x00200000, 0x00010000
BS_CENTER, CBS_DROPDOWNLIST, ES_NUMBER, SS_SUNKEN = 0x0300, 0x0003, 0x2000, 0x1000
BUTTON, EDIT, STATIC, COMBO = "button", "edit", "static", "combobox"
ORDINAL_CLASSES = {0x80: BUTTON, 0x81: EDIT, 0x82: STATIC, 0x85: COMBO}
COMBO_STYLE = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP
FIELD_STYLE = WS_BORDER | WS_TABSTOP | WS_DISABLED

# Template order: id, class, text, styles beyond WS_CHILD | WS_VISIBLE, x, y, width, height.
CONTROLS = [
    (1, BUTTON, "Apply", BS_CENTER | WS_TABSTOP | WS_DISABLED, 44, 170, 50, 14),
    (2, BUTTON, "Close", BS_CENTER | WS_TABSTOP, 98, 170, 50, 14),
    (101, STATIC, "COM Port", 0, 8, 10, 82, 8),
    (102, STATIC, "Baudrate", 0, 8, 50, 82, 8),
    (103, STATIC, "XpressNet Address", 0, 8, 70, 82, 8),
    (104, STATIC, "Module Base Address", 0, 8, 90, 82, 8),
    (105, STATIC, "16 bit s88 modules", 0, 8, 110, 82, 8),
    (106, STATIC, "8 bit s88 Modules", 0, 8, 130, 82, 10),
    (200, COMBO, "", COMBO_STYLE, 96, 10, 52, 90),
    (201, COMBO, "", COMBO_STYLE | WS_DISABLED, 96, 50, 52, 90),
    (202, COMBO, "", COMBO_STYLE | WS_DISABLED, 96, 70, 52, 90),
    (203, EDIT, "", ES_NUMBER | FIELD_STYLE, 96, 90, 52, 12),
    (205, EDIT, "", ES_NUMBER | FIELD_STYLE, 96, 110, 52, 12),
    (206, EDIT, "", FIELD_STYLE, 96, 130, 52, 12),
    (207, STATIC, "Status: Please select a COM port", SS_SUNKEN, 8, 150, 140, 10),
    (107, STATIC, "Valdrix Version", 0, 8, 30, 82, 8),
    (108, EDIT, "", ES_NUMBER | FIELD_STYLE, 96, 30, 52, 12),
]

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)


def imported_dlls(exe, objdump):
    out = subprocess.run([objdump, "-p", exe], check=True, capture_output=True, text=True).stdout
    return [m.lower() for m in re.findall(r"DLL Name:\s*(\S+)", out)]


class Image:
    """Just enough of a PE file to walk its resource directory."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        check(data[pe:pe + 4] == b"PE\0\0", "not a PE file")
        sections, optional_size = struct.unpack_from("<xxHxxxxxxxxxxxxH", data, pe + 4)
        table = pe + 24 + optional_size
        self.sections = []
        for i in range(sections):
            name, vsize, rva, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0"), rva, max(vsize, rawsize), rawptr))
        rsrc = [s for s in self.sections if s[0] == b".rsrc"]
        check(rsrc, "no .rsrc section")
        self.rsrc = rsrc[0][3] if rsrc else None

    def at_rva(self, rva):
        for _, start, size, rawptr in self.sections:
            if start <= rva < start + size:
                return rawptr + rva - start
        raise ValueError(f"rva {rva:#x} outside the sections")

    def directory(self, offset):
        named, numbered = struct.unpack_from("<12xHH", self.data, self.rsrc + offset)
        entries = {}
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", self.data, self.rsrc + offset + 16 + 8 * i)
            key = name if not name & 0x80000000 else f"name@{name & 0x7FFFFFFF:#x}"
            entries[key] = target
        return entries

    def resource(self, rtype, rid):
        """Bytes of the first language of type/id, or None."""
        if self.rsrc is None:
            return None
        by_type = self.directory(0)
        if rtype not in by_type:
            return None
        by_id = self.directory(by_type[rtype] & 0x7FFFFFFF)
        if rid not in by_id:
            return None
        langs = self.directory(by_id[rid] & 0x7FFFFFFF)
        leaf = next(iter(langs.values()))
        rva, size = struct.unpack_from("<II", self.data, self.rsrc + leaf)
        start = self.at_rva(rva)
        return self.data[start:start + size]


def sz_or_ordinal(data, pos):
    """Reads a template's string-or-ordinal field; returns (value, next position)."""
    first = struct.unpack_from("<H", data, pos)[0]
    if first == 0xFFFF:
        return struct.unpack_from("<H", data, pos + 2)[0], pos + 4
    end = pos
    while struct.unpack_from("<H", data, end)[0] != 0:
        end += 2
    return data[pos:end].decode("utf-16-le"), end + 2


def align4(pos):
    return (pos + 3) & ~3


def check_dialog(data):
    ver, sig, _, exstyle, style, count, x, y, cx, cy = struct.unpack_from("<HHIIIHhhhh", data, 0)
    check((ver, sig) == (1, 0xFFFF), "dialog 1 is not an extended template")
    check(style == 0x90C808C4, f"dialog style {style:#010x}")
    check(exstyle == 0x00000001, f"dialog extended style {exstyle:#x}")
    check((x, y, cx, cy) == (2, 15, 154, 190), f"dialog rect {(x, y, cx, cy)}")
    pos = 26
    menu, pos = sz_or_ordinal(data, pos)
    klass, pos = sz_or_ordinal(data, pos)
    caption, pos = sz_or_ordinal(data, pos)
    check(menu == "" and klass == "", f"dialog menu {menu!r} / class {klass!r}")
    check(caption == "Valdrix Configurator V 1.02", f"caption {caption!r}")
    points, weight, italic, charset = struct.unpack_from("<HHBB", data, pos)
    face, pos = sz_or_ordinal(data, pos + 6)
    check((points, weight, italic, charset, face) == (8, 400, 0, 1, "MS Shell Dlg"),
          f"font {(points, weight, italic, charset, face)}")
    check(count == len(CONTROLS), f"{count} controls, expected {len(CONTROLS)}")
    for expected in CONTROLS[:count]:
        pos = align4(pos)
        _, cexstyle, cstyle, cx_, cy_, cw, ch, cid = struct.unpack_from("<IIIhhhhI", data, pos)
        pos += 24
        cclass, pos = sz_or_ordinal(data, pos)
        ctext, pos = sz_or_ordinal(data, pos)
        extra = struct.unpack_from("<H", data, pos)[0]
        pos += 2 + extra
        cclass = ORDINAL_CLASSES.get(cclass, cclass) if isinstance(cclass, int) else cclass.lower()
        eid, eclass, etext, estyle, ex, ey, ew, eh = expected
        actual = (cid, cclass, ctext, cstyle, cx_, cy_, cw, ch)
        want = (eid, eclass, etext, WS_CHILD | WS_VISIBLE | estyle, ex, ey, ew, eh)
        check(actual == want, f"control {eid}: got {actual}, expected {want}")
        check(cexstyle == 0, f"control {eid}: extended style {cexstyle:#x}")


def check_version(data):
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    check(at >= 0, "version 1 has no fixed part")
    if at < 0:
        return
    fields = struct.unpack_from("<13I", data, at)
    file_ms, file_ls, prod_ms, prod_ls = fields[2:6]
    check((file_ms, file_ls) == (0x00040001, 0), f"file version {file_ms:#x}.{file_ls:#x}")
    check((prod_ms, prod_ls) == (0x00010000, 0x00020000), f"product version {prod_ms:#x}.{prod_ls:#x}")
    check(fields[7] == 0, f"file flags {fields[7]:#x}")
    check(fields[8] == 0x00040004, f"file OS {fields[8]:#x}")
    check(fields[9] == 1, f"file type {fields[9]}")
    text = data.decode("utf-16-le", errors="replace")
    for key, value in [("FileDescription", "Valdrix Configurator"), ("FileVersion", "1.0.2"),
                       ("ProductVersion", "1.0.2"), ("InternalName", "valdrixconfig"),
                       ("OriginalFilename", "valdrixconfig.exe")]:
        check(re.search(key + r"\x00+" + re.escape(value) + r"\x00", text) is not None,
              f"version string {key} is not {value!r}")
    for key in ("040904E4", "CompanyName", "LegalCopyright", "Translation"):
        check(key in text, f"version information lacks {key}")
    check(struct.pack("<HH", 0x0409, 1252) in data, "translation is not 0x0409, 1252")


def check_manifest(data):
    text = data.decode("utf-8", errors="replace")
    dependency = re.search(r'name="Microsoft\.Windows\.Common-Controls"[^>]*', text)
    check(dependency is not None, "manifest lacks the common-controls dependency")
    if dependency:
        for attribute in ('version="6.0.0.0"', 'processorArchitecture="X86"',
                          'publicKeyToken="6595b64144ccf1df"', 'language="*"'):
            check(attribute in dependency.group(0), f"common-controls dependency lacks {attribute}")


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    exe = sys.argv[1]
    objdump = sys.argv[2] if len(sys.argv) > 2 else "i686-w64-mingw32-objdump"
    dlls = imported_dlls(exe, objdump)
    check(dlls, "no imports found")
    for dll in dlls:
        check(dll in ALLOWED_DLLS, f"imports {dll}")
    data = open(exe, "rb").read()
    check(len(data) < MAX_SIZE, f"{len(data)} bytes, limit {MAX_SIZE}")
    image = Image(data)
    for rtype, rid, checker in [(RT_DIALOG, 1, check_dialog), (RT_VERSION, 1, check_version),
                                (RT_MANIFEST, 1, check_manifest)]:
        blob = image.resource(rtype, rid)
        check(blob is not None, f"no resource type {rtype} id {rid}")
        if blob is not None:
            checker(blob)
    for failure in failures:
        print("FAIL:", failure)
    if failures:
        sys.exit(1)
    print(f"ok: imports {', '.join(dlls)}; {len(data)} bytes; dialog, version and manifest")


if __name__ == "__main__":
    main()
