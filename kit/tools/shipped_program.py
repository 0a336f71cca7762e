#!/usr/bin/env python3
"""Checks a Windows program that ships, read as a PE file: 64-bit; address space layout randomisation
on with high entropy and relocations to make it real; no-execute on; no symbol table (stripped) and
no exports; only Windows system DLLs imported; no test hooks and no path of the build machine or
source file name inside.

  shipped_program.py EXE SOURCE_DIR
Exit code 0 when every check passed, 1 otherwise (each failure printed).
"""
import argparse
import struct
import sys

# The DLLs every Windows has in its system folder, which the launcher may import (lower case).
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "comctl32.dll", "msvcrt.dll",
               "advapi32.dll", "ws2_32.dll", "ole32.dll", "shlwapi.dll", "comdlg32.dll"}
HIGH_ENTROPY_VA, DYNAMIC_BASE, NX_COMPAT = 0x0020, 0x0040, 0x0100
RELOCS_STRIPPED = 0x0001
EXPORT, IMPORT, BASE_RELOCATION = 0, 1, 5
# Names that only test builds hold: the allocation seam and the allocation-site record.
TEST_NAMES = (b"brol_alloc_fail_at", b"brol_alloc_test", b"brol_alloc_sites", b"brol_alloc_seam")


class PeFile:
    """The headers, sections and data directories of a PE32+ file."""

    def __init__(self, data):
        self.data = data
        if data[:2] != b"MZ":
            raise ValueError("no MZ header")
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        if data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        (self.machine, sections, _, self.symbol_table, self.symbols, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        optional = pe + 24
        self.magic = struct.unpack_from("<H", data, optional)[0]
        if self.magic != 0x20B:
            raise ValueError(f"not PE32+ (optional header magic {self.magic:#x})")
        self.dll_characteristics = struct.unpack_from("<H", data, optional + 70)[0]
        count = struct.unpack_from("<I", data, optional + 108)[0]
        self.directories = [struct.unpack_from("<II", data, optional + 112 + 8 * i) for i in range(count)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            name, vsize, vaddr, rsize, raw = struct.unpack_from("<8sIIII", data, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode("ascii", "replace"), vaddr, max(vsize, rsize), raw))

    def directory(self, index):
        return self.directories[index] if index < len(self.directories) else (0, 0)

    def offset(self, rva):
        for _, vaddr, size, raw in self.sections:
            if vaddr <= rva < vaddr + size:
                return raw + rva - vaddr
        raise ValueError(f"address {rva:#x} is in no section")

    def text(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode("ascii")

    def imported_dlls(self):
        rva, size = self.directory(IMPORT)
        names = []
        at = self.offset(rva) if size else 0
        while size:
            lookup, _, _, name, thunks = struct.unpack_from("<IIIII", self.data, at)
            if lookup == 0 and name == 0 and thunks == 0:
                break
            names.append(self.text(name))
            at += 20
        return names


def problems(data, source_dir):
    """Every way in which the program in data falls short of one that ships."""
    found = []
    pe = PeFile(data)
    if pe.machine != 0x8664:
        found.append(f"machine {pe.machine:#x}, not x86-64")
    for flag, name in ((DYNAMIC_BASE, "address space layout randomisation (DYNAMIC_BASE)"),
                       (HIGH_ENTROPY_VA, "high-entropy randomisation (HIGH_ENTROPY_VA)"),
                       (NX_COMPAT, "no-execute (NX_COMPAT)")):
        if not pe.dll_characteristics & flag:
            found.append(f"{name} is off")
    if pe.characteristics & RELOCS_STRIPPED or pe.directory(BASE_RELOCATION)[1] == 0:
        found.append("no base relocations: the program cannot be moved, randomisation has no effect")
    if pe.symbol_table or pe.symbols:
        found.append(f"not stripped: a symbol table of {pe.symbols} entries")
    if pe.directory(EXPORT)[1]:
        found.append("the program exports functions")
    foreign = [n for n in pe.imported_dlls() if n.lower() not in SYSTEM_DLLS]
    if foreign:
        found.append(f"imports DLLs that are not part of Windows: {foreign}")
    if not pe.imported_dlls():
        found.append("no imports found (the import table was not read)")
    for name in TEST_NAMES:
        if name in data:
            found.append(f"holds the test name {name.decode()}")
    paths = [source_dir.encode(), source_dir.replace("/", "\\").encode(), b".cpp\0", b"/brol/", b"\\brol\\",
             b"./brol", b"/home/", b"/work/", b"/build/"]
    for path in paths:
        if path in data:
            found.append(f"holds a build-machine path or source name ({path!r})")
    return found


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("exe", help="the program")
    parser.add_argument("source_dir", help="the source tree, whose paths must not be inside")
    args = parser.parse_args()
    with open(args.exe, "rb") as f:
        data = f.read()
    found = problems(data, args.source_dir)
    for problem in found:
        print(f"FAIL {args.exe}: {problem}")
    if not found:
        print(f"ok {args.exe}: {len(data)} bytes, stripped, randomised (high entropy), no-execute, "
              f"imports only {', '.join(PeFile(data).imported_dlls())}")
    return 1 if found else 0

if __name__ == "__main__":
    sys.exit(main())
