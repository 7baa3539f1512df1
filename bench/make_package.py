#!/usr/bin/env python3
"""Grows a Windows program into a benchmark setup package of a given size.

The package is the program's image with bytes 2-3 of its header set to
0x01 0x01 (the loader ignores them; the installer requires them), followed by
fixed pseudo-random bytes up to exactly SIZE_MIB MiB. Data after the image is
never loaded, so the package still runs as the program; signing it afterwards
covers the added bytes too.

usage: make_package.py PROGRAM OUTPUT SIZE_MIB
"""
import random
import sys

MIB = 1024 * 1024
SIGNATURE = b"MZ\x01\x01"
MAX_MIB = 1024


def make_package(program_bytes, size):
    """The package's bytes: the stamped image, grown to size bytes."""
    if program_bytes[:2] != b"MZ":
        raise ValueError("not a Windows program: it does not start with MZ")
    if len(program_bytes) > size:
        raise ValueError(f"the program ({len(program_bytes)} bytes) is larger than the package size ({size})")
    filler = random.Random(7).randbytes(MIB)
    grown = bytearray(SIGNATURE + program_bytes[4:])
    while len(grown) < size:
        grown += filler[: size - len(grown)]
    return bytes(grown)


def main(argv):
    if len(argv) != 4:
        sys.exit(__doc__.strip().splitlines()[-1])
    program, output, size_text = argv[1:]
    try:
        size_mib = int(size_text)
    except ValueError:
        sys.exit(f"SIZE_MIB is a whole number of MiB: {size_text!r}")
    if not 1 <= size_mib <= MAX_MIB:
        sys.exit(f"SIZE_MIB must lie in 1..{MAX_MIB}: {size_mib}")
    with open(program, "rb") as f:
        program_bytes = f.read()
    try:
        package = make_package(program_bytes, size_mib * MIB)
    except ValueError as error:
        sys.exit(f"{program}: {error}")
    with open(output, "wb") as f:
        f.write(package)


if __name__ == "__main__":
    main(sys.argv)
