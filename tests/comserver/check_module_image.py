#!/usr/bin/env python3
"""Checks the built control module's image: its entry point is our DllEntry,
nothing runs before it (no TLS callbacks, no constructor lists, no runtime
start-up code), and it exports exactly the five entry points.

usage: check_module_image.py MODULE.dll NM
"""
import os
import re
import subprocess
import sys

EXPORTS = ["DllCanUnloadNow", "DllGetClassObject", "DllMyRegisterServer", "DllRegisterServer", "DllUnregisterServer"]
RUNTIME_IMPORTS = {"_initterm", "__getmainargs", "_onexit", "__dllonexit", "atexit", "_amsg_exit", "__set_app_type",
                   "_lock", "_unlock", "_cexit", "__p__acmdln", "_initialize_onexit_table", "_execute_onexit_table"}
START_UP = ("DllMainCRTStartup", "_CRT_INIT", "__main", "__do_global_ctors", "_pei386_runtime_relocator",
            "__dyn_tls_init", "_initterm")


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def main(path, nm):
    run = lambda *command: subprocess.run(command, capture_output=True, text=True, check=True).stdout
    headers = run(nm[:-2] + "objdump", "-p", "-h", path)
    field = lambda name: int(re.search(r"^%s\s+([0-9a-fA-F]+)$" % name, headers, re.M).group(1), 16)
    entry, image_base = field("AddressOfEntryPoint"), field("ImageBase")
    wide = "pei-x86-64" in headers
    imports, exports = headers.split("The Import Tables", 1)[-1].split("The Export Tables", 1)
    exported = re.findall(r"^\s*\[\s*\d+\] (\w+)$", exports.split("[Ordinal/Name Pointer] Table", 1)[-1], re.M)
    if sorted(exported) != EXPORTS:
        fail(f"exports {sorted(exported)}")
    # The entry point is DllEntry, by the symbol table; no start-up code is linked in.
    # The symbol table is the image's own or, for a stripped image, that of the
    # debug file its debug link names.
    symbol_file = path
    link = re.search(r"^\s*\d+ \.gnu_debuglink\s+([0-9a-f]+)\s+\S+\s+\S+\s+([0-9a-f]+)", headers, re.M)
    if link:
        with open(path, "rb") as image:
            image.seek(int(link.group(2), 16))
            name = image.read(int(link.group(1), 16)).split(b"\0", 1)[0].decode()
        symbol_file = os.path.join(os.path.dirname(path), name)
        if not os.path.isfile(symbol_file):
            fail(f"the debug link names {symbol_file}, which is not there")
    addresses = {}
    for line in run(nm, symbol_file).splitlines():
        parts = line.split()
        if len(parts) == 3:
            addresses.setdefault(parts[2], int(parts[0], 16))
    entry_name = "DllEntry" if wide else "_DllEntry@12"
    if addresses.get(entry_name) != image_base + entry:
        fail(f"the entry point {entry:#x} is not {entry_name}")
    for symbol in addresses:
        if symbol.lstrip("_") in {name.lstrip("_") for name in START_UP}:
            fail(f"runtime start-up code is linked in: {symbol}")
    if not re.search(r"^Entry 9 0+ 0+ Thread Storage Directory", headers, re.M):
        fail("a TLS directory: callbacks would run before the entry point")
    for name, size in re.findall(r"^\s*\d+ (\S+)\s+([0-9a-f]+) ", headers, re.M):
        if name in (".ctors", ".init_array", ".CRT", ".tls") and int(size, 16):
            fail(f"section {name} would run code before the entry point")
    # Imports: plain functions only, none of a runtime's start-up or exit machinery.
    libraries = {name.lower() for name in re.findall(r"DLL Name: (\S+)", imports)}
    runtimes = sorted(name for name in libraries if name.startswith(("libstdc++", "libgcc", "libwinpthread")))
    if runtimes:
        fail(f"runtime libraries imported: {runtimes}")
    imported = set(re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\S+)$", imports, re.M))
    if imported & RUNTIME_IMPORTS:
        fail(f"runtime start-up imports: {sorted(imported & RUNTIME_IMPORTS)}")
    print(f"{path}: entry point {entry_name}, exports {exported}, no start-up code")


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__.strip().splitlines()[-1])
    main(sys.argv[1], sys.argv[2])
