#!/usr/bin/env python3
"""Checks the structure of the Windows module vendral.dll by reading its PE file.

Usage: check_windows_dll.py DLL --machine i386|amd64 [--source-root DIR]

Asserted: the image kind (PE32 for i386, PE32+ for amd64) and that it is a DLL;
the export list is exactly [mexFunction], by name; the DLLs it imports from are
MATLAB.EXE plus at most KERNEL32.dll and msvcrt.dll; every name imported from
MATLAB.EXE is one of the operations the 5.x host exports (HOST_OPERATIONS
below), and they are exactly those declared in host/host_api.h, which
windows/matlab_host.def lists too; the only resource is the string table block
96-111 in language 1033 with string 100 "MATLAB 5.1 native", string 101
"not inlined" and every other string of the block empty.

Standard library only. Exits non-zero when any check fails.
"""
import argparse
import pathlib
import re
import struct
import sys

MACHINES = {"i386": (0x014C, 0x10B, "PE32"), "amd64": (0x8664, 0x20B, "PE32+")}
IMAGE_FILE_DLL = 0x2000
RT_STRING = 6
LANGUAGE_US_ENGLISH = 1033
STRING_BLOCK = 100 // 16 + 1  # block n holds the strings 16(n-1) .. 16(n-1)+15
EXPECTED_STRINGS = {100: "MATLAB 5.1 native", 101: "not inlined"}
ALLOWED_SYSTEM_DLLS = {"kernel32.dll", "msvcrt.dll"}
HOST = "MATLAB.EXE"
# What the MATLAB 5.x host exports to modules and the module may use. The host
# refuses to load a DLL that imports any name it does not export. Memory comes
# only through mxCalloc, mxRealloc and mxFree: there is no mxMalloc.
HOST_OPERATIONS = {
    "mxGetNumberOfDimensions", "mxGetDimensions", "mxGetPr", "mxGetScalar",
    "mxIsDouble", "mxIsSparse", "mxIsNumeric", "mxIsLogical", "mxIsChar",
    "mxCalloc", "mxRealloc", "mxFree", "mxCreateNumericArray",
    "mexPrintf", "mexErrMsgTxt", "mexWarnMsgTxt", "mexAddFlops",
}


class PeImage:
    """The parts of a PE image the checks read: headers, sections, directories."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe : pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _, _, _, optional_size, self.characteristics) = struct.unpack_from(
            "<HHIIIHH", data, pe + 4
        )
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        directories = optional + (96 if self.magic == 0x10B else 112)
        count = struct.unpack_from("<I", data, directories - 4)[0]
        self.directories = [
            struct.unpack_from("<II", data, directories + 8 * i) for i in range(count)
        ]
        table = optional + optional_size
        self.sections = []
        for i in range(sections):
            name, vsize, vaddr, rsize, rptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vaddr, max(vsize, rsize), rptr))

    def offset(self, rva):
        for _, vaddr, size, rptr in self.sections:
            if vaddr <= rva < vaddr + size:
                return rptr + rva - vaddr
        raise ValueError(f"RVA {rva:#x} lies in no section")

    def directory(self, index):
        rva, size = self.directories[index] if index < len(self.directories) else (0, 0)
        return (rva, size) if rva else (None, 0)

    def u16(self, rva):
        return struct.unpack_from("<H", self.data, self.offset(rva))[0]

    def u32(self, rva):
        return struct.unpack_from("<I", self.data, self.offset(rva))[0]

    def text(self, rva):
        start = self.offset(rva)
        return self.data[start : self.data.index(b"\0", start)].decode("ascii")


def exported_names(image):
    rva, _ = image.directory(0)
    if rva is None:
        return [], 0
    functions = image.u32(rva + 20)
    names = image.u32(rva + 24)
    name_table = image.u32(rva + 32)
    return [image.text(image.u32(name_table + 4 * i)) for i in range(names)], functions


def imports(image):
    """{dll name: [imported names, or '#ordinal']} in the image's order."""
    rva, _ = image.directory(1)
    wide = image.magic == 0x20B
    result = {}
    while rva is not None:
        lookup, _, _, name, first_thunk = struct.unpack_from(
            "<IIIII", image.data, image.offset(rva)
        )
        if name == 0:
            break
        entries = []
        thunk = lookup or first_thunk
        while True:
            if wide:
                value = struct.unpack_from("<Q", image.data, image.offset(thunk))[0]
                by_ordinal = value >> 63
            else:
                value = image.u32(thunk)
                by_ordinal = value >> 31
            if value == 0:
                break
            entries.append(f"#{value & 0xFFFF}" if by_ordinal else image.text((value & 0x7FFFFFFF) + 2))
            thunk += 8 if wide else 4
        result[image.text(name)] = entries
        rva += 20
    return result


def resource_tree(image):
    """[(type, name, language, data rva, data size)] for every resource."""
    root, _ = image.directory(2)
    if root is None:
        return []

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", image.data, image.offset(directory + 12))
        for i in range(named + numbered):
            ident, target = struct.unpack_from("<II", image.data, image.offset(directory + 16 + 8 * i))
            label = f"name@{ident & 0x7FFFFFFF:#x}" if ident & 0x80000000 else ident
            yield label, target & 0x7FFFFFFF, bool(target & 0x80000000)

    leaves = []
    for rtype, type_dir, _ in entries(root):
        for name, name_dir, _ in entries(root + type_dir):
            for language, leaf, is_dir in entries(root + name_dir):
                if is_dir:
                    raise ValueError("resource tree deeper than type/name/language")
                data_rva, size = struct.unpack_from("<II", image.data, image.offset(root + leaf))
                leaves.append((rtype, name, language, data_rva, size))
    return leaves


def string_block(image, data_rva, size):
    """The 16 strings of a string table block, decoded."""
    raw = image.data[image.offset(data_rva) : image.offset(data_rva) + size]
    strings, position = [], 0
    for _ in range(16):
        length = struct.unpack_from("<H", raw, position)[0]
        strings.append(raw[position + 2 : position + 2 + 2 * length].decode("utf-16-le"))
        position += 2 + 2 * length
    return strings


def host_operations(source_root):
    """The mx*/mex* operations that host/host_api.h declares for the 5.x host."""
    header = (source_root / "host" / "host_api.h").read_text()
    own_declarations = header.split("#else", 1)[1].split("#endif", 1)[0]
    names = re.findall(r"\b((?:mx|mex)[A-Z]\w*)\s*\(", own_declarations)
    return sorted(set(names) - {"mexFunction"})


def def_exports(path):
    lines = path.read_text().splitlines()
    start = next(i for i, line in enumerate(lines) if line.strip() == "EXPORTS")
    return sorted(
        line.split(";")[0].strip() for line in lines[start + 1 :] if line.split(";")[0].strip()
    )


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("dll", type=pathlib.Path)
    parser.add_argument("--machine", choices=sorted(MACHINES), required=True)
    parser.add_argument(
        "--source-root", type=pathlib.Path, default=pathlib.Path(__file__).resolve().parent.parent
    )
    options = parser.parse_args()
    machine, magic, kind = MACHINES[options.machine]
    results = []

    def check(condition, what):
        results.append(condition)
        print(f"{'ok  ' if condition else 'FAIL'} {what}")

    image = PeImage(options.dll.read_bytes())
    print(f"{options.dll}: {len(image.data)} bytes")
    check(
        image.magic == magic and image.machine == machine,
        f"{kind} for {options.machine} (magic {image.magic:#x}, machine {image.machine:#06x})",
    )
    check(bool(image.characteristics & IMAGE_FILE_DLL), "image is a DLL")

    names, functions = exported_names(image)
    check(names == ["mexFunction"] and functions == 1, f"exports {names} ({functions} function(s))")

    imported = imports(image)
    dlls = list(imported)
    others = [d for d in dlls if d != HOST and d.lower() not in ALLOWED_SYSTEM_DLLS]
    check(HOST in imported and not others, f"imports from {dlls}")

    declared = host_operations(options.source_root)
    listed = def_exports(options.source_root / "windows" / "matlab_host.def")
    check(listed == declared, f"windows/matlab_host.def lists the {len(declared)} operations of host/host_api.h")
    # Windows compares module names without regard to case.
    from_host = sorted(n for dll, entries in imported.items() if dll.upper() == HOST for n in entries)
    unknown = sorted(set(from_host) - HOST_OPERATIONS)
    check(
        not unknown,
        f"imports from {HOST} only operations of the 5.x host"
        + (f"; not among them: {unknown}" if unknown else ""),
    )
    missing = sorted(set(declared) - set(from_host))
    extra = sorted(set(from_host) - set(declared))
    check(
        from_host == declared,
        f"imports from {HOST} by name: {', '.join(from_host)}"
        + (f"; missing {missing}" if missing else "")
        + (f"; not declared in host/host_api.h {extra}" if extra else ""),
    )

    resources = resource_tree(image)
    layout = [(rtype, name, language) for rtype, name, language, _, _ in resources]
    check(
        layout == [(RT_STRING, STRING_BLOCK, LANGUAGE_US_ENGLISH)],
        f"resources (type, block, language): {layout}",
    )
    if layout == [(RT_STRING, STRING_BLOCK, LANGUAGE_US_ENGLISH)]:
        strings = string_block(image, resources[0][3], resources[0][4])
        first_id = 16 * (STRING_BLOCK - 1)
        for string_id, expected in EXPECTED_STRINGS.items():
            actual = strings[string_id - first_id]
            check(actual == expected, f"string {string_id}: {actual!r}")
        empty = [first_id + i for i, s in enumerate(strings) if first_id + i not in EXPECTED_STRINGS]
        filled = [i for i in empty if strings[i - first_id]]
        check(not filled, f"strings {empty[0]}-{empty[3]} and {empty[4]}-{empty[-1]} empty"
              + (f"; not empty: {filled}" if filled else ""))

    failed = results.count(False)
    print(f"structure: {len(results) - failed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
