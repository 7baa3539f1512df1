#!/usr/bin/env python3
"""Checks the built control module's image: its entry point is our DllEntry,
nothing runs before it (no TLS callbacks, no constructor lists, no runtime
start-up code or library), and it exports exactly the five entry points.

usage: check_module_image.py MODULE.dll NM
"""
import os
import re
import subprocess
import sys

EXPORTS = ["DllCanUnloadNow", "DllGetClassObject", "DllMyRegisterServer", "DllRegisterServer", "DllUnregisterServer"]
RUNTIME_IMPORTS = {"_initterm", "__getmainargs", "_onexit", "__dllonexit", "atexit", "_amsg_exit", "__set_app_type",
                   "_lock", "_unlock", "_cexit", "__p__acmdln", "_initialize_onexit_table", "_execute_onexit_table"}


def check(path, nm):
    run = lambda *command: subprocess.run(command, capture_output=True, text=True, check=True).stdout
    headers = run(nm[:-2] + "objdump", "-p", "-h", path)
    field = lambda name: int(re.search(r"^%s\s+([0-9a-fA-F]+)$" % name, headers, re.M).group(1), 16)
    imports, exports = headers.split("The Import Tables", 1)[-1].split("The Export Tables", 1)
    exported = re.findall(r"^\s*\[\s*\d+\] (\w+)$", exports.split("[Ordinal/Name Pointer] Table", 1)[-1], re.M)
    yield sorted(exported) == EXPORTS, f"exports {sorted(exported)}"
    # The symbols are the image's own or, stripped, those of the debug file its debug link names.
    link = re.search(r"^\s*\d+ \.gnu_debuglink\s+([0-9a-f]+)\s+\S+\s+\S+\s+([0-9a-f]+)", headers, re.M)
    if link:
        with open(path, "rb") as image:
            image.seek(int(link.group(2), 16))
            path = os.path.join(os.path.dirname(path), image.read(int(link.group(1), 16)).split(b"\0")[0].decode())
    addresses = {}
    for parts in (line.split() for line in run(nm, path).splitlines()):
        if len(parts) == 3:
            addresses.setdefault(parts[2], int(parts[0], 16))
    entry = "DllEntry" if "pei-x86-64" in headers else "_DllEntry@12"
    yield addresses.get(entry) == field("ImageBase") + field("AddressOfEntryPoint"), f"the entry point is not {entry}"
    yield re.search(r"^Entry 9 0+ 0+ Thread Storage Directory", headers, re.M), "a TLS directory"
    for name, size in re.findall(r"^\s*\d+ (\S+)\s+([0-9a-f]+) ", headers, re.M):
        yield name not in (".ctors", ".init_array", ".CRT", ".tls") or not int(size, 16), f"a {name} section"
    libraries = re.findall(r"DLL Name: (\S+)", imports)
    runtimes = [name for name in libraries if name.lower().startswith(("libstdc++", "libgcc", "libwinpthread"))]
    yield not runtimes, f"runtime libraries imported: {runtimes}"
    imported = set(re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\S+)$", imports, re.M)) & RUNTIME_IMPORTS
    yield not imported, f"runtime start-up imports: {sorted(imported)}"


if __name__ == "__main__":
    failures = [message for passed, message in check(*sys.argv[1:3]) if not passed]
    for message in failures:
        print("FAIL:", message)
    sys.exit(1 if failures else 0)
