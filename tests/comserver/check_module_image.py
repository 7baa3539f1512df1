#!/usr/bin/env python3
"""Checks the built control module's image: its entry point is our DllEntry,
nothing runs before it (no TLS callbacks, no constructor lists, no runtime
start-up code), and it exports exactly the five entry points.

usage: check_module_image.py MODULE.dll NM
"""
import os
import struct
import subprocess
import sys

EXPORTS = {"DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllMyRegisterServer", "DllUnregisterServer"}
RUNTIME_IMPORTS = {"_initterm", "__getmainargs", "_onexit", "__dllonexit", "atexit", "_amsg_exit", "__set_app_type",
                   "_lock", "_unlock", "_cexit", "__p__acmdln", "_initialize_onexit_table", "_execute_onexit_table"}
START_UP = ("DllMainCRTStartup", "_CRT_INIT", "__main", "__do_global_ctors", "_pei386_runtime_relocator",
            "__dyn_tls_init", "_initterm")


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def main(path, nm):
    image = open(path, "rb").read()
    pe = struct.unpack_from("<I", image, 0x3C)[0]
    if image[pe:pe + 4] != b"PE\0\0":
        fail("not a PE image")
    sections_count = struct.unpack_from("<H", image, pe + 6)[0]
    optional_size = struct.unpack_from("<H", image, pe + 20)[0]
    optional = pe + 24
    magic = struct.unpack_from("<H", image, optional)[0]
    wide = magic == 0x20B
    entry = struct.unpack_from("<I", image, optional + 16)[0]
    image_base = struct.unpack_from("<Q", image, optional + 24)[0] if wide else struct.unpack_from("<I", image, optional + 28)[0]
    directories = optional + (112 if wide else 96)
    export_rva, _ = struct.unpack_from("<II", image, directories)
    tls_rva, tls_size = struct.unpack_from("<II", image, directories + 9 * 8)
    symbol_table, symbol_count = struct.unpack_from("<II", image, pe + 12)
    strings = symbol_table + 18 * symbol_count
    sections = []
    for i in range(sections_count):
        base = optional + optional_size + 40 * i
        name = image[base:base + 8].rstrip(b"\0").decode()
        if name.startswith("/") and name[1:].isdigit():  # a long name, in the string table
            start = strings + int(name[1:])
            name = image[start:image.index(b"\0", start)].decode()
        virtual_size, virtual_address, raw_size, raw_pointer = struct.unpack_from("<IIII", image, base + 8)
        sections.append((name, virtual_address, max(virtual_size, raw_size), raw_pointer))

    def offset(rva):
        for _, address, size, raw in sections:
            if address <= rva < address + size:
                return rva - address + raw
        fail(f"rva {rva:#x} lies in no section")

    def text(rva):
        start = offset(rva)
        return image[start:image.index(b"\0", start)].decode()

    # Exports: exactly the five names.
    count_names, functions, names = struct.unpack_from("<III", image, offset(export_rva) + 24)
    exported = {text(struct.unpack_from("<I", image, offset(names) + 4 * i)[0]) for i in range(count_names)}
    if exported != EXPORTS:
        fail(f"exports {sorted(exported)}")

    # The entry point is DllEntry, by the symbol table: the image's own, or,
    # for a stripped image, that of the debug file its debug link names.
    symbol_file = path
    for name, _, _, raw in sections:
        if name == ".gnu_debuglink":
            symbol_file = os.path.join(os.path.dirname(path), image[raw:image.index(b"\0", raw)].decode())
            if not os.path.isfile(symbol_file):
                fail(f"the debug link names {symbol_file}, which is not there")
    symbols = subprocess.run([nm, symbol_file], capture_output=True, text=True, check=True).stdout.split("\n")
    addresses = {}
    for line in symbols:
        parts = line.split()
        if len(parts) == 3:
            addresses.setdefault(parts[2], int(parts[0], 16))
    entry_name = "_DllEntry@12" if not wide else "DllEntry"
    if addresses.get(entry_name) != image_base + entry:
        fail(f"the entry point {entry:#x} is not {entry_name}")
    for name in START_UP:
        for symbol in addresses:
            if symbol.lstrip("_") == name.lstrip("_"):
                fail(f"runtime start-up code is linked in: {symbol}")
    if tls_rva or tls_size:
        fail("a TLS directory: callbacks would run before the entry point")
    for name, _, size, _ in sections:
        if name in (".ctors", ".init_array", ".CRT", ".tls") and size:
            fail(f"section {name} would run code before the entry point")
    # Imports: plain functions only, none of a runtime's start-up or exit machinery.
    objdump = nm[:-2] + "objdump"
    listing = subprocess.run([objdump, "-p", path], capture_output=True, text=True, check=True).stdout
    tables = listing.split("The Import Tables", 1)[-1].split("The Export Tables", 1)[0]
    imported = {line.split()[-1] for line in tables.splitlines() if line.strip() and line.split()[0].isalnum()
                and len(line.split()) >= 3 and line.split()[1].isdigit()}
    libraries = {line.split("DLL Name:")[1].strip().lower() for line in tables.splitlines() if "DLL Name:" in line}
    runtimes = {name for name in libraries if name.startswith(("libstdc++", "libgcc", "libwinpthread"))}
    if runtimes:
        fail(f"runtime libraries imported: {sorted(runtimes)}")
    if imported & RUNTIME_IMPORTS:
        fail(f"runtime start-up imports: {sorted(imported & RUNTIME_IMPORTS)}")
    print(f"{path}: entry point {entry_name}, exports {sorted(exported)}, no start-up code")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    main(sys.argv[1], sys.argv[2])
